#pragma once

namespace platform {

// Window geometry is stored and exchanged in twips; one logical pixel is 15 of them.
inline constexpr int TwipsPerPixel = 15;

inline constexpr int toTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}
inline constexpr int toPixels(double twips)
{
    return static_cast<int>(twips / TwipsPerPixel + (twips >= 0 ? 0.5 : -0.5));
}

} // namespace platform
