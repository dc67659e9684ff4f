#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// The raw ICMP socket in a process of its own. Where only a raw socket can probe, the socket
// itself is the privilege: whatever code runs in the process that holds it (a Qt plugin named
// by the environment, say) could forge packets with it or read the host's ICMP traffic. So
// the socket lives in a small helper, forked before Qt starts, that keeps nothing else, gives
// up every right it can and serves one request: send an echo request of its own making. It
// hands back only what answers one of its requests. No Qt here: the helper runs this code alone.
namespace mdlPing::helper {

// What the parent asks for. Every field is checked; a request of any other size, kind or
// content is refused.
struct Request
{
    enum Kind : std::uint8_t
    {
        EchoV4 = 1,
        EchoV6 = 2,
    };
    std::uint8_t kind = 0;
    std::uint8_t reserved = 0; // 0
    std::uint16_t sequence = 0;
    std::uint16_t payloadSize = 0; // the request's payload: 0..1472 bytes (IPv6: 0..1452)
    std::uint16_t reserved2 = 0;   // 0
    std::uint32_t scope = 0;       // IPv6 link-local: the interface; IPv4: 0
    std::uint8_t address[16] = {}; // IPv4: the first four bytes, network order, the rest 0
};
static_assert(sizeof(Request) == 28);

// What the helper sends back; packet bytes follow a Packet reply.
struct Reply
{
    enum Kind : std::uint8_t
    {
        Sent = 1,       // the request of `sequence` went out (error 0) or the send failed (errno)
        Refused = 2,    // the request was not valid; sequence 0 when it could not be read
        Packet = 3,     // an echo reply or ICMP error answering one of our requests
        LocalError = 4, // the host itself refused a request to `address` after sending (errno)
    };
    std::uint8_t kind = 0;
    std::uint8_t reserved = 0;
    std::uint16_t sequence = 0;
    std::int32_t error = 0;
    // When the packet or error reached the host, CLOCK_REALTIME as the kernel stamps it.
    std::int64_t stampSeconds = 0;
    std::int64_t stampNanoseconds = 0;
    std::uint32_t scope = 0;
    std::uint8_t address[16] = {}; // Packet: its sender; LocalError: the request's destination
    std::uint16_t size = 0;        // Packet: the bytes that follow
    std::uint16_t reserved2 = 0;
};
inline constexpr std::size_t kMaxMessage = 4096;
inline constexpr std::size_t kMaxPacket = kMaxMessage - sizeof(Reply);
// A reply to our largest request, with the longest IPv4 header, fits whole.
static_assert(kMaxPacket >= 60 + 8 + 1472);

struct Handle
{
    pid_t pid = -1;
    int channel = -1; // the parent's end: SOCK_SEQPACKET, non-blocking, close-on-exec
};

// Hands the raw ICMP socket rawFd (of family AF_INET or AF_INET6) to a new helper that
// sends with this identifier. rawFd is closed here either way. pid -1 with errno set when no
// helper could be started.
Handle start(int family, int rawFd, std::uint16_t identifier);
// Ends the helper and reaps it.
void stop(Handle& handle);

// Both a raw socket of the process and the helper's: only echo replies with our identifier
// and the ICMP errors that can concern a request get queued. lock: and no later change.
void installRawFilters(int fd, int family, std::uint16_t identifier, bool lock);

// Sends one request, past the pending errors that ICMP errors about earlier requests leave on
// the socket; 0 or the errno of the send.
int sendPast(int fd, const void* data, std::size_t size, const void* to, unsigned toLength);

} // namespace mdlPing::helper
