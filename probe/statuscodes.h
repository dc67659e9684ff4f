#pragma once

#include <cstdint>

// How a probe ended. The numbers are shown in the list, the outage log and tivane-probe's
// output, where people and scripts match them, so they never change.
enum class Status : std::int32_t
{
    NotSent = -1, // the request never left: no address, no rights, no socket
    Success = 0,
    BufferTooSmall = 11001,
    NetUnreachable = 11002,
    HostUnreachable = 11003,
    ProtocolUnreachable = 11004,
    PortUnreachable = 11005,
    NoResources = 11006,
    BadOption = 11007,
    HardwareError = 11008,
    PacketTooBig = 11009,
    TimedOut = 11010,
    BadRequest = 11011,
    BadRoute = 11012,
    TtlExpiredTransit = 11013,
    TtlExpiredReassembly = 11014,
    ParameterProblem = 11015,
    SourceQuench = 11016,
    OptionTooBig = 11017,
    BadDestination = 11018,
    NegotiatingIpsec = 11032,
    GeneralFailure = 11050,
};

// The number a status is carried as between threads, in rows and on disk.
constexpr std::int32_t statusCode(Status status)
{
    return static_cast<std::int32_t>(status);
}
