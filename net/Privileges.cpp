#include "net/Privileges.h"

#include <sys/capability.h>
#include <unistd.h>

#include <cerrno>

#include "net/UniqueCaps.h"

namespace {

bool HasCapability(cap_flag_t set, cap_value_t cap) {
    UniqueCaps caps(cap_get_proc());
    if (!caps)
        return false;
    cap_flag_value_t value = CAP_CLEAR;
    return cap_get_flag(caps.get(), cap, set, &value) == 0 && value == CAP_SET;
}

}  // namespace

Failure RaiseNetRaw() {
    if (HasCapability(CAP_EFFECTIVE, CAP_NET_RAW))
        return {};  // root, or already raised
    if (!HasCapability(CAP_PERMITTED, CAP_NET_RAW))
        return ErrnoFailure(EPERM);
    UniqueCaps caps(cap_get_proc());
    const cap_value_t wanted[] = {CAP_NET_RAW};
    if (caps && cap_set_flag(caps.get(), CAP_EFFECTIVE, 1, wanted, CAP_SET) == 0 && cap_set_proc(caps.get()) == 0)
        return {};
    return ErrnoFailure(errno ? errno : EPERM);
}

Failure DropCapabilities() {
    UniqueCaps caps(cap_init());  // all sets empty
    if (caps && cap_set_proc(caps.get()) == 0)
        return {};
    return ErrnoFailure(errno ? errno : EPERM);
}
