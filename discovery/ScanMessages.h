#pragma once
// Commands to the scan worker (its thread queue) and results to the main window. Equal numbers
// never meet: the commands travel on the worker's thread queue, the results to the window.
#include "platform/Messages.h"

constexpr unsigned SCANCMD_STOP = WM_USER + 1000;    // wParam 0
constexpr unsigned SCANCMD_SCAN = WM_USER + 1001;    // wParam 0
constexpr unsigned SCANCMD_LOCATE = WM_USER + 1002;  // wParam: heap std::string with the IP; the worker deletes it

constexpr unsigned WM_ADD_DEVICE = WM_USER + 1000;   // wParam: heap COrvalink; the receiver deletes it
constexpr unsigned WM_SCAN_DONE = WM_USER + 1001;    // wParam 0; exactly one per scan
