#pragma once

#include "monitor/commandhook.h"
#include "monitor/historystore.h"
#include "monitor/hoststats.h"
#include "monitor/outagelog.h"
#include "platform/reportlist.h"

#include <QByteArray>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>
#include <functional>
#include <memory>

class Sweep;

namespace platform {
class SoundPlayer;
}

// Follows the rows of the host list and every probe outcome the sweep writes into them, and
// shows what the host monitor makes of them: the statistics columns, the row tool tips and the
// marks of hosts that are down, the tray's icon and tip, one notification and one sound per sweep
// with changes, and the outage log.
//
// The rows are followed through the list's model by their keys: a row added or loaded is a host,
// a row removed is forgotten, a list cleared (Reload) starts every host afresh.
class HostWatch : public QObject, public platform::ExtraColumns
{
    Q_OBJECT
public:
    struct Services
    {
        // Tells the user about the changes of a sweep (the tray's balloon); empty: not told.
        std::function<void(const monitor::Notification& note)> notify;
        // Tells the user about each change on its own (the desktop's notifications); true when
        // it did, and then notify is not asked. Empty: notify is.
        std::function<bool(const QVector<monitor::StateChange>& changes)> notifyEach;
        // Shows the overall state: the tray's icon and tip.
        std::function<void(const QIcon& icon, const QString& tip)> showOverall;
        // Plays the going-down and coming-back sounds; null: silent.
        platform::SoundPlayer* sound = nullptr;
        // The Sound Alert button is pressed.
        std::function<bool()> soundOn;
        // Where a sound file of the program is.
        std::function<QString(const QString& name)> soundFile;
        // Wall-clock time, ms since the epoch; empty: the system's.
        std::function<qint64()> now;
    };

    HostWatch(platform::ReportList& list, Sweep& sweep, Services services, QObject* parent = nullptr);
    ~HostWatch() override;

    monitor::HostMonitor& monitor() { return m_monitor; }
    const monitor::HostMonitor& monitor() const { return m_monitor; }

    // The statistics columns of the list; hidden, they cost nothing.
    bool statisticsShown() const { return m_shown; }
    void setStatisticsShown(bool on);
    // The hosts stay, as if never probed.
    void resetStatistics();
    void setDownAfter(int failures);
    int downAfter() const { return m_monitor.downAfter(); }
    void setRules(const monitor::AlertRules& rules);
    const monitor::AlertRules& rules() const { return m_monitor.rules(); }
    // The command run on each change, kept while off so the dialog shows it again.
    void setAlertCommand(bool run, const QString& commandLine);
    bool runsCommand() const { return m_runCommand; }
    QString alertCommand() const { return m_commandLine; }
    // Empty: no outage log. The file is appended to, never rewritten.
    void setOutageLogPath(const QString& path) { m_logPath = path; }
    QString outageLogPath() const { return m_logPath; }
    // Keeps every outcome in the history file at path from now on (nothing changes when it is the
    // one in use). A file that cannot be opened is told through historyFailed(), once.
    void openHistory(const QString& path);
    // How long the history keeps what, and how large it grows; for the next file opened.
    void setHistoryLimits(const monitor::HistoryLimits& limits) { m_limits = limits; }
    const monitor::HistoryLimits& historyLimits() const { return m_limits; }
    // Null while there is no history on disk; historyOff() then says why.
    monitor::HistoryStore* historyStore() const { return m_store && m_store->isOpen() ? m_store.get() : nullptr; }
    QString historyOff() const;
    // When the list was loaded or the statistics were reset: where the row's figures begin.
    qint64 countingSinceMs() const { return m_countingSinceMs; }

    // The row's key, 0 for none (1-based row).
    quint64 keyAt(int row) const;
    // The rows as CSV: the list's own columns, then the statistics of each.
    QByteArray csvOf(const QVector<int>& rows) const;
    // Tells the state changes recorded so far (the end of a sweep, and the exit, do).
    void flush();
    // Shows the overall state again (the tray icon may have been made anew).
    void refreshOverall();
    qint64 now() const;
    // How long until the next day begins, by now(); the list's times are made anew then.
    int msToNextDay() const;

    // ExtraColumns
    int extraColumnCount() const override;
    QString extraHeader(int column) const override;
    QVariant extraData(quint64 key, int column, int role) const override;
    double extraSortKey(quint64 key, int column) const override;
    QVariant rowData(quint64 key, int role) const override;

    // The first extra column of the list.
    static constexpr int FirstColumn = 1 + platform::ReportListModel::SubItems;
    // The colour laid over the row of a host that is down; translucent, so it reads on a light
    // and on a dark palette alike.
    static QColor downTint();
    static QColor degradedTint();

Q_SIGNALS:
    // A sweep's results are in the monitor (views of the history follow with it).
    void recorded();
    // The changes of a sweep were told.
    void told(const monitor::Notification& note);
    // The outage log could not be written; why, in a sentence. Told once until it works again.
    void logFailed(const QString& why);
    // The history cannot be kept (why, in a sentence), or is kept again after it could not be.
    void historyFailed(const QString& why);
    // The change command failed; told once per command line, and added to the outage log.
    void commandFailed(const QString& why);

private:
    void onEntryFinished(int row, quint64 key, std::int32_t status, qint64 rttUs, qint64 atMs);
    void logMonitoring(OutageLog::Monitoring what);
    // Tells of a failed write once, until one works again.
    void logResult(const QString& why);
    void onCommandProblem(const QString& why);
    void follow(int first, int last);
    void forget(int first, int last);
    void followAll();
    void armMidnight();
    void applyShown();

    platform::ReportList& m_list;
    Sweep& m_sweep;
    Services m_services;
    monitor::HostMonitor m_monitor;
    monitor::CommandHook m_hook;
    bool m_runCommand = false;
    QString m_commandLine;
    QList<monitor::StatColumn> m_columns;
    QString m_logPath;
    std::unique_ptr<monitor::HistoryStore> m_store;
    monitor::HistoryLimits m_limits;
    qint64 m_countingSinceMs = 0;
    bool m_logBroken = false;
    bool m_shown = true;
    QTimer m_midnight;
    QIcon m_upIcon;
    QIcon m_downIcon;
    QIcon m_degradedIcon;
};
