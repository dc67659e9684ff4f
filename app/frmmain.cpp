#include "app/frmmain.h"

#include "app/autostart.h"
#include "app/historyview.h"
#include "app/hostnotices.h"
#include "app/hostwatch.h"
#include "app/listlocation.h"
#include "app/traymenu.h"
#include "app/windowsettings.h"
#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "platform/messagebox.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/soundplayer.h"
#include "platform/toolbar.h"
#include "platform/twips.h"
#include "probe/csvexport.h"
#include "probe/hostaddress.h"
#include "probe/prober.h"
#include "resources/artwork.h"
#include "resources/examplelist.h"
#include "shell/mdlmore.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

using platform::toPixels;
using platform::toTwips;

namespace {
// Sizes in twips.
constexpr int ClientWidth = 8010;
constexpr int ClientHeight = 8565;
constexpr int MinOuterHeight = 4800;
constexpr int MinOuterWidth = 7850;
constexpr int ListMargin = 60; // between the list and the toolbar above and the progress bar below
constexpr int ProgressHeight = 270;
// How often the window looks whether a notification area came or went.
constexpr int TrayWatchMs = 2000;

const char* const InstanceMessage = "Одна копия программы уже загружена!\r\nПрограмма будет закрыта.";
} // namespace

frmMain::frmMain(const MainServices& services, QWidget* parent)
    : QWidget(parent), tblTivane(new platform::ToolBar(this)), lstPings(new platform::ReportList(this)),
      pBar(new platform::ProgressBar(this)), m_services(services),
      m_listPath(m_services.app.file(QStringLiteral("list.txt"))),
      m_ctx{*lstPings, *tblTivane, *pBar, m_services.messages, m_services.prober, m_services.sound, m_services.app},
      m_sweep(m_ctx), m_commands(m_sweep, m_ctx)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tivane"));
    setWindowIcon(artwork::windowIcon());
    tblTivane->setObjectName(QStringLiteral("tblTivane"));
    lstPings->setObjectName(QStringLiteral("lstPings"));
    pBar->setObjectName(QStringLiteral("pBar"));

    buildImageLists();
    buildToolbar();
    buildList();
    buildMenus();

    pBar->setMin(0);
    pBar->setMax(100);
    pBar->setValue(0);
    pBar->setFixedHeight(toPixels(ProgressHeight));

    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    resize(toPixels(ClientWidth), toPixels(ClientHeight));
    layoutControls();
    setTabOrder(lstPings, tblTivane);

    m_commands.hooks.loadList = [this] { LoadList(); };
    m_commands.hooks.showAbout = [this] { m_services.dialogs.about(this); };
    m_commands.hooks.unload = [this] { mnuExit_Click(); };
    m_commands.hooks.alwaysOnTop = [this] { setAlwaysOnTop(!m_alwaysOnTop); };
    m_commands.hooks.saveWndPos = [this] {
        m_saveWndPos = !m_saveWndPos;
        syncViewChecks();
    };
    m_commands.hooks.hideUnselected = [this] { setHideUnselected(!m_hideUnselected); };
    m_commands.hooks.viewChanged = [this] { syncViewChecks(); };
    m_commands.hooks.addIp = [this] { mnuIns_Click(); };
    m_commands.hooks.editIp = [this] {
        const int row = lstPings->selectedIndex();
        if (row == 0)
            return;
        ipN = lstPings->text(row);
        ipA = lstPings->subText(row, 1);
        mnuEdit_Click();
    };
    m_commands.hooks.removeIp = [this] { mnuDelete_Click(); };
    m_commands.hooks.openListFolder = [this] { openListFolder(); };
    m_commands.hooks.startWithSession = [this] { setStartWithSession(!m_startWithSession); };

    connect(tblTivane, &platform::ToolBar::buttonClicked, this,
            [this](int index) { runGuarded([this, index] { m_commands.tblTivane_ButtonClick(index); }); });
    connect(tblTivane, &platform::ToolBar::buttonMenuClicked, this, [this](const QString& key) {
        runGuarded([this, key] {
            if (key == QLatin1String("mnuImport")) {
                QVector<hostlist::HostLine> existing;
                for (int i = 1; i <= lstPings->count(); ++i)
                    existing.append({lstPings->smallIcon(i), lstPings->text(i), lstPings->subText(i, 1)});
                const auto hosts = m_services.dialogs.importHosts(this, existing);
                if (!hosts || hosts->isEmpty() || m_unloaded)
                    return;
                // One write for all of them; on failure nothing was added and runGuarded says why.
                const QVector<hostlist::EntryKey> keys = m_hostList.appendAll(*hosts);
                QVector<platform::ReportListModel::Row> rows;
                for (int i = 0; i < hosts->size(); ++i) {
                    platform::ReportListModel::Row row;
                    row.key = keys.value(i);
                    row.text = hosts->at(i).name;
                    row.smallIcon = hosts->at(i).type;
                    row.checked = true;
                    row.sub[0] = hosts->at(i).address;
                    rows.append(row);
                }
                lstPings->items()->append(std::move(rows));
                lstPings->ensureVisible(lstPings->count());
                return;
            }
            if (!watchMenuClick(key))
                m_commands.tblTivane_ButtonMenuClick(key);
        });
    });
    connect(lstPings, &platform::ReportList::columnClicked, this, &frmMain::lstPings_ColumnClick);
    connect(lstPings, &platform::ReportList::mouseReleased, this, &frmMain::lstPings_MouseUp);
    connect(lstPings->items(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
                if (m_hideUnselected && roles.contains(Qt::CheckStateRole))
                    applyHideUnselected();
                // Noted at once: a Reload empties the list before it loads it again.
                if (roles.contains(Qt::CheckStateRole) && !m_applyingTicks)
                    rememberTicks();
            });
    connect(lstPings->selectionModel(), &QItemSelectionModel::selectionChanged, this, &frmMain::syncListItems);
    connect(lstPings->items(), &QAbstractItemModel::modelReset, this, &frmMain::syncListItems);
    connect(lstPings, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { showHistory(index.row() + 1); });
    syncListItems();
    buildWatch();
    m_trayWatch = new QTimer(this);
    m_trayWatch->setInterval(TrayWatchMs);
    connect(m_trayWatch, &QTimer::timeout, this, &frmMain::followTray);
}

