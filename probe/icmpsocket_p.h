#pragma once

#include "probe/icmpcore.h"

#include <sys/socket.h>
#include <time.h>

#include <chrono>
#include <cstdint>

// The socket-side helpers the endpoint's files share: sockaddr conversions, identifiers,
// arrival times and the outcomes that need no reply.
namespace mdlPing::detail::sockets {

using Milliseconds = std::chrono::milliseconds;
using Microseconds = std::chrono::microseconds;

// Enough for a sweep's 256 requests in flight to have their replies queued at once.
inline constexpr int kReceiveBuffer = 1 << 20;
// Reads per wake-up, so a flood of foreign ICMP cannot keep a reader in its loop.
inline constexpr int kReadsPerPump = 512;

std::uint16_t random16();
bool isPermissionError(int error);
bool isBrokenSocketError(int error);
socklen_t toSockaddr(const IpAddress& address, sockaddr_storage* storage);
IpAddress fromSockaddr(const sockaddr_storage& storage);
std::uint16_t boundPort(int fd);
std::uint16_t bindIdentifier(int fd, int family);
void fillTimes(ProbeOutcome& outcome, Clock::time_point sent, Clock::time_point at);
ProbeOutcome failedOpen(int error);
ProbeOutcome statusOnly(std::int32_t status);
Clock::time_point arrivalAt(const timespec* stamp);
Clock::time_point arrivalOf(msghdr& message);
IpAddress helperAddress(int family, const std::uint8_t (&bytes)[16], std::uint32_t scope);
// Wakes an owner waiting on its eventfd.
void wake(int fd);

} // namespace mdlPing::detail::sockets
