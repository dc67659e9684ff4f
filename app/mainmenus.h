#pragma once

class frmMain;
class QAction;
class QMenu;

namespace platform {
class ImageList;
class ToolBar;
} // namespace platform

// The window's toolbar, its drop-down menus and the host list's context menu, built from tables,
// with the keys the list takes while it has the focus.
namespace mainmenus {

// The toolbar's pictures and the list's, in the order their numbers give.
void buildImageLists(platform::ImageList& toolbar, platform::ImageList& list);
void buildToolbar(platform::ToolBar& toolbar, platform::ImageList& pictures);
// The context menu (Insert, Edit, Delete, History, Export) and its keys on the list.
QMenu* buildContextMenu(frmMain& window);
// F5 anywhere in the window; the caller connects it. The toolbar's items show the list's keys.
QAction* addWindowKeys(frmMain& window);
// The items that act on a selected row: enabled while there is one.
void enableRowItems(platform::ToolBar& toolbar, QMenu& context, bool selected);
void enableRowItems(QMenu& context, bool selected);

} // namespace mainmenus
