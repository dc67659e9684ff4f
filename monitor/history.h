#pragma once

#include <QtGlobal>
#include <cstdint>

namespace monitor {

enum class HostState : std::uint8_t
{
    Unknown,
    Up,
    Down,
    Degraded // up, but losing or slow over the recent probes
};

// What one probe of a host gave, as the history keeps it.
enum class SampleKind : std::uint8_t
{
    Reply,    // answered; rttUs holds the round trip
    TimedOut, // no answer in time
    Failed,   // an error came back (unreachable and the like)
    NotSent,  // no request could be sent at all
};

struct HistoryPoint
{
    qint64 atMs = 0; // when the sweep that took it began, ms since the epoch
    SampleKind kind = SampleKind::Reply;
    qint64 rttUs = -1; // -1 unless kind is Reply
};

struct StateEvent
{
    qint64 atMs = 0; // when the new state began
    HostState state = HostState::Unknown;
    std::int32_t status = 0; // the probe's status that made the change
};

// The kind of outcome a probe's status stands for.
SampleKind sampleKind(std::int32_t status);

} // namespace monitor