void frmMain::runGuarded(const std::function<void()>& command)
{
    // An exception must never reach the event loop: Qt would end the program, settings unsaved.
    try {
        command();
    } catch (const hostlist::HostListError& e) {
        m_services.messages.show(e.message(), platform::MsgExclamation, m_services.app.Title);
    } catch (const std::bad_alloc&) {
        m_services.messages.show(QStringLiteral("There is not enough memory to finish the command."),
                                 platform::MsgExclamation, m_services.app.Title);
    } catch (const std::exception& e) {
        m_services.messages.show(QString::fromLocal8Bit(e.what()), platform::MsgExclamation, m_services.app.Title);
    }
}

void frmMain::syncListItems()
{
    // Edit and Remove act on the selected row; without one they are unavailable.
    const bool selected = lstPings->selectedIndex() > 0;
    tblTivane->setMenuItemEnabled(QStringLiteral("mnuEdit"), selected);
    tblTivane->setMenuItemEnabled(QStringLiteral("mnuRem"), selected);
    // The same for the context menu, whose items are also the list's keyboard shortcuts.
    for (QAction* a : mnu->actions()) {
        if (a->objectName() == QLatin1String("mnuEdit") || a->objectName() == QLatin1String("mnuDelete") ||
            a->objectName() == QLatin1String("mnuHistory") || a->objectName() == QLatin1String("mnuExportRow"))
            a->setEnabled(selected);
    }
}

frmMain::~frmMain()
{
    // The pictures are members and go before the widgets; a list still on the screen lays itself
    // out once more while it is hidden on the way down, and must not reach for them then.
    hide();
    lstPings->setImageList(nullptr);
}

void frmMain::buildImageLists()
{
    static const char* const toolbarKeys[] = {"Ping", "Stop", "IP List", "View", "Sound Alert", "About", "Exit"};
    for (int i = 1; i <= 7; ++i)
        mnuImgLst.add(artwork::toolbarIcon(i), QString::fromLatin1(toolbarKeys[i - 1]));
    static const char* const listKeys[] = {"Srv On", "PC On", "Unknown", "Deleted", "Srv Off", "PC Off", "",
                                           "",       "",      "Green",   "Yellow",  "Red",     "Gray",   "Timeout"};
    for (int i = 1; i <= 14; ++i)
        lstPing.add(artwork::listIcon(i), QString::fromLatin1(listKeys[i - 1]));
}

void frmMain::buildToolbar()
{
    using platform::ToolBar;
    tblTivane->setImageList(&mnuImgLst);
    tblTivane->addButton(QStringLiteral("&Ping"), QStringLiteral("mnuPing"), ToolBar::SplitDropDown, 1,
                         QStringLiteral("Ping Button"), QStringLiteral("Once & conitnous ping"));
    tblTivane->addButton(QStringLiteral("&Stop"), QStringLiteral("mnuStop"), ToolBar::Plain, 2,
                         QStringLiteral("Stop all ping"), QStringLiteral("Stop all pings"));
    tblTivane->addButton(QString(), QString(), ToolBar::Placeholder, 0, QStringLiteral("Separator"), QString());
    tblTivane->addButton(QStringLiteral("&IP List"), QStringLiteral("mnuIpList"), ToolBar::DropDown, 3,
                         QStringLiteral("IP list"), QStringLiteral("IP adress list"));
    tblTivane->addButton(QStringLiteral("&View"), QStringLiteral("mnuView"), ToolBar::DropDown, 4,
                         QStringLiteral("View"), QStringLiteral("Vindow view"));
    tblTivane->addButton(QStringLiteral("Ale&rt"), QStringLiteral("sndAlert"), ToolBar::Check, 5,
                         QStringLiteral("Sound Alert"), QStringLiteral("Play alert sound"));
    tblTivane->addButton(QStringLiteral("&About"), QStringLiteral("btnAbout"), ToolBar::Plain, 6,
                         QStringLiteral("About"), QStringLiteral("About Tivane & Author"));
    tblTivane->addButton(QStringLiteral("E&xit"), QStringLiteral("cmdExit"), ToolBar::Plain, 7, QStringLiteral("Exit"),
                         QStringLiteral("Exit Tivane"));

    tblTivane->addMenuItem(1, QStringLiteral("Ping once"), QStringLiteral("mnuPingN"));
    tblTivane->addMenuItem(1, QStringLiteral("Ping Continuus"), QStringLiteral("mnuPingC"));
    tblTivane->addMenuItem(4, QStringLiteral("Add IP"), QStringLiteral("mnuAddIp"));
    tblTivane->addMenuItem(4, QStringLiteral("Edit"), QStringLiteral("mnuEdit"));
    tblTivane->addMenuItem(4, QStringLiteral("Remove"), QStringLiteral("mnuRem"));
    tblTivane->addMenuItem(4, QStringLiteral("-"), QString());
    tblTivane->addMenuItem(4, QStringLiteral("Reload"), QStringLiteral("mnuReload"));
    tblTivane->addMenuItem(4, QStringLiteral("Open List Folder"), QStringLiteral("mnuOpenList"));
    tblTivane->addMenuItem(4, QStringLiteral("Import\u2026"), QStringLiteral("mnuImport"));
    tblTivane->addMenuItem(4, QStringLiteral("Export\u2026"), QStringLiteral("mnuExport"));
    tblTivane->addMenuItem(5, QStringLiteral("Show Girds"), QStringLiteral("mnuShGrd"));
    tblTivane->addMenuItem(5, QStringLiteral("Always on Top"), QStringLiteral("mnuAOT"));
    tblTivane->addMenuItem(5, QStringLiteral("Checkboxs"), QStringLiteral("mnuChBoxs"));
    tblTivane->addMenuItem(5, QStringLiteral("Save window postiton"), QStringLiteral("mnuSWndPos"));
    tblTivane->addMenuItem(5, QStringLiteral("Hide Unselected"), QStringLiteral("mnuHUS"));
    tblTivane->addMenuItem(5, QStringLiteral("Ping All at Once"), QStringLiteral("mnuPAAO"));
    tblTivane->addMenuItem(5, QStringLiteral("Start with the session"), QStringLiteral("mnuAutoStart"));
    tblTivane->addMenuItem(5, QStringLiteral("Resume Monitoring at Start"), QStringLiteral("mnuResume"));
    tblTivane->addMenuItem(5, QStringLiteral("Close to Tray"), QStringLiteral("mnuCloseTray"));
    tblTivane->addMenuItem(5, QStringLiteral("-"), QString());
    tblTivane->addMenuItem(5, QStringLiteral("Statistics"), QStringLiteral("mnuStats"));
    tblTivane->addMenuItem(5, QStringLiteral("Reset Statistics"), QStringLiteral("mnuResetStats"));
    tblTivane->addMenuItem(5, QStringLiteral("Alerts\u2026"), QStringLiteral("mnuAlerts"));
    for (const char* key : {"mnuShGrd", "mnuAOT", "mnuChBoxs", "mnuSWndPos", "mnuHUS", "mnuPAAO", "mnuAutoStart",
                            "mnuResume", "mnuCloseTray", "mnuStats"})
        tblTivane->setMenuItemCheckable(QString::fromLatin1(key), true);
    syncViewChecks();
}

