#pragma once

#include <QRect>
#include <cmath>

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

// A rectangle laid out in twips, in pixels.
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

// Stored control extents are in HIMETRIC units (0.01 mm): 2540 to the inch against 1440 twips.
inline int toHimetric(double twips)
{
    return static_cast<int>(std::lround(twips * 2540.0 / 1440.0));
}
inline double himetricToTwips(double himetric)
{
    return himetric * 1440.0 / 2540.0;
}

} // namespace platform
