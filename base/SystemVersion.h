#pragma once
// The running kernel's version, the Linux counterpart of the system version query.
#include "base/Error.h"

struct KernelVersion {
    unsigned major = 0;
    unsigned minor = 0;
};

// Major and minor number of the running kernel (uname); the errno when uname fails, DamagedFile
// when its release text does not start with them.
Result<KernelVersion> GetKernelVersion();
// Reads "major.minor" from the front of a kernel release text such as "6.1.0-18-amd64"; DamagedFile
// with the text as subject when it does not start so.
Result<KernelVersion> ParseKernelRelease(const char* release);
