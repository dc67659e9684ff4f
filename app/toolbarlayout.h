#pragma once

// Where each toolbar button sits, 1-based in the order the window adds the buttons; its tray
// menu and the commands find the buttons by these.
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
