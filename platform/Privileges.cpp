#include "platform/Privileges.h"

#include <sys/capability.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/UniqueCaps.h"

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
std::atomic<bool> g_dropFailed{false};

}  // namespace

bool HasNetRawPermitted() {
    return geteuid() == 0 || g_netRawDropped.load() || HasCapability(CAP_PERMITTED, CAP_NET_RAW);
}

bool RaiseNetRaw() {
    if (HasCapability(CAP_EFFECTIVE, CAP_NET_RAW))
        return true;  // root, or already raised
    if (!HasCapability(CAP_PERMITTED, CAP_NET_RAW))
        return false;
    int saved = errno;
    UniqueCaps caps(cap_get_proc());
    if (!caps)
        return false;
    const cap_value_t wanted[] = {CAP_NET_RAW};
    bool ok =
        cap_set_flag(caps.get(), CAP_EFFECTIVE, 1, wanted, CAP_SET) == 0 && cap_set_proc(caps.get()) == 0;
    caps.reset();
    if (ok)
        errno = saved;
    return ok;
}

bool DropCapabilities() {
    // errno may carry a socket error the caller still has to report.
    int saved = errno;
    if (HasCapability(CAP_PERMITTED, CAP_NET_RAW))
        g_netRawDropped.store(true);
    UniqueCaps caps(cap_init());  // all sets empty
    bool dropped = caps && cap_set_proc(caps.get()) == 0;
    int error = errno;
    caps.reset();
    if (!dropped) {
        g_dropFailed.store(true);
        errno = error ? error : EPERM;
        return false;
    }
    errno = saved;
    return true;
}

bool CapabilityDropFailed() {
    return g_dropFailed.load();
}
