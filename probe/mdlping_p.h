#pragma once

#include <cstdint>

// Internals of the ICMP engine for its tests, the benchmark and the diagnostic tool.
namespace mdlPing::detail {

// Which kind of ICMP socket a probe opens. Automatic prefers the unprivileged datagram
// socket and falls back to a raw socket when the datagram socket is refused.
enum class SocketKind
{
    Automatic,
    Datagram,
    Raw,
};

void setSocketKind(SocketKind kind);
SocketKind socketKind();

// The echo identifier this process puts on requests sent through a raw socket.
std::uint16_t rawIdentifier();

// The sequence number the next probe of this process will use.
std::uint16_t nextSequence();

} // namespace mdlPing::detail
