// The discovery protocol's message parts: the request checksum, reply recognition, the values
// in a reply's extra data.
#include <arpa/inet.h>

#include <cstring>

#include "engine/ScanThread.h"
#include "net/InternetChecksum.h"

namespace {

constexpr std::uint32_t kReplyMarker = 0x00271174;

}  // namespace

unsigned short IcmpChecksum(const void* data, unsigned length) {
    // In the order of the bytes on the wire, as the caller copies it into the message.
    return htons(InternetChecksum(static_cast<const std::uint8_t*>(data), length));
}

std::string ExtractValue(const std::string& text, const std::string& key) {
    std::size_t at = text.find(key);
    if (at == std::string::npos)
        return {};
    std::size_t start = at + key.size();
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
        return {};
    return text.substr(start, end - start);
}

std::size_t ReplyHeaderLength(const std::uint8_t* packet) {
    return (packet[0] & 0x0Fu) * 4u;
}

bool IsDiscoverReply(const std::uint8_t* packet, const ReceivedPacket& info) {
    // A datagram cut to the buffer is not judged by its first part; it is just ignored.
    if (info.truncated || info.length < CScanWorker::kReplyMinimum ||
        info.length > CScanWorker::kReceiveBuffer)
        return false;
    // 0.0.0.0 is nobody's address: such a sender could be neither listed nor asked anything.
    if (info.sourceAddr == 0)
        return false;
    // The ICMP message begins where the header length says: IP options make the header longer,
    // and bytes inside them must not be read as a reply.
    const std::size_t header = ReplyHeaderLength(packet);
    if ((packet[0] >> 4) != 4 || header < 20 || info.length < header + kReplyIcmpMinimum)
        return false;
    if (packet[header] != 9)
        return false;
    std::uint32_t marker;
    std::memcpy(&marker, packet + header + 12, 4);
    return ntohl(marker) == kReplyMarker;
}
