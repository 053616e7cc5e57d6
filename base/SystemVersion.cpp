#include "base/SystemVersion.h"

#include <sys/utsname.h>

#include "base/DecimalText.h"

namespace {

// Digits only: no blanks or sign before them.
bool ReadNumber(std::string_view& text, unsigned* value) {
    return !text.empty() && text[0] >= '0' && text[0] <= '9' && ReadDecimal(text, *value);
}

}  // namespace

bool ParseKernelRelease(const char* release, unsigned* major, unsigned* minor) {
    std::string_view p(release ? release : "");
    unsigned first = 0, second = 0;
    if (!ReadNumber(p, &first) || !p.starts_with('.'))
        return false;
    p.remove_prefix(1);
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
