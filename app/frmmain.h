#pragma once

#include "app/commands.h"
#include "app/listcontroller.h"
#include "app/mainservices.h"
#include "app/paintpacer.h"
#include "app/sweepview.h"
#include "app/trayfollower.h"
#include "app/windowplacement.h"
#include "hostlist/hostlistfile.h"
#include "monitor/sweep.h"
#include "platform/appinfo.h"
#include "platform/imagelist.h"

#include <QIcon>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class HostWatch;
class QMenu;
class QAction;
class Prober;

namespace platform {
class ReportList;
class ToolBar;
class ProgressBar;
class MessageBox;
class SettingsStore;
class SoundPlayer;
} // namespace platform

// The main window: toolbar, host list and progress bar, the tray icon, start-up and shut-down.
class frmMain : public QWidget
{
    Q_OBJECT
public:
    explicit frmMain(const MainServices& services, QWidget* parent = nullptr);
    ~frmMain() override;

    // Start-up steps; false when the program must end at once (another copy runs).
    bool Form_Load();
    // Runs at every activation; applies the stored geometry the first time only.
    void Form_Activate();
    void Form_Resize();
    // Stops sweeps, saves the settings, clears the list, removes the tray icon and ends.
    void Form_Unload();
    // Shows the window after Form_Load; with toTray it stays hidden behind the tray icon instead,
    // when there is one.
    void showAtStart(bool toTray);
    // Writes the view settings and the window's place; false (and the reason in the settings
    // store) when they could not be written.
    bool saveSettings();
    // Looks again whether a notification area shows the icon: one may appear after the
    // program started, or go away while the window is hidden in it.
    void followTray();

    // Finds the list (creating the user's own from the example the first time) and loads it.
    void LoadList();
    // The list.txt that was last loaded, where entries are added, changed and removed.
    QString listPath() const { return m_listPath; }
    void openListFolder() { m_list.openFolder(); }
    void PingList() { m_sweep.PingList(); }

    // Tray icon events by code (515 double click, 517 right-button release).
    void pctTrayIcon_MouseMove(int code);
    void mnuABout_Click();
    void mnuShow_Click();
    void mnuExit_Click();

    void lstPings_ColumnClick(int column);
    void lstPings_MouseUp(int button, int shift, float x, float y);
    void mnuIns_Click();
    void mnuEdit_Click();
    // Removes the selected entries from the list and from list.txt, after asking once.
    void mnuDelete_Click();

    // The statistics, states and alerts of the hosts in the list.
    HostWatch& watch() { return *m_watch; }
    // Opens the history of the host in the row (1-based), or brings its open one to the front.
    void showHistory(int row);
    // Asks where to and writes the rows as CSV: the selected rows, or every row.
    void exportRows(bool selectedOnly);
    // The Alerts dialog; what it sets applies at once.
    void editAlerts();
    // Where the outage log goes when it is on: beside the host list in use (a portable list's
    // log stays with it).
    QString outageLogPath() const { return m_list.outageLogPath(); }
    bool outageLog() const { return m_outageLog; }

    // Controls, under the names the handlers use.
    platform::ToolBar* tblTivane = nullptr;
    platform::ReportList* lstPings = nullptr;
    platform::ProgressBar* pBar = nullptr;
    platform::ImageList mnuImgLst;
    platform::ImageList lstPing;
    QMenu* mnu = nullptr;
    QMenu* mnuTray = nullptr;

    Sweep& sweep() { return m_sweep; }
    Commands& commands() { return m_commands; }
    const MainServices& services() const { return m_services; }
    bool isUnloaded() const { return m_unloaded; }
    bool trayShown() const { return m_tray.shown(); }
    int lastTrayCode() const { return m_tray.lastCode(); }

    // The row last right-clicked: its name and address.
    QString ipN;
    QString ipA;

    // View options beyond grid lines and check boxes.
    bool alwaysOnTop() const { return m_alwaysOnTop; }
    void setAlwaysOnTop(bool on);
    bool saveWndPos() const { return m_saveWndPos; }
    bool hideUnselected() const { return m_hideUnselected; }
    void setHideUnselected(bool on);
    // "Start with the session": writes or removes the autostart entry; on failure says why and
    // stays as it was.
    bool startWithSession() const { return m_startWithSession; }
    void setStartWithSession(bool on);
    // A continuous run starts with the program.
    bool resumeMonitoring() const { return m_resume; }
    // Closing the window hides it in the tray, when there is one; Exit still ends the program.
    bool closeToTray() const { return m_closeToTray; }

    // Outer geometry in twips, as stored in the settings.
    QRect geometryTwips() const { return m_placement.geometryTwips(); }
    void setGeometryTwips(int top, int left, int height, int width)
    {
        m_placement.setGeometryTwips(top, left, height, width);
    }

    // Runs a command so that no exception reaches the event loop: a failure is told in a box.
    void runGuarded(const std::function<void()>& command);
    // Enables what acts on a selected row while there is one.
    void syncListItems();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildList();
    void layoutControls();
    void syncViewChecks();
    bool deferPaint();
    void buildWatch();
    // The menu items of the statistics and alerts; false for a key that is not one of them.
    bool watchMenuClick(const QString& key);

    MainServices m_services;
    QString m_listPath;
    // Where the rows on show came from in m_listPath, so that one can be taken out again.
    hostlist::HostListFile m_hostList;
    SweepContext m_ctx;
    HostRowsModel m_hosts;
    Sweep m_sweep;
    SweepView m_sweepView;
    Commands m_commands;

    bool m_activatedOnce = false;
    bool m_unloaded = false;
    bool m_alwaysOnTop = false;
    bool m_saveWndPos = true;
    bool m_hideUnselected = false;
    bool m_startWithSession = false;
    bool m_resume = false;
    bool m_closeToTray = false;
    bool m_exiting = false; // Exit was chosen: closing ends the program even with Close to Tray
    bool m_outageLog = false;
    // The parts that do the window's jobs.
    PaintPacer m_paintPacer{*this};
    WindowPlacement m_placement{*this, [this] { layoutControls(); }};
    TrayFollower m_tray{*this, m_services, [this] { return m_unloaded; }};
    ListController m_list{
        *this,
        m_services,
        *lstPings,
        lstPing,
        m_listPath,
        m_hostList,
        {[this] { return m_unloaded; }, [this] { syncListItems(); }, [this] { return m_hideUnselected; }}};
    // Declared last: it follows the list and the sweep, so it must go before them.
    std::unique_ptr<HostWatch> m_watch;
};
