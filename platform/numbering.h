#pragma once

#include "probe/statuscodes.h"

#include <cstdint>

// The numbers that several folders must agree on: where each toolbar button sits, which picture
// an image number stands for, and the status a probe ends with. Kept here, below everything
// else, so that the probe, the artwork, the window and the tests read them from one place.

// Toolbar button positions, 1-based in the order the window adds the buttons.
namespace tb {
inline constexpr int Ping = 1;
inline constexpr int Stop = 2;
inline constexpr int Placeholder = 3;
inline constexpr int IpList = 4;
inline constexpr int View = 5;
inline constexpr int SoundAlert = 6;
inline constexpr int About = 7;
inline constexpr int Exit = 8;
} // namespace tb

namespace images {

// Toolbar pictures, 16 x 16. The separator has none, so these run one behind the positions
// from IP List on.
enum ToolbarImage
{
    Ping = 1,
    Stop,
    IpList,
    View,
    SoundAlert,
    About,
    Exit,
    ToolbarImageCount = Exit
};

// Host list pictures, 16 x 16: entry types up and down, marks for the status column and the
// balls for the round-trip column.
enum ListImage
{
    ServerOn = 1,
    PcOn,
    Unknown,
    Deleted,
    ServerOff,
    PcOff,
    Tick,
    Warning,
    Alert,
    GreenBall,
    YellowBall,
    RedBall,
    GrayBall,
    Timeout,
    ListImageCount = Timeout
};

} // namespace images

// The list pictures by what the sweep means with them.
namespace icons {
inline constexpr int Ok = images::Tick;
inline constexpr int Failed = images::Warning;
inline constexpr int Green = images::GreenBall;
inline constexpr int Yellow = images::YellowBall;
inline constexpr int Red = images::RedBall;
inline constexpr int Gray = images::GrayBall;
inline constexpr int Timeout = images::Timeout;
} // namespace icons
