#include "base/SystemVersion.h"

#include <sys/utsname.h>

#include "base/DecimalText.h"

namespace {

// Digits only: no blanks or sign before them.
bool ReadNumber(std::string_view& text, unsigned* value) {
    return !text.empty() && text[0] >= '0' && text[0] <= '9' && ReadDecimal(text, *value);
}

}  // namespace

Result<KernelVersion> ParseKernelRelease(const char* release) {
    std::string_view p(release ? release : "");
    const Failure unreadable(Errc::DamagedFile, "kernel release " + std::string(p));
    KernelVersion version;
    if (!ReadNumber(p, &version.major) || !p.starts_with('.'))
        return unreadable;
    p.remove_prefix(1);
    if (!ReadNumber(p, &version.minor))
        return unreadable;
    return version;
}

Result<KernelVersion> GetKernelVersion() {
    struct utsname names {};
    if (uname(&names) != 0)
        return LastErrno();
    return ParseKernelRelease(names.release);
}
