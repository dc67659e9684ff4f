#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include <sys/socket.h>
#include <sys/uio.h>

#include "probe/statuscodes.h"

// The bytes of ICMP echo: requests we send, replies and errors we read. Pure functions
// over buffers, so every rule about what counts as an answer can be tested without a socket.
namespace mdlPing::packet {

inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kMinIpHeaderSize = 20;
inline constexpr std::uint8_t kProtocolIcmp = 1;
inline constexpr std::uint8_t kEchoReply = 0;
inline constexpr std::uint8_t kDestUnreachable = 3;
inline constexpr std::uint8_t kSourceQuench = 4;
inline constexpr std::uint8_t kRedirect = 5;
inline constexpr std::uint8_t kEchoRequest = 8;
inline constexpr std::uint8_t kTimeExceeded = 11;
inline constexpr std::uint8_t kParameterProblem = 12;

inline constexpr std::size_t kIpv6HeaderSize = 40;
inline constexpr std::uint8_t kProtocolIcmpv6 = 58;
inline constexpr std::uint8_t kV6DestUnreachable = 1;
inline constexpr std::uint8_t kV6PacketTooBig = 2;
inline constexpr std::uint8_t kV6TimeExceeded = 3;
inline constexpr std::uint8_t kV6ParameterProblem = 4;
inline constexpr std::uint8_t kV6EchoRequest = 128;
inline constexpr std::uint8_t kV6EchoReply = 129;

// What every request carries after the ICMP header.
inline constexpr std::array<std::uint8_t, 5> kPayload = {'h', 'e', 'l', 'l', 'o'};
inline constexpr std::size_t kRequestSize = kIcmpHeaderSize + kPayload.size();
// The largest payloads asked for: what fits a 1500-byte link unfragmented. IPv6 routers never
// fragment, so an IPv6 request is capped at its own limit.
inline constexpr std::size_t kMaxPayloadV4 = 1500 - kMinIpHeaderSize - kIcmpHeaderSize;
inline constexpr std::size_t kMaxPayloadV6 = 1500 - 40 - kIcmpHeaderSize;
inline constexpr std::size_t kMaxRequestSize = kIcmpHeaderSize + kMaxPayloadV4;

// A request's bytes: the header and a payload that repeats kPayload.
struct EchoRequest
{
    std::array<std::uint8_t, kMaxRequestSize> bytes{};
    std::size_t length = 0;
    const std::uint8_t* data() const { return bytes.data(); }
    std::size_t size() const { return length; }
    std::uint8_t operator[](std::size_t i) const { return bytes[i]; }
};

std::uint16_t internetChecksum(const std::uint8_t* data, std::size_t size);

// An echo request. The kernel fills in the checksum of a datagram socket's requests and
// replaces their identifier, so only a raw socket's request needs withChecksum.
// payloadSize is capped at kMaxPayloadV4.
EchoRequest echoRequest(std::uint16_t identifier, std::uint16_t sequence, bool withChecksum,
                        std::size_t payloadSize = kPayload.size());
// An ICMPv6 echo request. The kernel computes the checksum of every ICMPv6 socket (it
// covers addresses only the kernel knows for sure), so there is none here.
// payloadSize is capped at kMaxPayloadV6.
EchoRequest echoRequestV6(std::uint16_t identifier, std::uint16_t sequence, std::size_t payloadSize = kPayload.size());

// The status for an errno of sendto() (or of a locally queued error).
std::int32_t statusForSendError(int error);
// The status for an ICMP error; none for messages that do not end a probe (redirects).
std::optional<std::int32_t> statusForIcmpError(int type, int code);
// The same for an ICMPv6 error; none for informational messages.
std::optional<std::int32_t> statusForIcmpv6Error(int type, int code);

// An echo reply, or an ICMP error about an echo request, as read from a socket.
struct Packet
{
    enum class Kind
    {
        EchoReply,
        Error,
    };
    Kind kind = Kind::EchoReply;
    std::uint32_t source = 0;     // network order: who sent this packet
    std::uint16_t identifier = 0; // of the reply, or of the quoted request
    std::uint16_t sequence = 0;
    std::uint32_t quotedDestination = 0; // errors: where the quoted request was going
    std::int32_t status = statusCode(Status::Success);
    const std::uint8_t* data = nullptr; // replies: the echoed payload
    std::size_t dataSize = 0;
    // ICMPv6: the addresses in full (source and quotedDestination stay 0).
    std::array<std::uint8_t, 16> source6{};
    std::array<std::uint8_t, 16> quotedDestination6{};
};

// A packet as a raw socket reads it, IP header in front. Empty for anything that cannot be
// an answer to an echo request: other types, bad checksums, malformed or truncated headers,
// errors that quote something other than an echo request.
std::optional<Packet> parseRawPacket(const std::uint8_t* packet, std::size_t size);

// An echo reply as a datagram socket reads it (ICMP header onwards; the source comes
// from recvfrom).
std::optional<Packet> parseDatagramReply(const std::uint8_t* icmp, std::size_t size, std::uint32_t source);

// The identifier and sequence of an echo request quoted in a datagram socket's error
// queue (ICMP header onwards).
struct EchoId
{
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
};
std::optional<EchoId> parseQuotedEcho(const std::uint8_t* icmp, std::size_t size);
// The same for an ICMPv6 echo request.
std::optional<EchoId> parseQuotedEchoV6(const std::uint8_t* icmp, std::size_t size);

// An ICMPv6 message as a raw ICMPv6 socket reads it (no IP header; the kernel checked the
// checksum, the source comes from recvfrom). Empty for anything that cannot be an answer
// to an echo request, as for parseRawPacket; an error must quote an IPv6 header and, after
// any extension headers, our echo request.
std::optional<Packet> parseRawPacketV6(const std::uint8_t* icmp, std::size_t size,
                                       const std::array<std::uint8_t, 16>& source);
// An ICMPv6 echo reply as an ICMPv6 datagram socket reads it.
std::optional<Packet> parseDatagramReplyV6(const std::uint8_t* icmp, std::size_t size,
                                           const std::array<std::uint8_t, 16>& source);

// One read of a datagram with its sender and control messages (receive time stamps, errors):
// the same set-up wherever a raw or datagram socket is read.
template <std::size_t ControlSize> struct Received
{
    Received(void* buffer, std::size_t size) : data{buffer, size}
    {
        header.msg_name = &from;
        header.msg_namelen = sizeof from;
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
    }
    Received(const Received&) = delete;
    Received& operator=(const Received&) = delete;

    sockaddr_storage from{};
    iovec data;
    alignas(cmsghdr) std::uint8_t control[ControlSize];
    msghdr header{};
};

} // namespace mdlPing::packet
