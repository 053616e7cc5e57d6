#include "net/Privileges.h"

#include <sys/capability.h>
#include <unistd.h>

#include <atomic>
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

// The right was granted to this process and has been given up since, as every capability is
// once the sockets exist; the process still counts as one that may scan.
std::atomic<bool> g_netRawDropped{false};
// The errno of the last failed drop; 0 while none failed.
std::atomic<int> g_dropError{0};

}  // namespace

bool HasNetRawPermitted() {
    return geteuid() == 0 || g_netRawDropped.load() || HasCapability(CAP_PERMITTED, CAP_NET_RAW);
}

bool RaiseNetRaw() {
    if (HasCapability(CAP_EFFECTIVE, CAP_NET_RAW))
        return true;  // root, or already raised
    if (!HasCapability(CAP_PERMITTED, CAP_NET_RAW))
        return false;
    UniqueCaps caps(cap_get_proc());
    const cap_value_t wanted[] = {CAP_NET_RAW};
    return caps && cap_set_flag(caps.get(), CAP_EFFECTIVE, 1, wanted, CAP_SET) == 0 &&
           cap_set_proc(caps.get()) == 0;
}

std::error_code DropCapabilities() {
    if (HasCapability(CAP_PERMITTED, CAP_NET_RAW))
        g_netRawDropped.store(true);
    UniqueCaps caps(cap_init());  // all sets empty
    if (caps && cap_set_proc(caps.get()) == 0)
        return {};
    g_dropError.store(errno ? errno : EPERM);
    return CapabilityDropError();
}

std::error_code CapabilityDropError() {
    const int error = g_dropError.load();
    return error ? std::error_code(error, std::generic_category()) : std::error_code();
}
