// Opening the layer's sockets while the right to is there, and handing them to the worker.
#include "platform/LinuxSocketLayer.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "log/Log.h"
#include "platform/Privileges.h"

namespace {

// Sockets opened by PrepareRawSockets, waiting for the worker's OpenRawIcmp.
struct PreparedSockets {
    std::mutex mutex;
    bool prepared = false;
    UniqueFd icmp;
    std::error_code icmpError;
    UniqueFd link;
    bool icmpOpened = false;  // stays true after the socket has been taken
};

PreparedSockets& Prepared() {
    static auto* prepared = new PreparedSockets;  // never destroyed: a late worker may still ask
    return *prepared;
}

// The kernel may grant less than asked (net.core.rmem_max without CAP_NET_ADMIN); a burst of
// replies then overflows sooner, which is worth a line. An Info line: with only cap_net_raw, as
// installed, this is the usual case, and a Warning would leave a debug.log behind every start.
// The kernel reports twice the usable size.
void CheckReceiveBuffer(int sock) {
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0)
        return;
    if (granted / 2 < CLinuxSocketLayer::kReceiveBuffer)
        LogWrite(LOG_INFO, "Receive buffer of the raw socket is %d bytes, %d asked for", granted / 2,
                 CLinuxSocketLayer::kReceiveBuffer);
}

}  // namespace

std::shared_ptr<ISocketLayer> CreateSystemSocketLayer() {
    return std::make_shared<CLinuxSocketLayer>();
}

bool PrepareRawSockets() {
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    if (prepared.prepared)
        return !CapabilityDropFailed();
    CLinuxSocketLayer opener;
    std::error_code error;
    prepared.icmp = opener.OpenFresh(error);  // raises, opens both sockets, drops every capability
    prepared.prepared = true;
    prepared.icmpOpened = prepared.icmp.valid();
    prepared.icmpError = error;
    prepared.link = opener.ReleaseLinkSocket();
    if (CapabilityDropFailed()) {
        int dropError = errno;
        errno = dropError ? dropError : EPERM;
        return false;
    }
    return true;
}

bool RawSocketAvailable() {
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    return prepared.prepared ? prepared.icmpOpened : HasNetRawPermitted();
}

UniqueFd CLinuxSocketLayer::ReleaseLinkSocket() {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    return std::move(m_linkSocket);
}

bool CLinuxSocketLayer::TakePreparedSockets(UniqueFd& sock, std::error_code& error) {
    PreparedSockets& prepared = Prepared();
    std::lock_guard<std::mutex> lock(prepared.mutex);
    if (!prepared.prepared || (!prepared.icmp && !prepared.icmpError))
        return false;  // nothing prepared, or already taken: open afresh
    if (!prepared.icmp) {
        // Opening failed while the rights were still there; that is the error to report.
        error = std::exchange(prepared.icmpError, std::error_code());
        return true;
    }
    sock = std::move(prepared.icmp);
    std::lock_guard<std::mutex> linkLock(m_linkMutex);
    if (!m_linkSocket)
        m_linkSocket = std::move(prepared.link);
    prepared.link.reset();
    return true;
}

IcmpSocket CLinuxSocketLayer::OpenRawIcmp() {
    UniqueFd sock;
    std::error_code error;
    if (!TakePreparedSockets(sock, error))
        sock = OpenFresh(error);
    if (!sock)
        throw std::system_error(error, "socket");
    // A process that could not give up its rights does not go on to use them.
    if (CapabilityDropFailed())
        throw std::system_error(std::make_error_code(std::errc::operation_not_permitted), "socket");
    CheckReceiveBuffer(sock.get());
    return IcmpSocket(std::move(sock));
}

UniqueFd CLinuxSocketLayer::OpenFresh(std::error_code& error) {
    RaiseNetRaw();  // when it cannot be raised, socket() below reports EPERM
    UniqueFd sock(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!sock) {
        error.assign(errno, std::generic_category());
        DropCapabilities();
        return sock;
    }
    // The default queue holds only a few hundred small packets; a burst of replies needs more.
    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN, so fall back.
    int size = kReceiveBuffer;
    if (::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(sock.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    int on = 1;
    ::setsockopt(sock.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);

    // ARP probes and whole frames need a packet socket, which only the privilege we are about to
    // drop allows.
    {
        std::lock_guard<std::mutex> lock(m_linkMutex);
        if (!m_linkSocket)
            m_linkSocket = OpenArpAnswerSocket(size);
    }
    DropCapabilities();
    return sock;
}

void CLinuxSocketLayer::EnableBroadcast(const IcmpSocket& sock) {
    int on = 1;
    if (::setsockopt(sock.Descriptor(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        throw std::system_error(errno, std::generic_category(), "setsockopt");
}

std::chrono::steady_clock::time_point CLinuxSocketLayer::Now() {
    return std::chrono::steady_clock::now();
}
