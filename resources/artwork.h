#pragma once

#include "resources/pictures.h"

#include <QIcon>

// The program's pictures, drawn as SVG and compiled into the tivane_resources library.
namespace artwork {

// The picture numbers (images::ToolbarImage, images::ListImage) are shared with the window and
// the sweep; they are named here as well, so artwork::Ping and images::Ping are the same.
using images::ListImage;
using images::ToolbarImage;
using enum images::ListImage;
using enum images::ToolbarImage;

QIcon toolbarIcon(int index); // 1..7, null otherwise
QIcon listIcon(int index);    // 1..14, null otherwise
QIcon windowIcon();           // 16, 32 and 48 px, scalable; 16 px and below use a simpler drawing
QIcon logo();                 // 102 x 102 about-dialog logo
QIcon tick();                 // green tick for 16, 24, 32 and 48 px

// Notification-area pictures for the overall state of the hosts: the window icon with a badge,
// grey with a dash while none is probed, green with a tick while none is down, red with a cross
// while some are.
enum TrayImage
{
    TrayNoneProbed = 1,
    TrayAllUp,
    TraySomeDown,
    TraySomeDegraded, // amber with a mark: some answer poorly, none is down
    TrayImageCount = TraySomeDegraded
};

QIcon trayIcon(int index);        // 1..4, null otherwise; 16, 22, 24, 32 and 48 px, scalable
QString trayBadgePath(int index); // the badge alone; empty for an index out of range
// The tray picture's name in the icon theme, as installed: "tivane-idle", "tivane-up",
// "tivane-down"; empty for an index out of range.
QString trayIconName(int index);

// Resource paths behind the icons, for code that wants to render the SVG itself.
// Empty for an index out of range.
QString toolbarIconPath(int index);
QString listIconPath(int index);

// Registers the compiled-in resources. Every accessor calls it, so calling it directly is only
// needed before reading ":/artwork/..." paths by hand. Safe to call more than once.
void init();

} // namespace artwork
