#pragma once

#include <Qt>

namespace platform {

// Mouse events carry the buttons and the modifier keys as small bit sets, the way hosts of our
// widgets read them: buttons 1 left, 2 right, 4 middle; keys 1 shift, 2 ctrl, 4 alt. Buttons and
// keys beyond those have no bit and are left out.
inline short buttonCode(Qt::MouseButtons buttons)
{
    return static_cast<short>((buttons.testFlag(Qt::LeftButton) ? 1 : 0) | (buttons.testFlag(Qt::RightButton) ? 2 : 0) |
                              (buttons.testFlag(Qt::MiddleButton) ? 4 : 0));
}

inline short shiftCode(Qt::KeyboardModifiers modifiers)
{
    return static_cast<short>((modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
                              (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
                              (modifiers.testFlag(Qt::AltModifier) ? 4 : 0));
}

} // namespace platform
