#include "app/mainmenus.h"

#include "app/frmmain.h"
#include "platform/imagelist.h"
#include "platform/reportlist.h"
#include "platform/toolbar.h"
#include "resources/artwork.h"

#include <QAction>
#include <QMenu>
#include <utility>

namespace mainmenus {

namespace {

struct Button
{
    const char* caption;
    const char* key;
    platform::ToolBar::Style style;
    int image;
    const char* description;
    const char* toolTip;
};

// Captions and tips as the users know them, spelling included.
const Button Buttons[] = {
    {"&Ping", "mnuPing", platform::ToolBar::SplitDropDown, 1, "Ping Button", "Once & conitnous ping"},
    {"&Stop", "mnuStop", platform::ToolBar::Plain, 2, "Stop all ping", "Stop all pings"},
    {"", "", platform::ToolBar::Placeholder, 0, "Separator", ""},
    {"&IP List", "mnuIpList", platform::ToolBar::DropDown, 3, "IP list", "IP adress list"},
    {"&View", "mnuView", platform::ToolBar::DropDown, 4, "View", "Vindow view"},
    {"Ale&rt", "sndAlert", platform::ToolBar::Check, 5, "Sound Alert", "Play alert sound"},
    {"&About", "btnAbout", platform::ToolBar::Plain, 6, "About", "About Tivane & Author"},
    {"E&xit", "cmdExit", platform::ToolBar::Plain, 7, "Exit", "Exit Tivane"},
};

struct MenuItem
{
    int button;
    const char* text; // "-" for a separator
    const char* key;
    bool checkable;
};

const MenuItem MenuItems[] = {
    {1, "Ping once", "mnuPingN", false},
    {1, "Ping Continuus", "mnuPingC", false},
    {4, "Add IP", "mnuAddIp", false},
    {4, "Edit", "mnuEdit", false},
    {4, "Remove", "mnuRem", false},
    {4, "-", "", false},
    {4, "Reload", "mnuReload", false},
    {4, "Open List Folder", "mnuOpenList", false},
    {4, "Import\u2026", "mnuImport", false},
    {4, "Export\u2026", "mnuExport", false},
    {5, "Show Girds", "mnuShGrd", true},
    {5, "Always on Top", "mnuAOT", true},
    {5, "Checkboxs", "mnuChBoxs", true},
    {5, "Save window postiton", "mnuSWndPos", true},
    {5, "Hide Unselected", "mnuHUS", true},
    {5, "Ping All at Once", "mnuPAAO", true},
    {5, "Start with the session", "mnuAutoStart", true},
    {5, "Resume Monitoring at Start", "mnuResume", true},
    {5, "Close to Tray", "mnuCloseTray", true},
    {5, "-", "", false},
    {5, "Statistics", "mnuStats", true},
    {5, "Reset Statistics", "mnuResetStats", false},
    {5, "Alerts\u2026", "mnuAlerts", false},
    {5, "Options\u2026", "mnuOptions", false},
};

// The context menu's items that need a selected row.
const char* const RowItems[] = {"mnuEdit", "mnuDelete", "mnuHistory", "mnuExportRow"};

QString text(const char* s)
{
    return *s ? QString::fromUtf8(s) : QString();
}

QAction* addItem(QMenu* menu, const QString& text, const char* name)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

// The row right-clicked or selected, for the handlers that act on it.
void noteRow(frmMain& window, int row)
{
    window.ipN = window.lstPings->text(row);
    window.ipA = window.lstPings->subText(row, 1);
}

} // namespace

void buildImageLists(platform::ImageList& toolbar, platform::ImageList& list)
{
    static const char* const toolbarKeys[] = {"Ping", "Stop", "IP List", "View", "Sound Alert", "About", "Exit"};
    for (int i = 1; i <= 7; ++i)
        toolbar.add(artwork::toolbarIcon(i), QString::fromLatin1(toolbarKeys[i - 1]));
    static const char* const listKeys[] = {"Srv On", "PC On", "Unknown", "Deleted", "Srv Off", "PC Off", "",
                                           "",       "",      "Green",   "Yellow",  "Red",     "Gray",   "Timeout"};
    for (int i = 1; i <= 14; ++i)
        list.add(artwork::listIcon(i), QString::fromLatin1(listKeys[i - 1]));
}

void buildToolbar(platform::ToolBar& toolbar, platform::ImageList& pictures)
{
    toolbar.setImageList(&pictures);
    for (const Button& b : Buttons)
        toolbar.addButton(text(b.caption), text(b.key), b.style, b.image, text(b.description), text(b.toolTip));
    for (const MenuItem& item : MenuItems)
        toolbar.addMenuItem(item.button, text(item.text), text(item.key));
    for (const MenuItem& item : MenuItems) {
        if (item.checkable)
            toolbar.setMenuItemCheckable(QString::fromLatin1(item.key), true);
    }
}

QMenu* buildContextMenu(frmMain& window)
{
    platform::ReportList* list = window.lstPings;
    auto* menu = new QMenu(&window);
    menu->setObjectName(QStringLiteral("mnu"));
    QAction* ins = addItem(menu, QStringLiteral("&Insert"), "mnuIns");
    QObject::connect(ins, &QAction::triggered, &window, &frmMain::mnuIns_Click);
    QAction* edit = addItem(menu, QStringLiteral("&Edit"), "mnuEdit");
    QObject::connect(edit, &QAction::triggered, &window, [&window, list] {
        // From the keyboard there was no right click to note the row.
        if (const int row = list->selectedIndex(); row > 0)
            noteRow(window, row);
        window.mnuEdit_Click();
    });
    menu->addSeparator()->setObjectName(QStringLiteral("spacer"));
    QAction* del = addItem(menu, QStringLiteral("&Delete"), "mnuDelete");
    QObject::connect(del, &QAction::triggered, &window, &frmMain::mnuDelete_Click);
    menu->addSeparator();
    QAction* history = addItem(menu, QStringLiteral("&History"), "mnuHistory");
    QObject::connect(history, &QAction::triggered, &window,
                     [&window, list] { window.showHistory(list->selectedIndex()); });
    QAction* exportRow = addItem(menu, QStringLiteral("E&xport\u2026"), "mnuExportRow");
    QObject::connect(exportRow, &QAction::triggered, &window,
                     [&window] { window.runGuarded([&window] { window.exportRows(true); }); });
    menu->setAccessibleName(QStringLiteral("Host"));

    // The list's commands from the keyboard while it has the focus; the menus show the keys.
    ins->setShortcut(QKeySequence(Qt::Key_Insert));
    edit->setShortcuts({QKeySequence(Qt::Key_F2), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    del->setShortcut(QKeySequence(Qt::Key_Delete));
    auto* context = new QAction(QStringLiteral("Menu"), list);
    context->setObjectName(QStringLiteral("mnuContextKey"));
    context->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)});
    QObject::connect(context, &QAction::triggered, &window, [&window, list, menu] {
        const int row = list->selectedIndex();
        QPoint at(0, 0);
        if (row > 0) {
            noteRow(window, row);
            list->ensureVisible(row);
            at = list->visualRect(list->items()->index(row - 1, 0)).bottomLeft();
        }
        window.syncListItems();
        menu->exec(list->viewport()->mapToGlobal(at));
    });
    for (QAction* a : {ins, edit, del, context}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        list->addAction(a);
    }
    return menu;
}

