#pragma once
// What oldiscovery-scan does with its scan thread: one scan, a watch, or a locate request.
#include "engine/ScanThread.h"

class IScanMode {
public:
    virtual ~IScanMode() = default;
    // The word the log's first line names it by.
    virtual const char* Name() const = 0;
    // Before the sockets open, what costs no scan when it fails; 0 or the exit status, said.
    virtual int Prepare() = 0;
    // The work, on a scan thread that started; 0 or the exit status.
    virtual int Run(CScanThread& scanner) = 0;
    // After the worker has ended, from the status so far: the program's exit status.
    virtual int Finish(int status, const CScanThread& scanner) = 0;
};
