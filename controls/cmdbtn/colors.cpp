#include "controls/cmdbtn/colors.h"

#include <iterator>

namespace cmdbtn {

namespace {

struct PaletteSlot
{
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// System colour indices 0..30 in order, each mapped to the palette role that plays the same part.
constexpr PaletteSlot SystemSlots[] = {
    {QPalette::Active, QPalette::Button},            // 0 scroll bar track
    {QPalette::Active, QPalette::Dark},              // 1 desktop
    {QPalette::Active, QPalette::Highlight},         // 2 active title bar
    {QPalette::Inactive, QPalette::Highlight},       // 3 inactive title bar
    {QPalette::Active, QPalette::Window},            // 4 menu background
    {QPalette::Active, QPalette::Base},              // 5 window background
    {QPalette::Active, QPalette::Shadow},            // 6 window frame
    {QPalette::Active, QPalette::WindowText},        // 7 menu text
    {QPalette::Active, QPalette::Text},              // 8 window text
    {QPalette::Active, QPalette::HighlightedText},   // 9 title bar text
    {QPalette::Active, QPalette::Window},            // 10 active border
    {QPalette::Inactive, QPalette::Window},          // 11 inactive border
    {QPalette::Active, QPalette::Mid},               // 12 application workspace
    {QPalette::Active, QPalette::Highlight},         // 13 selection
    {QPalette::Active, QPalette::HighlightedText},   // 14 selected text
    {QPalette::Active, QPalette::Button},            // 15 button face
    {QPalette::Active, QPalette::Dark},              // 16 button shadow
    {QPalette::Disabled, QPalette::Text},            // 17 gray text
    {QPalette::Active, QPalette::ButtonText},        // 18 button text
    {QPalette::Inactive, QPalette::HighlightedText}, // 19 inactive title bar text
    {QPalette::Active, QPalette::Light},             // 20 button highlight
    {QPalette::Active, QPalette::Shadow},            // 21 dark 3D shadow
    {QPalette::Active, QPalette::Midlight},          // 22 light 3D edge
    {QPalette::Active, QPalette::ToolTipText},       // 23 tooltip text
    {QPalette::Active, QPalette::ToolTipBase},       // 24 tooltip background
    {QPalette::Active, QPalette::Button},            // 25 unassigned, treated as a face
    {QPalette::Active, QPalette::Link},              // 26 hot-tracked item
    {QPalette::Active, QPalette::Highlight},         // 27 active title gradient
    {QPalette::Inactive, QPalette::Highlight},       // 28 inactive title gradient
    {QPalette::Active, QPalette::Highlight},         // 29 menu selection
    {QPalette::Active, QPalette::Window},            // 30 menu bar
};

} // namespace

QColor resolveColor(quint32 value, const QPalette& palette)
{
    if (value & SystemColorFlag) {
        const quint32 index = value & ~SystemColorFlag;
        if (index >= std::size(SystemSlots))
            return QColor(Qt::black);
        const PaletteSlot& slot = SystemSlots[index];
        return palette.color(slot.group, slot.role);
    }
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

} // namespace cmdbtn
