#include "app/frmmain.h"

#include "app/autostart.h"
#include "app/historyview.h"
#include "app/hostexport.h"
#include "app/hostnotices.h"
#include "app/hostwatch.h"
#include "app/mainmenus.h"
#include "app/runguarded.h"
#include "app/traymenu.h"
#include "app/windowsettings.h"
#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "monitor/csvexport.h"
#include "platform/messagebox.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/soundplayer.h"
#include "platform/toolbar.h"
#include "platform/twips.h"
#include "probe/hostaddress.h"
#include "probe/prober.h"
#include "resources/artwork.h"
#include "shell/mdlmore.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using platform::toPixels;

namespace {
// Sizes in twips.
constexpr int ClientWidth = 8010;
constexpr int ClientHeight = 8565;
constexpr int ListMargin = 60; // between the list and the toolbar above and the progress bar below
constexpr int ProgressHeight = 270;

const char* const InstanceMessage = "Одна копия программы уже загружена!\r\nПрограмма будет закрыта.";
} // namespace

frmMain::frmMain(const MainServices& services, QWidget* parent)
    : QWidget(parent), tblTivane(new platform::ToolBar(this)), lstPings(new platform::ReportList(this)),
      pBar(new platform::ProgressBar(this)), m_services(services),
      m_listPath(m_services.app.file(QStringLiteral("list.txt"))),
      m_ctx{*lstPings, *tblTivane, *pBar, m_services.messages, m_services.prober, m_services.sound, m_services.app},
      m_hosts(lstPings->items()), m_sweep(m_hosts, m_services.prober), m_sweepView(m_ctx, m_sweep),
      m_commands(m_sweep, m_ctx)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tivane"));
    setWindowIcon(artwork::windowIcon());
    tblTivane->setObjectName(QStringLiteral("tblTivane"));
    lstPings->setObjectName(QStringLiteral("lstPings"));
    pBar->setObjectName(QStringLiteral("pBar"));

    mainmenus::buildImageLists(mnuImgLst, lstPing);
    mainmenus::buildToolbar(*tblTivane, mnuImgLst);
    syncViewChecks();
    buildList();
    mnu = mainmenus::buildContextMenu(*this);
    QAction* reload = mainmenus::addWindowKeys(*this);
    connect(reload, &QAction::triggered, this,
            [this] { runGuarded([this] { m_commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuReload")); }); });
    mnuTray = traymenu::build(*this);
    traymenu::addSortKeys(*this);

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
                m_list.importHosts();
                return;
            }
            if (!watchMenuClick(key))
                m_commands.tblTivane_ButtonMenuClick(key);
        });
    });
    connect(lstPings, &platform::ReportList::columnClicked, this, &frmMain::lstPings_ColumnClick);
    connect(lstPings, &platform::ReportList::mouseReleased, this, &frmMain::lstPings_MouseUp);
    connect(lstPings->items(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) { m_list.dataChanged(roles); });
    connect(lstPings->selectionModel(), &QItemSelectionModel::selectionChanged, this, &frmMain::syncListItems);
    connect(lstPings->items(), &QAbstractItemModel::modelReset, this, &frmMain::syncListItems);
    connect(lstPings, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { showHistory(index.row() + 1); });
    syncListItems();
    buildWatch();
}

void frmMain::runGuarded(const std::function<void()>& command)
{
    ::runGuarded(m_services.messages, m_services.app.Title, command);
}

void frmMain::syncListItems()
{
    mainmenus::enableRowItems(*tblTivane, *mnu, lstPings->selectedIndex() > 0);
}

