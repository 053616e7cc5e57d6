#include "platform/SystemVersion.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstdlib>

namespace {

bool ReadNumber(const char*& text, unsigned* value) {
    if (*text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long number = std::strtoul(text, &end, 10);
    if (errno != 0 || number > 0xFFFFFFFFul)
        return false;
    *value = static_cast<unsigned>(number);
    text = end;
    return true;
}

}  // namespace

bool ParseKernelRelease(const char* release, unsigned* major, unsigned* minor) {
    if (!release)
        return false;
    unsigned first = 0, second = 0;
    const char* p = release;
    if (!ReadNumber(p, &first) || *p != '.')
        return false;
    ++p;
    if (!ReadNumber(p, &second))
        return false;
    *major = first;
    *minor = second;
    return true;
}

bool GetKernelVersion(unsigned* major, unsigned* minor) {
    struct utsname names {};
    if (uname(&names) != 0)
        return false;
    return ParseKernelRelease(names.release, major, minor);
}
