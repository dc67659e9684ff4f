#pragma once

#include "probe/mdlping.h"

#include <QString>

#include <cstdint>

// Internals of the ICMP engine for its tests, the benchmark and the diagnostic tool.
namespace mdlPing::detail {

// Which kind of ICMP socket an endpoint opens. Automatic prefers the unprivileged datagram
// socket; where that is refused it hands a raw socket to a helper process (Helper), so the
// process itself never holds one. Raw keeps the raw socket in the process: only the tests and
// the benchmark compare against it.
enum class SocketKind
{
    Automatic,
    Datagram,
    Raw,
    Helper,
};

// The kind of the process's endpoint; changing it closes the endpoint, and the next probe
// opens one of the new kind. Only while no probe is in flight.
void setSocketKind(SocketKind kind);
SocketKind socketKind();

// The echo identifier on the requests of the process's endpoint: drawn at random for a raw
// socket, the socket's port for a datagram socket; 0 before the endpoint is open.
std::uint16_t rawIdentifier();

// The sequence number the next probe of the process's endpoint will use.
std::uint16_t nextSequence();

} // namespace mdlPing::detail