frmMain::~frmMain()
{
    // The pictures are members and go before the widgets; a list still on the screen lays itself
    // out once more while it is hidden on the way down, and must not reach for them then.
    hide();
    lstPings->setImageList(nullptr);
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

bool frmMain::Form_Load()
{
    if (m_services.prevInstance && m_services.prevInstance()) {
        m_services.messages.show(QString::fromUtf8(InstanceMessage), platform::MsgInformation, m_services.app.Title);
        return false;
    }
    try {
        setWindowTitle(windowTitle() + QStringLiteral(" - ") + m_services.app.versionText());
        lstPings->clear();
        m_tray.start(mnuTray);
        const WindowSettings stored = WindowSettings::load(m_services.settings);
        lstPings->setGridLines(stored.gridLines);
        lstPings->setCheckboxes(stored.checkboxes);
        tblTivane->setButtonValue(tb::SoundAlert, stored.soundAlert);
        m_saveWndPos = stored.saveWndPos;
        m_hideUnselected = stored.hideUnselected;
        m_sweep.setAllAtOnce(stored.pingAllAtOnce);
        m_watch->setStatisticsShown(stored.statistics);
        m_watch->setRules(stored.alertRules);
        m_watch->setAlertCommand(stored.runCommand, stored.alertCommand);
        m_sweep.continuousIntervalMs = stored.probeIntervalMs;
        m_services.prober.setReplyTimeoutMs(stored.probeTimeoutMs);
        m_services.prober.setPayloadBytes(stored.probePayloadBytes);
        m_watch->setHistoryLimits(stored.historyLimits);
        m_outageLog = stored.outageLog;
        m_list.setUnticked(stored.unticked);
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
    const ListLocation where = m_list.locate();
    m_watch->setOutageLogPath(m_outageLog ? outageLogPath() : QString());
    m_watch->openHistory(QFileInfo(outageLogPath()).dir().filePath(QStringLiteral("history.sqlite")));
    m_list.load(where);
}

void frmMain::showAtStart(bool toTray)
{
    // A compositor that places windows may never activate one it shows without a seat, and the
    // size is best given before the window is first shown.
    if (WindowSettings::compositorPlacesWindows())
        Form_Activate();
    // Hidden without a tray icon, the window could never be brought back; followTray() shows it
    // should the notification area go away later.
    if (toTray && m_tray.shown())
        return;
    show();
    // The decorations a compositor's client draws are known once shown, without a resize or a
    // move to tell of them: take them off the stored outer size now.
    m_placement.rememberNormal();
}

void frmMain::Form_Activate()
{
    // Only the first activation restores the stored geometry; later ones (a dialog closing,
    // coming back from the tray) would otherwise undo every move and resize since.
    if (m_activatedOnce || m_unloaded)
        return;
    m_activatedOnce = true;
    m_placement.restore(m_services.settings, lstPings->widthForAllColumns());
}

void frmMain::Form_Resize()
{
    if (m_unloaded)
        return;
    if (windowState() & Qt::WindowMinimized) {
        // Hide only when the tray icon is really there to bring the window back.
        followTray();
        if (m_tray.shown())
            QTimer::singleShot(0, this, [this] {
                if (windowState() & Qt::WindowMinimized)
                    hide();
            });
        return;
    }
    m_placement.keepMinimum();
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
    m_placement.rememberNormal();
}

void frmMain::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    m_placement.rememberNormal();
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
    if (event->type() == QEvent::Show && m_list.hasFirstNotice())
        QTimer::singleShot(0, this, [this] { m_list.tellFirstNotice(); });
    if (event->type() == QEvent::UpdateRequest && deferPaint())
        return true;
    return QWidget::event(event);
}

bool frmMain::deferPaint()
{
    return m_paintPacer.defer(m_sweep.isRunning());
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!m_unloaded && m_closeToTray && !m_exiting && m_tray.shown()) {
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
    m_tray.stopWatching();

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
    m_tray.remove();
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
    m_list.rememberTicks();
    now.unticked = m_list.unticked();
    now.alertRules = m_watch->rules();
    now.runCommand = m_watch->runsCommand();
    now.probeIntervalMs = m_sweep.continuousIntervalMs;
    now.probeTimeoutMs = m_services.prober.replyTimeoutMs();
    now.probePayloadBytes = m_services.prober.payloadBytes();
    now.historyLimits = m_watch->historyLimits();
    now.alertCommand = m_watch->alertCommand();
    now.outageLog = m_outageLog;
    return now.save(m_services.settings);
}

void frmMain::followTray()
{
    m_tray.follow();
}

void frmMain::pctTrayIcon_MouseMove(int code)
{
    m_tray.mouseMove(code, mnuTray);
}

void frmMain::mnuABout_Click()
{
    if (!m_unloaded)
        m_services.dialogs.about(this);
}

void frmMain::mnuShow_Click()
{
    m_tray.showWindow();
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
    mainmenus::enableRowItems(*mnu, row > 0);
    mnu->exec(QCursor::pos());
}

void frmMain::mnuIns_Click()
{
    m_list.insert();
}

void frmMain::mnuEdit_Click()
{
    m_list.edit(ipN, ipA);
}

void frmMain::mnuDelete_Click()
{
    m_list.remove();
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
    m_list.applyHideUnselected();
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
        m_tray.showMessage(note.title, note.text, note.wentDown > 0);
    };
    s.showOverall = [this](const QIcon& icon, const QString& tip) { m_tray.showOverall(icon, tip); };
    s.sound = m_services.stateSound ? m_services.stateSound : &m_services.sound;
    s.soundOn = [this] { return tblTivane->buttonValue(tb::SoundAlert) == 1; };
    s.soundFile = [this](const QString& name) { return m_services.app.file(name); };
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
    // Both are told once until they work again; shown after the event that found them.
    for (const auto failed : {&HostWatch::historyFailed, &HostWatch::commandFailed}) {
        connect(m_watch.get(), failed, this, [this](const QString& why) {
            QTimer::singleShot(0, this, [this, why] {
                if (!m_unloaded)
                    m_services.messages.show(why, platform::MsgExclamation, m_services.app.Title);
            });
        });
    }
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
    } else if (key == QLatin1String("mnuOptions")) {
        ProbeSettings s{m_sweep.continuousIntervalMs, m_services.prober.replyTimeoutMs(),
                        m_services.prober.payloadBytes()};
        if (!m_unloaded && m_services.dialogs.options(this, s) && !m_unloaded) {
            m_sweep.continuousIntervalMs = s.intervalMs;
            m_services.prober.setReplyTimeoutMs(s.timeoutMs);
            m_services.prober.setPayloadBytes(s.payloadBytes);
        }
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

void frmMain::editAlerts()
{
    if (m_unloaded)
        return;
    AlertSettings s;
    s.rules = m_watch->rules();
    s.runCommand = m_watch->runsCommand();
    s.command = m_watch->alertCommand();
    s.outageLog = m_outageLog;
    s.logPath = outageLogPath();
    if (!m_services.dialogs.alerts(this, s) || m_unloaded)
        return;
    m_watch->setRules(s.rules);
    m_watch->setAlertCommand(s.runCommand, s.command);
    m_outageLog = s.outageLog;
    m_watch->setOutageLogPath(m_outageLog ? outageLogPath() : QString());
}

void frmMain::showHistory(int row)
{
    const quint64 key = m_watch->keyAt(row);
    if (m_unloaded || key == 0 || !m_watch->monitor().contains(key))
        return;
    HistoryWindow::showFor(*m_watch, key, this, m_services.dialogs, m_services.messages);
}

void frmMain::exportRows(bool selectedOnly)
{
    hostexport::exportRows(*this, m_services, *lstPings, *m_watch, selectedOnly, [this] { return m_unloaded; });
}
