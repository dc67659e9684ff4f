#pragma once

#include "monitor/history.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QVector>
#include <cstdint>
#include <deque>
#include <vector>

// Per-host statistics, up and down states and their changes, without
// widgets or network: the window feeds in each probe's outcome and reads back texts.
namespace monitor {

// The window's handle for a row; it must stay the same while the row is sorted or moved.
using HostKey = quint64;

// The sounds played when hosts go down and when they come back, generated beside the program.
inline constexpr char DownSoundFile[] = "HostDown.wav";
inline constexpr char UpSoundFile[] = "HostUp.wav";

struct HostStats
{
    QString name;
    QString address;
    quint64 sent = 0; // probes made; one that could not even be sent counts as lost
    quint64 replies = 0;
    qint64 lastRttUs = -1; // -1: the latest probe got no reply, or there was none yet
    qint64 minRttUs = -1;  // -1 until the first reply
    qint64 maxRttUs = -1;
    qint64 sumRttUs = 0;
    std::int32_t lastStatus = 0;
    qint64 lastProbeMs = 0; // 0: never probed
    HostState state = HostState::Unknown;
    qint64 stateSinceMs = 0; // when the present state began; 0 while unknown
    int failuresInRow = 0;
    qint64 failingSinceMs = 0; // the first failure of the present run of failures
    int repliesInRow = 0;
    qint64 replyingSinceMs = 0; // the first reply of the present run of replies
    // The last probes' round trips, oldest first, -1 for a failure; at most the monitor's
    // RecentProbes, so the figures below follow the link as it is now.
    std::deque<qint64> recent;

    // Share of probes without a reply, 0..100; -1 before the first probe.
    double lossPercent() const;
    // Mean round trip of the replies, rounded; -1 before the first reply.
    qint64 avgRttUs() const;

    // Over the recent probes: share without a reply, 0..100 (-1 before the first probe); mean
    // round trip of their replies, -1 without any; mean absolute difference of consecutive round
    // trips, -1 with fewer than two replies; the 95th percentile round trip (nearest rank), -1
    // without replies.
    double recentLossPercent() const;
    qint64 recentAvgRttUs() const;
    qint64 jitterUs() const;
    qint64 p95RttUs() const;
};

// When a host changes state; kept as [Alerts] in the settings.
struct AlertRules
{
    static constexpr int MaxDownAfter = 100;
    static constexpr int MaxUpAfter = 100;
    static constexpr int MaxRecentProbes = 1000;
    static constexpr int MaxDegradedRttMs = 60000;

    int downAfter = 3;            // failures in a row before down, 1..MaxDownAfter
    int upAfter = 1;              // replies in a row before up, 1..MaxUpAfter
    int recentProbes = 20;        // the window for the recent figures, 2..MaxRecentProbes
    int degradedLossPercent = 20; // degraded at this loss over the window, 1..100; 0 off
    int degradedRttMs = 0;        // degraded at this mean round trip over the window; 0 off

    // Every value brought into its range.
    AlertRules clamped() const;
    bool operator==(const AlertRules&) const = default;
};

struct StateChange
{
    HostKey key = 0;
    QString name;
    QString address;
    HostState from = HostState::Unknown;
    HostState to = HostState::Unknown;
    // When the new state began: for down the first failed probe of the run, for up the reply.
    qint64 sinceMs = 0;
    qint64 previousSinceMs = 0; // when the state before began; 0 when it was unknown
    std::int32_t status = 0;    // the probe that made the change: 0, a failure code, or -1

    // Worth telling the user: a host went down or degraded, or came back from either. A host's
    // first reply after the start is not news.
    bool notable() const
    {
        return to == HostState::Down || from == HostState::Down || to == HostState::Degraded ||
               from == HostState::Degraded;
    }
    // How long the state before lasted; -1 when it was unknown.
    qint64 previousDurationMs() const { return previousSinceMs > 0 ? sinceMs - previousSinceMs : -1; }
};

enum class Overall
{
    NoneProbed,   // no host has a known state yet (or there are no hosts)
    AllUp,        // no host is down or degraded
    SomeDegraded, // some are degraded, none is down
    SomeDown,
};

// What to tell the user about one sweep's changes.
struct Notification
{
    enum class Cue
    {
        None,
        WentDown,
        CameBack
    };

    QString title;
    QString text;
    int wentDown = 0;
    int cameBack = 0;
    int degraded = 0;

    bool isEmpty() const { return wentDown == 0 && cameBack == 0 && degraded == 0; }
    // The sound to play: going down or degrading outweighs coming back.
    Cue cue() const { return wentDown || degraded ? Cue::WentDown : cameBack ? Cue::CameBack : Cue::None; }
};

// The columns the statistics can be shown in.
enum class StatColumn
{
    State,
    Sent,
    Received,
    Loss,
    Last,
    Avg,
    Min,
    Max,
    Since,
    Jitter,
    P95,
    RecentLoss,
};

// The hosts of the list with their statistics and states. The history of their outcomes is the
// history store's: the monitor keeps only what the figures since the list was loaded need.
//
// A host goes down after downAfter failed probes in a row (any status but 0) and up after upAfter
// replies in a row; while up it is degraded when the loss or the mean round trip over the recent
// probes reaches a threshold, and up again when both are below. Changes are collected until endSweep(), which hands
// them over as one batch, so a sweep in which five hosts went down can be told as one notification.
class HostMonitor
{
public:
    static constexpr int DefaultDownAfter = 3;
    static constexpr int MaxDownAfter = AlertRules::MaxDownAfter;

