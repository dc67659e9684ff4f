#include "probe/icmppacket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace mdlPing::packet {

namespace {

std::uint16_t read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void write16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

std::uint32_t readAddress(const std::uint8_t* p)
{
    std::uint32_t networkOrder;
    std::memcpy(&networkOrder, p, sizeof networkOrder);
    return networkOrder;
}

// The length of a well-formed IPv4 header carrying ICMP at the start of size bytes; 0 if
// there is none.
std::size_t icmpIpHeaderSize(const std::uint8_t* packet, std::size_t size)
{
    if (size < kMinIpHeaderSize || (packet[0] >> 4) != 4)
        return 0;
    const std::size_t headerSize = (packet[0] & 0x0f) * 4u;
    if (headerSize < kMinIpHeaderSize || size < headerSize || packet[9] != kProtocolIcmp)
        return 0;
    return headerSize;
}

} // namespace

std::uint16_t internetChecksum(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += read16(data + i);
    if (size % 2)
        sum += static_cast<std::uint32_t>(data[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

EchoRequest echoRequest(std::uint16_t identifier, std::uint16_t sequence, bool withChecksum, std::size_t payloadSize)
{
    payloadSize = std::min(payloadSize, kMaxPayloadV4);
    EchoRequest request;
    request.length = kIcmpHeaderSize + payloadSize;
    std::uint8_t* p = request.bytes.data();
    p[0] = kEchoRequest;
    write16(p + 4, identifier);
    write16(p + 6, sequence);
    for (std::size_t i = 0; i < payloadSize; ++i)
        p[kIcmpHeaderSize + i] = kPayload[i % kPayload.size()];
    if (withChecksum)
        write16(p + 2, internetChecksum(p, request.length));
    return request;
}

EchoRequest echoRequestV6(std::uint16_t identifier, std::uint16_t sequence, std::size_t payloadSize)
{
    EchoRequest request = echoRequest(identifier, sequence, false, std::min(payloadSize, kMaxPayloadV6));
    request.bytes[0] = kV6EchoRequest;
    return request;
}

std::int32_t statusForSendError(int error)
{
    switch (error) {
    case ENETUNREACH:
        return statusCode(Status::NetUnreachable);
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENONET:
        return statusCode(Status::HostUnreachable);
    case ENOBUFS:
    case ENOMEM:
    case EAGAIN:
        return statusCode(Status::NoResources);
    case EMSGSIZE:
        return statusCode(Status::PacketTooBig);
    case EACCES:
        // A broadcast address, or a route of type prohibit.
        return statusCode(Status::BadDestination);
    default:
        return statusCode(Status::GeneralFailure);
    }
}

std::optional<std::int32_t> statusForIcmpError(int type, int code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:
        case 6:
        case 9:
        case 11:
            return statusCode(Status::NetUnreachable);
        case 2:
            return statusCode(Status::ProtocolUnreachable);
        case 3:
            return statusCode(Status::PortUnreachable);
        case 4:
            return statusCode(Status::PacketTooBig);
        case 5:
            return statusCode(Status::BadRoute);
        default:
            // Codes 1, 7, 8, 10 and 12..15, and codes no router should send: whatever
            // the reason, the host cannot be reached.
            return statusCode(Status::HostUnreachable);
        }
    case kTimeExceeded:
        return code == 1 ? statusCode(Status::TtlExpiredReassembly) : statusCode(Status::TtlExpiredTransit);
    case kParameterProblem:
        return statusCode(Status::ParameterProblem);
    case kSourceQuench:
        return statusCode(Status::SourceQuench);
    default:
        // Redirects only tell us about a better gateway; the reply may still come.
        return std::nullopt;
    }
}

std::optional<std::int32_t> statusForIcmpv6Error(int type, int code)
{
    switch (type) {
    case kV6DestUnreachable:
        switch (code) {
        case 0:
            return statusCode(Status::NetUnreachable);
        case 4:
            return statusCode(Status::PortUnreachable);
        default:
            // Prohibited, beyond scope, address unreachable, policy, reject route, and
            // codes still to be assigned: the host cannot be reached.
            return statusCode(Status::HostUnreachable);
        }
    case kV6PacketTooBig:
        return statusCode(Status::PacketTooBig);
    case kV6TimeExceeded:
        return code == 1 ? statusCode(Status::TtlExpiredReassembly) : statusCode(Status::TtlExpiredTransit);
    case kV6ParameterProblem:
        return statusCode(Status::ParameterProblem);
    default:
        // Types 128 and up are informational (echo, neighbour discovery, redirects).
        return std::nullopt;
    }
}

std::optional<Packet> parseRawPacket(const std::uint8_t* packet, std::size_t size)
{
    const std::size_t ipHeaderSize = icmpIpHeaderSize(packet, size);
    if (ipHeaderSize == 0 || size < ipHeaderSize + kIcmpHeaderSize)
        return std::nullopt;
    const std::uint8_t* icmp = packet + ipHeaderSize;
    const std::size_t icmpSize = size - ipHeaderSize;
    if (internetChecksum(icmp, icmpSize) != 0)
        return std::nullopt;

    Packet parsed;
    parsed.source = readAddress(packet + 12);
    if (icmp[0] == kEchoReply) {
        parsed.kind = Packet::Kind::EchoReply;
        parsed.identifier = read16(icmp + 4);
        parsed.sequence = read16(icmp + 6);
        parsed.data = icmp + kIcmpHeaderSize;
        parsed.dataSize = icmpSize - kIcmpHeaderSize;
        return parsed;
    }

    const std::optional<std::int32_t> status = statusForIcmpError(icmp[0], icmp[1]);
    if (!status)
        return std::nullopt;
    // The error quotes the request: its IP header (options included) and at least the
    // first eight bytes of the echo request.
    const std::uint8_t* inner = icmp + kIcmpHeaderSize;
    const std::size_t innerSize = icmpSize - kIcmpHeaderSize;
    const std::size_t innerHeaderSize = icmpIpHeaderSize(inner, innerSize);
    if (innerHeaderSize == 0)
        return std::nullopt;
    const std::optional<EchoId> quoted = parseQuotedEcho(inner + innerHeaderSize, innerSize - innerHeaderSize);
    if (!quoted)
        return std::nullopt;
    parsed.kind = Packet::Kind::Error;
    parsed.identifier = quoted->identifier;
    parsed.sequence = quoted->sequence;
    parsed.quotedDestination = readAddress(inner + 16);
    parsed.status = *status;
    return parsed;
}

std::optional<Packet> parseDatagramReply(const std::uint8_t* icmp, std::size_t size, std::uint32_t source)
{
    if (size < kIcmpHeaderSize || icmp[0] != kEchoReply)
        return std::nullopt;
    Packet parsed;
    parsed.kind = Packet::Kind::EchoReply;
    parsed.source = source;
    parsed.identifier = read16(icmp + 4);
    parsed.sequence = read16(icmp + 6);
    parsed.data = icmp + kIcmpHeaderSize;
    parsed.dataSize = size - kIcmpHeaderSize;
    return parsed;
}

std::optional<EchoId> parseQuotedEcho(const std::uint8_t* icmp, std::size_t size)
{
    if (size < kIcmpHeaderSize || icmp[0] != kEchoRequest)
        return std::nullopt;
    return EchoId{read16(icmp + 4), read16(icmp + 6)};
}

std::optional<EchoId> parseQuotedEchoV6(const std::uint8_t* icmp, std::size_t size)
{
    if (size < kIcmpHeaderSize || icmp[0] != kV6EchoRequest)
        return std::nullopt;
    return EchoId{read16(icmp + 4), read16(icmp + 6)};
}

namespace {

// Where the ICMPv6 header of a quoted IPv6 packet starts, after the extension headers a
// request of ours may carry on its way; 0 if there is none or it is cut off.
std::size_t quotedIcmpv6Offset(const std::uint8_t* packet, std::size_t size)
{
    if (size < kIpv6HeaderSize || (packet[0] >> 4) != 6)
        return 0;
    std::uint8_t next = packet[6];
    std::size_t offset = kIpv6HeaderSize;
    // Bounded: each header takes at least eight bytes of a packet of at most a few kB.
    for (int headers = 0; headers < 8; ++headers) {
        // A header's length is the sender's claim: past the end there is nothing to read.
        if (offset > size)
            return 0;
        if (next == kProtocolIcmpv6)
            return offset;
        // Hop-by-hop, routing and destination options share one layout; a fragment
        // header is eight bytes, and only the first fragment holds the ICMPv6 header.
        const bool options = next == 0 || next == 43 || next == 60;
        const bool fragment = next == 44;
        if ((!options && !fragment) || size < offset + 8)
            return 0;
        if (fragment && (read16(packet + offset + 2) & 0xfff8) != 0)
            return 0;
        const std::size_t length = fragment ? 8 : (static_cast<std::size_t>(packet[offset + 1]) + 1) * 8;
        next = packet[offset];
        offset += length;
    }
    return 0;
}

std::array<std::uint8_t, 16> readAddress6(const std::uint8_t* p)
{
    std::array<std::uint8_t, 16> address;
    std::memcpy(address.data(), p, address.size());
    return address;
}

} // namespace

std::optional<Packet> parseRawPacketV6(const std::uint8_t* icmp, std::size_t size,
                                       const std::array<std::uint8_t, 16>& source)
{
    if (size < kIcmpHeaderSize)
        return std::nullopt;
    if (icmp[0] == kV6EchoReply)
        return parseDatagramReplyV6(icmp, size, source);
    const std::optional<std::int32_t> status = statusForIcmpv6Error(icmp[0], icmp[1]);
    if (!status)
        return std::nullopt;
    const std::uint8_t* inner = icmp + kIcmpHeaderSize;
    const std::size_t innerSize = size - kIcmpHeaderSize;
    const std::size_t offset = quotedIcmpv6Offset(inner, innerSize);
    if (offset == 0)
        return std::nullopt;
    const std::optional<EchoId> quoted = parseQuotedEchoV6(inner + offset, innerSize - offset);
    if (!quoted)
        return std::nullopt;
    Packet parsed;
    parsed.kind = Packet::Kind::Error;
    parsed.source6 = source;
    parsed.identifier = quoted->identifier;
    parsed.sequence = quoted->sequence;
    parsed.quotedDestination6 = readAddress6(inner + 24);
    parsed.status = *status;
    return parsed;
}

std::optional<Packet> parseDatagramReplyV6(const std::uint8_t* icmp, std::size_t size,
                                           const std::array<std::uint8_t, 16>& source)
{
    if (size < kIcmpHeaderSize || icmp[0] != kV6EchoReply)
        return std::nullopt;
    Packet parsed;
    parsed.kind = Packet::Kind::EchoReply;
    parsed.source6 = source;
    parsed.identifier = read16(icmp + 4);
    parsed.sequence = read16(icmp + 6);
    parsed.data = icmp + kIcmpHeaderSize;
    parsed.dataSize = size - kIcmpHeaderSize;
    return parsed;
}

} // namespace mdlPing::packet