void frmMain::buildList()
{
    lstPings->setImageList(&lstPing);
    lstPings->setColumns(
        {QStringLiteral("Name"), QStringLiteral("IP Adress"), QStringLiteral("Status"), QStringLiteral("Timeout")},
        {toPixels(2000), toPixels(1335), toPixels(3000), toPixels(1000)});
    lstPings->setContextMenuPolicy(Qt::NoContextMenu);
    lstPings->items()->setSortKeyOf(1, hostaddress::sortKey);
    lstPings->items()->setSortAs(3, platform::ReportListModel::SortAs::Number);
}

void frmMain::buildMenus()
{
    mnu = new QMenu(this);
    mnu->setObjectName(QStringLiteral("mnu"));
    QAction* ins = mnu->addAction(QStringLiteral("&Insert"));
    ins->setObjectName(QStringLiteral("mnuIns"));
    connect(ins, &QAction::triggered, this, &frmMain::mnuIns_Click);
    QAction* edit = mnu->addAction(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    connect(edit, &QAction::triggered, this, [this] {
        // From the keyboard there was no right click to note the row.
        if (const int row = lstPings->selectedIndex(); row > 0) {
            ipN = lstPings->text(row);
            ipA = lstPings->subText(row, 1);
        }
        mnuEdit_Click();
    });
    mnu->addSeparator()->setObjectName(QStringLiteral("spacer"));
    QAction* del = mnu->addAction(QStringLiteral("&Delete"));
    del->setObjectName(QStringLiteral("mnuDelete"));
    connect(del, &QAction::triggered, this, &frmMain::mnuDelete_Click);
    mnu->addSeparator();
    QAction* history = mnu->addAction(QStringLiteral("&History"));
    history->setObjectName(QStringLiteral("mnuHistory"));
    connect(history, &QAction::triggered, this, [this] { showHistory(lstPings->selectedIndex()); });
    QAction* exportRow = mnu->addAction(QStringLiteral("E&xport\u2026"));
    exportRow->setObjectName(QStringLiteral("mnuExportRow"));
    connect(exportRow, &QAction::triggered, this, [this] { runGuarded([this] { exportRows(true); }); });
    mnu->setAccessibleName(QStringLiteral("Host"));

    // The list's commands from the keyboard while it has the focus; the menus show the keys.
    ins->setShortcut(QKeySequence(Qt::Key_Insert));
    edit->setShortcuts({QKeySequence(Qt::Key_F2), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    del->setShortcut(QKeySequence(Qt::Key_Delete));
    auto* context = new QAction(QStringLiteral("Menu"), lstPings);
    context->setObjectName(QStringLiteral("mnuContextKey"));
    context->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)});
    connect(context, &QAction::triggered, this, [this] {
        const int row = lstPings->selectedIndex();
        QPoint at(0, 0);
        if (row > 0) {
            ipN = lstPings->text(row);
            ipA = lstPings->subText(row, 1);
            lstPings->ensureVisible(row);
            at = lstPings->visualRect(lstPings->items()->index(row - 1, 0)).bottomLeft();
        }
        syncListItems();
        mnu->exec(lstPings->viewport()->mapToGlobal(at));
    });
    for (QAction* a : {ins, edit, del, context}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        lstPings->addAction(a);
    }
    auto* reload = new QAction(QStringLiteral("Reload"), this);
    reload->setObjectName(QStringLiteral("mnuReloadKey"));
    reload->setShortcut(QKeySequence(Qt::Key_F5));
    reload->setShortcutContext(Qt::WindowShortcut);
    addAction(reload);
    connect(reload, &QAction::triggered, this,
            [this] { runGuarded([this] { m_commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuReload")); }); });
    // Shown beside the toolbar's items too; there the keys only label them, the actions above
    // take them.
    const std::pair<const char*, QKeySequence> shown[] = {{"mnuAddIp", QKeySequence(Qt::Key_Insert)},
                                                          {"mnuEdit", QKeySequence(Qt::Key_F2)},
                                                          {"mnuRem", QKeySequence(Qt::Key_Delete)},
                                                          {"mnuReload", QKeySequence(Qt::Key_F5)}};
    for (const auto& [key, sequence] : shown) {
        if (QAction* item = tblTivane->menuItem(QString::fromLatin1(key))) {
            item->setShortcut(sequence);
            item->setShortcutContext(Qt::WidgetShortcut);
        }
    }

    mnuTray = traymenu::build(*this);
    traymenu::addSortKeys(*this);
}

bool frmMain::Form_Load()
{
    if (m_services.prevInstance && m_services.prevInstance()) {
        m_services.messages.show(QString::fromUtf8(InstanceMessage), platform::MsgInformation, m_services.app.Title);
        return false;
    }
    try {
        setWindowTitle(windowTitle() + QStringLiteral(" - ") + m_services.app.versionText());
        lstPings->clear();
        if (m_services.tray)
            m_services.tray->setMenu(mnuTray);
        m_trayShown = notifyTray(mdlMore::NIM_ADD, mdlMore::namedIcon(windowIcon(), QStringLiteral("tivane")),
                                 m_services.app.Title) != 0;
        // Without word from the tray when it comes or goes, look now and then.
        if (!m_services.tray || !m_services.tray->reportsChanges())
            m_trayWatch->start();
        const WindowSettings stored = WindowSettings::load(m_services.settings);
        lstPings->setGridLines(stored.gridLines);
        lstPings->setCheckboxes(stored.checkboxes);
        tblTivane->setButtonValue(tb::SoundAlert, stored.soundAlert);
        m_saveWndPos = stored.saveWndPos;
        m_hideUnselected = stored.hideUnselected;
        m_sweep.setAllAtOnce(stored.pingAllAtOnce);
        m_watch->setStatisticsShown(stored.statistics);
        m_watch->setDownAfter(stored.downAfter);
        m_outageLog = stored.outageLog;
        m_unticked = stored.unticked;
        for (int i = 0; i < stored.columnWidths.size() && i < lstPings->header()->count(); ++i)
            lstPings->setKeptColumnWidth(i, stored.columnWidths.at(i));
        setAlwaysOnTop(stored.alwaysOnTop);
        // On only while the entry is really there: the desktop's own session settings may
        // have removed it.
        m_startWithSession = stored.startWithSession && autostart::isEnabled();
        m_resume = stored.resumeMonitoring;
        m_closeToTray = stored.closeToTray;
        syncViewChecks();
        LoadList();
        if (m_resume && !m_unloaded)
            m_sweep.PingContinuous();
        // Until the user sets widths, the name and address columns take what their texts need
        // at the desktop's font, so that a large font does not cut every address short.
        if (stored.columnWidths.isEmpty()) {
            for (int column = 0; column < 2; ++column)
                lstPings->header()->resizeSection(
                    column, std::max(lstPings->header()->sectionSize(column), lstPings->contentWidth(column)));
        }
    } catch (const std::exception& e) {
        m_services.messages.show(QString::fromUtf8(e.what()), platform::MsgOkOnly, m_services.app.Title);
    }
    return true;
}

void frmMain::LoadList()
{
    const ListLocation where = locateHostList(m_services.app.Path, m_services.listFolder, examplelist::bytes());
    m_listPath = where.path;
    m_hostList = hostlist::HostListFile(m_listPath);
    m_watch->setOutageLogPath(m_outageLog ? outageLogPath() : QString());
    // A list that is not UTF-8 is read in this code page ([List] LegacyEncoding, Windows-1251 when
    // unset). Only a plain name is taken from the settings file.
    const QString encoding =
        m_services.settings.read(QStringLiteral("List"), QStringLiteral("LegacyEncoding"), QString()).trimmed();
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_.:-]{1,40}$"));
    if (plainName.match(encoding).hasMatch())
        m_hostList.setLegacyEncoding(encoding.toLatin1());
    const QString& path = m_listPath;
    if (where.origin == ListLocation::Unavailable) {
        applyHideUnselected();
        m_services.messages.show(where.problem +
                                     QStringLiteral("\n\nNo file was changed. Make the folder writable, or put a "
                                                    "list.txt beside the program in %1, then choose Reload under "
                                                    "IP List.")
                                         .arg(QDir::toNativeSeparators(m_services.app.Path)),
                                 platform::MsgExclamation, m_services.app.Title);
        return;
    }
    QString failure;
    rememberTicks();
    try {
        hostlist::LoadList(*lstPings, m_hostList);
    } catch (const hostlist::HostListError& e) {
        failure = e.message();
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("The host list %1 is too large to be held in memory.").arg(path);
    } catch (const std::exception& e) {
        failure =
            QStringLiteral("The host list %1 could not be loaded: %2").arg(path, QString::fromLocal8Bit(e.what()));
    }
    applyTicks();
    applyHideUnselected();
    if (!failure.isEmpty()) {
        m_services.messages.show(failure, platform::MsgOkOnly, m_services.app.Title);
    } else if (where.origin == ListLocation::CreatedFromExample) {
        // Told over the window, once it is on the screen, not on an empty desktop before it.
        m_firstNotice =
            QStringLiteral("Your host list is new: %1\n\nIt starts with the example hosts. Add your own with "
                           "Add IP under IP List, or edit the file; Open List Folder under IP List shows where "
                           "it is.")
                .arg(QDir::toNativeSeparators(path));
        if (isVisible())
            tellFirstNotice();
    }
}

void frmMain::tellFirstNotice()
{
    if (m_firstNotice.isEmpty() || m_unloaded || !isVisible())
        return;
    m_services.messages.show(std::exchange(m_firstNotice, QString()), platform::MsgInformation, m_services.app.Title);
}

void frmMain::rememberTicks()
{
    // An empty list (none loaded yet, or it failed) says nothing about the ticks; keep the last.
    if (lstPings->count() == 0)
        return;
    QVector<std::pair<QString, bool>> shown;
    shown.reserve(lstPings->count());
    for (int i = 1; i <= lstPings->count(); ++i)
        shown.append(
            {WindowSettings::entryIdentity(lstPings->text(i), lstPings->subText(i, 1)), lstPings->isChecked(i)});
    m_unticked = WindowSettings::keepUnticked(m_unticked, shown);
}

void frmMain::applyTicks()
{
    if (m_unticked.isEmpty())
        return;
    const QSet<QString> unticked(m_unticked.cbegin(), m_unticked.cend());
    m_applyingTicks = true;
    const auto done = qScopeGuard([this] { m_applyingTicks = false; });
    for (int i = 1; i <= lstPings->count(); ++i) {
        if (unticked.contains(WindowSettings::entryIdentity(lstPings->text(i), lstPings->subText(i, 1))))
            lstPings->setChecked(i, false);
    }
}

void frmMain::openListFolder()
{
    const QString folder = QFileInfo(m_listPath).absolutePath();
    if (!m_services.dialogs.openFolder(folder))
        m_services.messages.show(QStringLiteral("The host list is %1\n\nNo file manager could be opened to show "
                                                "its folder.")
                                     .arg(QDir::toNativeSeparators(m_listPath)),
                                 platform::MsgInformation, m_services.app.Title);
}

void frmMain::showAtStart(bool toTray)
{
    // A compositor that places windows may never activate one it shows without a seat, and the
    // size is best given before the window is first shown.
    if (WindowSettings::compositorPlacesWindows())
        Form_Activate();
    // Hidden without a tray icon, the window could never be brought back; followTray() shows it
    // should the notification area go away later.
    if (toTray && m_trayShown)
        return;
    show();
    // The decorations a compositor's client draws are known once shown, without a resize or a
    // move to tell of them: take them off the stored outer size now.
    rememberNormalGeometry();
}

void frmMain::Form_Activate()
{
    // Only the first activation restores the stored geometry; later ones (a dialog closing,
    // coming back from the tray) would otherwise undo every move and resize since.
    if (m_activatedOnce || m_unloaded)
        return;
    m_activatedOnce = true;
    QRect g = WindowSettings::loadGeometry(m_services.settings);
    // A first run opens wide enough for every column on show; a stored size always wins.
    if (!m_services.settings.contains(QStringLiteral("Settings"), QStringLiteral("WndW")))
        g.setWidth(std::max(g.width(), toTwips(lstPings->widthForAllColumns() + frameExtra().width())));
    setGeometryTwips(g.y(), g.x(), g.height(), g.width());
}

QSize frmMain::frameExtra() const
{
    // Zero until a window manager has framed the window.
    return frameGeometry().size() - size();
}

QRect frmMain::geometryTwips() const
{
    const QRect outer = m_normalOuter.isValid() ? m_normalOuter : frameGeometry();
    const QSize client = m_normalOuter.isValid() ? m_normalClient.size() : size();
    // Twips are finer than pixels: while the window still sits where stored twips put it,
    // hand those back, so a geometry survives any number of runs unchanged. Where the compositor
    // places windows, the place read back means nothing and only the size counts.
    const bool samePlace = WindowSettings::compositorPlacesWindows() || outer.topLeft() == m_applied.framePos;
    if (m_applied.twips.isValid() && samePlace && client == m_applied.client)
        return m_applied.twips;
    return QRect(toTwips(outer.x()), toTwips(outer.y()), toTwips(outer.width()), toTwips(outer.height()));
}

void frmMain::setGeometryTwips(int top, int left, int height, int width)
{
    const int minW = toPixels(MinOuterWidth);
    const int minH = toPixels(MinOuterHeight);
    const QRect twips(left, top, std::max(width, MinOuterWidth), std::max(height, MinOuterHeight));
    QRect outer(toPixels(twips.x()), toPixels(twips.y()), std::max(toPixels(twips.width()), minW),
                std::max(toPixels(twips.height()), minH));

    // Keep the whole window, and so its title bar, on the screen it is meant for; a window larger
    // than that screen (a stored size from a bigger monitor, or a high scale factor) is shrunk.
    const bool placed = WindowSettings::compositorPlacesWindows();
    const QPoint titleBar(outer.x() + std::min(outer.width() / 2, 100), outer.y() + 10);
    QScreen* target = placed ? screen() : QGuiApplication::screenAt(titleBar);
    if (!target) {
        qint64 best = -1;
        for (QScreen* screen : QGuiApplication::screens()) {
            const QRect common = screen->availableGeometry().intersected(outer);
            const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
            if (area > best) {
                best = area;
                target = screen;
            }
        }
    }
    if (!target)
        target = QGuiApplication::primaryScreen();
    if (target) {
        const QRect avail = target->availableGeometry();
        outer.setWidth(std::min(outer.width(), avail.width()));
        outer.setHeight(std::min(outer.height(), avail.height()));
        if (!placed) {
            outer.moveLeft(std::clamp(outer.x(), avail.left(), avail.right() + 1 - outer.width()));
            outer.moveTop(std::clamp(outer.y(), avail.top(), avail.bottom() + 1 - outer.height()));
        }
    }

    // The minimum and the size are for the client area: take the frame off, as far as it is known.
    const QSize frame = frameExtra();
    setMinimumSize(std::max(1, std::min(minW, outer.width()) - frame.width()),
                   std::max(1, std::min(minH, outer.height()) - frame.height()));
    if (!placed)
        move(outer.topLeft());
    resize(std::max(1, outer.width() - frame.width()), std::max(1, outer.height() - frame.height()));
    layoutControls();

    const bool asStored = outer.topLeft() == QPoint(toPixels(twips.x()), toPixels(twips.y())) &&
                          outer.width() == std::max(toPixels(twips.width()), minW) &&
                          outer.height() == std::max(toPixels(twips.height()), minH);
    m_applied.twips = asStored ? twips : QRect();
    m_applied.framePos = placed ? QPoint() : outer.topLeft();
    m_applied.client = size();
    m_applied.frame = frame;
    rememberNormalGeometry();
}

void frmMain::rememberNormalGeometry()
{
    if (isVisible() && !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
        m_normalOuter = frameGeometry();
        m_normalClient = geometry();
    }
    // A window manager may frame the window only after the stored geometry was applied; apply it
    // again then, so that the outer size is what was stored, not the stored size plus the frame.
    if (m_applied.twips.isValid() && m_applied.reapplied < 2 && frameExtra() != m_applied.frame &&
        size() == m_applied.client && isVisible()) {
        const QRect t = m_applied.twips;
        const int reapplied = m_applied.reapplied + 1;
        setGeometryTwips(t.y(), t.x(), t.height(), t.width());
        m_applied.reapplied = reapplied;
    }
}

void frmMain::Form_Resize()
{
    if (m_unloaded)
        return;
    if (windowState() & Qt::WindowMinimized) {
        // Hide only when the tray icon is really there to bring the window back.
        followTray();
        if (m_trayShown)
            QTimer::singleShot(0, this, [this] {
                if (windowState() & Qt::WindowMinimized)
                    hide();
            });
        return;
    }
    // The outer minimum, never more than the screen can show.
    QSize minOuter(toPixels(MinOuterWidth), toPixels(MinOuterHeight));
    if (const QScreen* s = screen())
        minOuter = minOuter.boundedTo(s->availableGeometry().size());
    const QSize frame = frameExtra();
    const QSize minClient = (minOuter - frame).expandedTo(QSize(1, 1));
    setMinimumSize(minClient);
    if (!(windowState() & Qt::WindowMaximized) && (width() < minClient.width() || height() < minClient.height()))
        resize(size().expandedTo(minClient));
    layoutControls();
}

void frmMain::layoutControls()
{
    const int w = width();
    const int tbH = tblTivane->sizeHint().height();
    tblTivane->setGeometry(0, 0, w, tbH);
    const int pbH = pBar->height();
    pBar->setGeometry(0, height() - pbH, w, pbH);
    const int margin = toPixels(ListMargin);
    const int top = tbH + margin;
    lstPings->setGeometry(0, top, w, std::max(0, height() - pbH - margin - top));
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
    rememberNormalGeometry();
}

void frmMain::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    rememberNormalGeometry();
}

void frmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

bool frmMain::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    if (event->type() == QEvent::Show && !m_firstNotice.isEmpty())
        QTimer::singleShot(0, this, &frmMain::tellFirstNotice);
    if (event->type() == QEvent::UpdateRequest && deferPaint())
        return true;
    return QWidget::event(event);
}

bool frmMain::deferPaint()
{
    // A sweep yields after every row; painting the window at each yield would cost more than
    // probing a fast host. While sweeping, repaint at a steady frame rate instead. The request
    // is posted again later, which the repaint manager is still waiting for.
    constexpr qint64 FrameMs = 40;
    if (!m_sweep.isRunning()) {
        m_lastPaintMs = -FrameMs;
        return false;
    }
    if (!m_paintClock.isValid())
        m_paintClock.start();
    const qint64 now = m_paintClock.elapsed();
    const qint64 wait = m_lastPaintMs + FrameMs - now;
    if (wait <= 0) {
        m_lastPaintMs = now;
        return false;
    }
    if (!m_paintDeferred) {
        m_paintDeferred = true;
        QTimer::singleShot(int(wait), this, [this] {
            m_paintDeferred = false;
            QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
        });
    }
    return true;
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!m_unloaded && m_closeToTray && !m_exiting && m_trayShown) {
        event->ignore();
        hide();
        return;
    }
    if (!m_unloaded)
        Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_sweep.abandon();
    // A change recorded but not yet told still reaches the tray and the outage log.
    m_watch->flush();
    m_unloaded = true;
    m_trayWatch->stop();

    int exitCode = 0;
    if (!saveSettings()) {
        exitCode = 1;
        const QString text = QStringLiteral("The settings could not be saved to %1: %2.")
                                 .arg(m_services.settings.fileName(), m_services.settings.errorString());
        std::fprintf(stderr, "tivane: %s\n", qPrintable(text));
        if (isVisible() && !(windowState() & Qt::WindowMinimized))
            m_services.messages.show(text, platform::MsgExclamation, m_services.app.Title);
    }

    lstPings->clear();
    notifyTray(mdlMore::NIM_DELETE, QIcon(), QString());
    m_trayShown = false;
    hide();
    if (m_services.endProgram)
        m_services.endProgram(exitCode);
}

