#pragma once

// Which picture an image number stands for, in the order the artwork loads them into the image
// lists; the lists and the cells that show them agree on these numbers.

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