QAction* addWindowKeys(frmMain& window)
{
    auto* reload = new QAction(QStringLiteral("Reload"), &window);
    reload->setObjectName(QStringLiteral("mnuReloadKey"));
    reload->setShortcut(QKeySequence(Qt::Key_F5));
    reload->setShortcutContext(Qt::WindowShortcut);
    window.addAction(reload);
    // Shown beside the toolbar's items too; there the keys only label them, the actions on the
    // list and the window take them.
    const std::pair<const char*, QKeySequence> shown[] = {{"mnuAddIp", QKeySequence(Qt::Key_Insert)},
                                                          {"mnuEdit", QKeySequence(Qt::Key_F2)},
                                                          {"mnuRem", QKeySequence(Qt::Key_Delete)},
                                                          {"mnuReload", QKeySequence(Qt::Key_F5)}};
    for (const auto& [key, sequence] : shown) {
        if (QAction* item = window.tblTivane->menuItem(QString::fromLatin1(key))) {
            item->setShortcut(sequence);
            item->setShortcutContext(Qt::WidgetShortcut);
        }
    }
    return reload;
}

void enableRowItems(QMenu& context, bool selected)
{
    for (QAction* a : context.actions()) {
        for (const char* name : RowItems) {
            if (a->objectName() == QLatin1String(name))
                a->setEnabled(selected);
        }
    }
}

void enableRowItems(platform::ToolBar& toolbar, QMenu& context, bool selected)
{
    // Edit and Remove act on the selected row; without one they are unavailable.
    toolbar.setMenuItemEnabled(QStringLiteral("mnuEdit"), selected);
    toolbar.setMenuItemEnabled(QStringLiteral("mnuRem"), selected);
    // The same for the context menu, whose items are also the list's keyboard shortcuts.
    enableRowItems(context, selected);
}

} // namespace mainmenus