bool frmMain::saveSettings()
{
    WindowSettings now;
    now.geometryTwips = geometryTwips();
    now.positionKnown = !WindowSettings::compositorPlacesWindows();
    now.gridLines = lstPings->gridLines();
    now.checkboxes = lstPings->checkboxes();
    now.alwaysOnTop = m_alwaysOnTop;
    now.saveWndPos = m_saveWndPos;
    now.hideUnselected = m_hideUnselected;
    now.pingAllAtOnce = m_sweep.allAtOnce();
    now.startWithSession = m_startWithSession;
    now.resumeMonitoring = m_resume;
    now.closeToTray = m_closeToTray;
    now.soundAlert = tblTivane->buttonValue(tb::SoundAlert);
    now.statistics = m_watch->statisticsShown();
    for (int i = 0; i < lstPings->header()->count(); ++i)
        now.columnWidths.append(lstPings->keptColumnWidth(i));
    rememberTicks();
    now.unticked = m_unticked;
    now.downAfter = m_watch->downAfter();
    now.outageLog = m_outageLog;
    return now.save(m_services.settings);
}

void frmMain::followTray()
{
    if (m_unloaded)
        return;
    // A tray that has just appeared shows the icon given at the start: give it the state's.
    const bool shown = notifyTray(mdlMore::NIM_MODIFY, m_trayShown ? QIcon() : m_trayIcon, m_trayTip) != 0;
    if (shown == m_trayShown)
        return;
    m_trayShown = shown;
    // Without a notification area a hidden window could never be brought back.
    if (!shown && isHidden())
        showFromTray();
}

