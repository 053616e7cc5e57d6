#pragma once
// The running kernel's version, the Linux counterpart of the system version query.

// Major and minor number of the running kernel (uname). False when they cannot be read.
bool GetKernelVersion(unsigned* major, unsigned* minor);
// Reads "major.minor" from the front of a kernel release text such as "6.1.0-18-amd64".
bool ParseKernelRelease(const char* release, unsigned* major, unsigned* minor);
