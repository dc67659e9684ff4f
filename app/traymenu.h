#pragma once

class frmMain;
class QMenu;

// The tray's menu: About, Show and Exit, then Ping, Ping Continuus and Stop, each of these
// enabled while its toolbar button is.
namespace traymenu {

QMenu* build(frmMain& window);

// Ctrl+1 to Ctrl+9 sort the list by that column, a second press the other way round; the
// header's tool tip says so.
void addSortKeys(frmMain& window);

} // namespace traymenu