    // Failures in a row before a host counts as down, 1..MaxDownAfter. A smaller number takes
    // effect with each host's next failure.
    void setDownAfter(int failures);
    int downAfter() const { return m_rules.downAfter; }
    // All thresholds at once, clamped; they act from each host's next probe. A shorter window
    // drops the oldest probes kept.
    void setRules(const AlertRules& rules);
    const AlertRules& rules() const { return m_rules; }

    // Adds a host, or renames one. A host whose address changes starts afresh: its results were
    // another machine's.
    void setEntry(HostKey key, const QString& name, const QString& address);
    void removeEntry(HostKey key);
    // Moves a host's statistics to another key, for rows that are made anew (a Reload
    // after an edit) while the host stays. False, changing nothing, when from is unknown or to is
    // taken.
    bool rekey(HostKey from, HostKey to);
    bool contains(HostKey key) const { return m_index.contains(key); }
    int count() const { return int(m_index.size()); }
    QList<HostKey> keys() const { return m_index.keys(); }
    // Reload: no hosts, nothing pending.
    void clear();
    // Reset Statistics: the hosts stay, as if never probed; no change is reported for it.
    void resetStatistics();

    // One probe's outcome: status 0 with the round trip in microseconds, or a failure (rttUs is
    // then ignored). atMs is when the probe was made, ms since the epoch. False for an unknown key.
    bool record(HostKey key, std::int32_t status, qint64 rttUs, qint64 atMs);
    // The sweep is over: the state changes since the last call, in the order they happened.
    QVector<StateChange> endSweep();
    bool hasPendingChanges() const { return !m_pending.isEmpty(); }

    // Null for an unknown key. Valid until the next call that adds or removes a host.
    const HostStats* stats(HostKey key) const;

    int downCount() const { return m_down; }
    int upCount() const { return m_up; }
    int degradedCount() const { return m_degraded; }
    Overall overall() const;
    // "Tivane: 2 of 12 down", with the names of the hosts down on a second line.
    QString trayToolTip() const;
    // The same over the hosts counted (the ticked ones) only; other keys are left out.
    Overall overall(const QSet<HostKey>& counted) const;
    QString trayToolTip(const QSet<HostKey>& counted) const;

private:
    struct Entry
    {
        HostStats stats;
    };

    void forget(Entry& e);
    QString tipFor(const QSet<HostKey>* counted) const;
    void setState(HostKey key, Entry& e, HostState to, qint64 sinceMs, std::int32_t status);
    void count(HostState state, int by);
    bool isDegraded(const HostStats& s) const;

    QHash<HostKey, int> m_index; // key -> m_entries
    std::vector<Entry> m_entries;
    std::vector<HostKey> m_entryKeys; // m_entries -> key, for moving the last entry into a gap
    QVector<StateChange> m_pending;
    AlertRules m_rules;
    int m_down = 0;
    int m_degraded = 0;
    int m_up = 0;
};

// The system's time zone as it was at the first call: asking the system each time costs more
// than formatting a whole row.
const QTimeZone& localZone();

// Texts. Times are shown in the zone given, the system's by default.

// A round trip with a sensible precision: "0.04 ms", "3.27 ms", "42.3 ms", "812 ms"; empty for -1.
QString formatRtt(qint64 us);
// "0%", "33.3%", "100%"; empty for -1.
QString formatLoss(double percent);
// A span of time for people: "45 s", "4 min", "2 h 5 min", "3 d 4 h".
QString formatDuration(qint64 ms);
// A moment: "12:03:07" on the day of nowMs, "2026-12-06 12:03:07" otherwise; empty for 0.
QString formatMoment(qint64 ms, qint64 nowMs, const QTimeZone& zone = localZone());
// "Up", "Degraded", "Down", or empty while unknown.
QString stateText(HostState state);
// "up", "degraded", "down", "unknown": for logs and commands.
QString stateName(HostState state);
// The host as people know it: "mail server (10.0.0.1)", or the address alone without a name.
QString hostLabel(const QString& name, const QString& address);

QString statHeader(StatColumn column);
// The columns offered by default, in order.
QList<StatColumn> defaultStatColumns();
QString statText(const HostStats& stats, StatColumn column, qint64 nowMs, const QTimeZone& zone = localZone());
// A number that sorts the column as its text is meant: values not known yet sort first.
double statSortKey(const HostStats& stats, StatColumn column);
// A row's statistics summed up over a few lines.
QString statToolTip(const HostStats& stats, qint64 nowMs, const QTimeZone& zone = localZone());

// One sweep's changes told as a notification; empty when none of them is notable.
Notification describeChanges(const QVector<StateChange>& changes, qint64 nowMs, const QTimeZone& zone = localZone());

} // namespace monitor
