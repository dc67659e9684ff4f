#pragma once

#include <QColor>
#include <QPalette>
#include <QtGlobal>

namespace cmdbtn {

// Stored colours are either 0x00BBGGRR (red in the lowest byte) or SystemColorFlag plus an index
// into the table of system colours, which follows the widget's palette so themes keep working.
inline constexpr quint32 SystemColorFlag = 0x80000000u;

namespace syscolor {
inline constexpr quint32 MenuText = SystemColorFlag | 7u;
inline constexpr quint32 ButtonFace = SystemColorFlag | 15u;
inline constexpr quint32 ButtonShadow = SystemColorFlag | 16u;
inline constexpr quint32 GrayText = SystemColorFlag | 17u;
inline constexpr quint32 ButtonHighlight = SystemColorFlag | 20u;
} // namespace syscolor

// The colour a stored value stands for under the given palette. A system index the table does not
// know resolves to black, so a bad value shows up on screen instead of passing for a real colour.
QColor resolveColor(quint32 value, const QPalette& palette);

} // namespace cmdbtn