int frmMain::notifyTray(int action, const QIcon& icon, const QString& tip)
{
    return m_services.tray ? m_services.tray->notify(action, icon, tip) : 0;
}

void frmMain::showFromTray()
{
    if (m_unloaded)
        return;
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void frmMain::pctTrayIcon_MouseMove(int code)
{
    m_trayLastCode = code;
    if (m_trayBusy || m_unloaded)
        return;
    m_trayBusy = true;
    if (m_trayLastCode == mdlMore::TrayLeftDoubleClick)
        showFromTray();
    else if (m_trayLastCode == mdlMore::TrayRightUp)
        mnuTray->exec(QCursor::pos());
    m_trayBusy = false;
}

void frmMain::mnuABout_Click()
{
    if (!m_unloaded)
        m_services.dialogs.about(this);
}

void frmMain::mnuShow_Click()
{
    showFromTray();
}

void frmMain::mnuExit_Click()
{
    m_exiting = true;
    close();
}

void frmMain::lstPings_ColumnClick(int column)
{
    // A second click on the same column turns the order round.
    const bool again = lstPings->sorted() && lstPings->sortKey() == column - 1;
    lstPings->setSortOrder(again && lstPings->sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                : Qt::AscendingOrder);
    lstPings->setSortKey(column - 1);
    lstPings->setSorted(true);
}

void frmMain::lstPings_MouseUp(int button, int shift, float x, float y)
{
    Q_UNUSED(shift);
    Q_UNUSED(x);
    Q_UNUSED(y);
    if (button != 2)
        return;
    const int row = lstPings->selectedIndex();
    if (row > 0) {
        ipN = lstPings->text(row);
        ipA = lstPings->subText(row, 1);
    }
    const auto actions = mnu->actions();
    for (QAction* a : actions) {
        if (a->objectName() == QLatin1String("mnuEdit") || a->objectName() == QLatin1String("mnuDelete") ||
            a->objectName() == QLatin1String("mnuHistory") || a->objectName() == QLatin1String("mnuExportRow"))
            a->setEnabled(row > 0);
    }
    mnu->exec(QCursor::pos());
}

void frmMain::mnuIns_Click()
{
    if (m_unloaded)
        return;
    const std::optional<hostlist::KeyedHostLine> added = m_services.dialogs.insertEntry(this, m_hostList, lstPing);
    if (!added || m_unloaded)
        return;
    // Shown at once and ticked, at the end: a running sweep has its rows counted already and
    // leaves it for the next one, and reloading here would end the sweep.
    platform::ReportListModel::Row row;
    row.key = added->key;
    row.text = added->host.name;
    row.smallIcon = added->host.type;
    row.checked = true;
    row.sub[0] = added->host.address;
    lstPings->items()->append({row});
    lstPings->select(lstPings->count());
    lstPings->ensureVisible(lstPings->count());
    syncListItems();
}

void frmMain::mnuEdit_Click()
{
    if (m_unloaded)
        return;
    const int row = lstPings->selectedIndex();
    const int type = row > 0 ? lstPings->smallIcon(row) : 0;
    const quint64 key = row > 0 ? lstPings->items()->row(row).key : 0;
    const std::optional<hostlist::HostLine> stored =
        m_services.dialogs.showEntry(this, m_hostList, lstPing, key, ipN, ipA, type);
    // The dialog was modal, but the rows may have been reloaded or sorted meanwhile.
    const int now = stored && !m_unloaded ? lstPings->items()->indexOfKey(key) : 0;
    if (key == 0 || now == 0)
        return;
    lstPings->items()->setText(now, stored->name);
    lstPings->items()->setSmallIcon(now, stored->type);
    if (lstPings->subText(now, 1) != stored->address) {
        // The last answer came from the old address; it says nothing about the new one.
        for (int sub = 2; sub <= platform::ReportListModel::SubItems; ++sub) {
            lstPings->setSubText(now, sub, QString());
            lstPings->setSubIcon(now, sub, 0);
        }
        lstPings->setSubText(now, 1, stored->address);
    }
    ipN = stored->name;
    ipA = stored->address;
}

void frmMain::mnuDelete_Click()
{
    if (m_unloaded)
        return;
    const QVector<int> rows = lstPings->selectedRowNumbers();
    if (rows.isEmpty())
        return;
    QVector<quint64> keys;
    for (const int row : rows)
        keys.append(lstPings->items()->row(row).key);
    const QString question = rows.size() == 1
                                 ? QStringLiteral("Remove \"%1\" (%2) from the list?")
                                       .arg(lstPings->text(rows.first()), lstPings->subText(rows.first(), 1))
                                 : QStringLiteral("Remove the %1 selected hosts from the list?").arg(rows.size());
    if (m_services.messages.show(question, platform::MsgYesNo | platform::MsgQuestion, m_services.app.Title) !=
        platform::MsgResultYes)
        return;
    // The question was modal: rows reloaded meanwhile have new keys and are left alone.
    keys.removeIf([this](quint64 key) { return key == 0 || lstPings->items()->indexOfKey(key) == 0; });
    if (keys.isEmpty())
        return;
    try {
        m_hostList.removeAll(keys);
    } catch (const hostlist::HostListError& e) {
        m_services.messages.show(e.message(), platform::MsgExclamation, m_services.app.Title);
        return;
    }
    for (const quint64 key : keys)
        lstPings->removeAt(lstPings->items()->indexOfKey(key));
    syncListItems();
}

void frmMain::setAlwaysOnTop(bool on)
{
    m_alwaysOnTop = on;
    const bool visible = isVisible();
    if (bool(windowFlags() & Qt::WindowStaysOnTopHint) != on) {
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
        if (visible)
            show();
    }
    syncViewChecks();
}

void frmMain::setHideUnselected(bool on)
{
    m_hideUnselected = on;
    applyHideUnselected();
    syncViewChecks();
}

void frmMain::setStartWithSession(bool on)
{
    QString error;
    const bool done =
        on ? autostart::enable(QCoreApplication::applicationFilePath(), &error) : autostart::disable(&error);
    if (done)
        m_startWithSession = on;
    else
        m_services.messages.show(error, platform::MsgExclamation, m_services.app.Title);
    // A program started with the session that does not monitor would only look like a monitor.
    if (done && on && !m_resume) {
        m_resume = true;
        m_services.messages.show(QStringLiteral("Monitoring now also resumes at every start (Resume Monitoring at "
                                                "Start under View), so the hosts are watched from the moment "
                                                "the session begins."),
                                 platform::MsgInformation, m_services.app.Title);
    }
    syncViewChecks();
}

void frmMain::applyHideUnselected()
{
    const int n = lstPings->count();
    for (int i = 1; i <= n; ++i) {
        const bool hide = m_hideUnselected && !lstPings->isChecked(i);
        if (lstPings->isRowHiddenAt(i) != hide)
            lstPings->setRowHiddenAt(i, hide);
    }
}

void frmMain::syncViewChecks()
{
    tblTivane->setMenuItemChecked(QStringLiteral("mnuShGrd"), lstPings->gridLines());
    tblTivane->setMenuItemChecked(QStringLiteral("mnuChBoxs"), lstPings->checkboxes());
    tblTivane->setMenuItemChecked(QStringLiteral("mnuAOT"), m_alwaysOnTop);
    tblTivane->setMenuItemChecked(QStringLiteral("mnuSWndPos"), m_saveWndPos);
    tblTivane->setMenuItemChecked(QStringLiteral("mnuHUS"), m_hideUnselected);
    tblTivane->setMenuItemChecked(QStringLiteral("mnuPAAO"), m_sweep.allAtOnce());
    tblTivane->setMenuItemChecked(QStringLiteral("mnuAutoStart"), m_startWithSession);
    tblTivane->setMenuItemChecked(QStringLiteral("mnuResume"), m_resume);
    tblTivane->setMenuItemChecked(QStringLiteral("mnuCloseTray"), m_closeToTray);
    tblTivane->setMenuItemChecked(QStringLiteral("mnuStats"), !m_watch || m_watch->statisticsShown());
}

void frmMain::buildWatch()
{
    HostWatch::Services s;
    s.notifyEach = [this](const QVector<monitor::StateChange>& changes) {
        return m_services.notifier && hostnotices::send(*m_services.notifier, changes, m_watch->now());
    };
    s.notify = [this](const monitor::Notification& note) {
        if (m_trayShown && m_services.tray)
            m_services.tray->showMessage(note.title, note.text, note.wentDown > 0);
    };
    s.showOverall = [this](const QIcon& icon, const QString& tip) {
        m_trayIcon = icon;
        m_trayTip = tip;
        if (m_trayShown && !m_unloaded)
            notifyTray(mdlMore::NIM_MODIFY, icon, tip);
    };
    s.sound = m_services.stateSound ? m_services.stateSound : &m_services.sound;
    s.soundOn = [this] { return tblTivane->buttonValue(tb::SoundAlert) == 1; };
    s.soundFile = [this](const QString& name) { return m_services.app.file(name); };
    m_trayTip = m_services.app.Title;
    m_watch = std::make_unique<HostWatch>(*lstPings, m_sweep, s);
    // Not from inside the sweep's report: the box runs an event loop of its own.
    connect(m_watch.get(), &HostWatch::logFailed, this, [this](const QString& why) {
        QTimer::singleShot(0, this, [this, why] {
            if (!m_unloaded)
                m_services.messages.show(
                    QStringLiteral("The outage log could not be written: %1\n\nIt is tried again at the next change.")
                        .arg(why),
                    platform::MsgExclamation, m_services.app.Title);
        });
    });
    syncViewChecks();
}

bool frmMain::watchMenuClick(const QString& key)
{
    if (key == QLatin1String("mnuStats")) {
        m_watch->setStatisticsShown(!m_watch->statisticsShown());
        syncViewChecks();
    } else if (key == QLatin1String("mnuResetStats")) {
        m_watch->resetStatistics();
    } else if (key == QLatin1String("mnuAlerts")) {
        editAlerts();
    } else if (key == QLatin1String("mnuExport")) {
        exportRows(false);
    } else if (key == QLatin1String("mnuResume")) {
        m_resume = !m_resume;
        syncViewChecks();
    } else if (key == QLatin1String("mnuCloseTray")) {
        m_closeToTray = !m_closeToTray;
        syncViewChecks();
    } else {
        return false;
    }
    return true;
}

QString frmMain::outageLogPath() const
{
    return QDir(QFileInfo(m_listPath).absolutePath()).filePath(QStringLiteral("outages.csv"));
}

void frmMain::editAlerts()
{
    if (m_unloaded)
        return;
    AlertSettings s;
    s.downAfter = m_watch->downAfter();
    s.outageLog = m_outageLog;
    s.logPath = outageLogPath();
    if (!m_services.dialogs.alerts(this, s) || m_unloaded)
        return;
    m_watch->setDownAfter(s.downAfter);
    m_outageLog = s.outageLog;
    m_watch->setOutageLogPath(m_outageLog ? outageLogPath() : QString());
}

void frmMain::showHistory(int row)
{
    const quint64 key = m_watch->keyAt(row);
    if (m_unloaded || key == 0 || !m_watch->monitor().contains(key))
        return;
    const auto open = findChildren<HistoryWindow*>();
    for (HistoryWindow* w : open) {
        if (w->key() == key) {
            w->raise();
            w->activateWindow();
            return;
        }
    }
    auto* window = new HistoryWindow(*m_watch, key, this);
    window->setWindowFlag(Qt::Window);
    window->resize(680, 360);
    window->show();
}

void frmMain::exportRows(bool selectedOnly)
{
    if (m_unloaded)
        return;
    const auto chosen = [this, selectedOnly] {
        if (selectedOnly)
            return lstPings->selectedRowNumbers();
        QVector<int> all;
        for (int i = 1; i <= lstPings->count(); ++i)
            all.append(i);
        return all;
    };
    if (selectedOnly && chosen().isEmpty())
        return;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString suggested = QDir(folder).filePath(QStringLiteral("tivane-hosts.csv"));
    const QString path = m_services.dialogs.saveFile(this, QStringLiteral("Export"), suggested,
                                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty() || m_unloaded)
        return;
    // The rows as they are now: the dialog was modal, and a sweep may have moved on meanwhile.
    const QVector<int> rows = chosen();
    const QString why = csv::writeWholeFile(path, m_watch->csvOf(rows));
    if (!why.isEmpty())
        m_services.messages.show(
            QStringLiteral("The hosts could not be exported to %1: %2").arg(QDir::toNativeSeparators(path), why),
            platform::MsgExclamation, m_services.app.Title);
}
