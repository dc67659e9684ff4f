#pragma once

#include "probe/mdlping.h"
#include "probe/statuscodes.h"

#include <QHash>
#include <QModelIndex>
#include <QObject>
#include <QPersistentModelIndex>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

class QAbstractItemModel;
class QTimer;

class Prober;

namespace monitor {
// What a sweep reads of each host, in column 0 of the model it works on.
enum HostRole
{
    KeyRole = Qt::UserRole + 1, // quint64: the owner's tag for the host, kept through sorts
    TickedRole,                 // bool: the host takes part in sweeps
    NameRole,                   // QString: what the user calls it
    AddressRole,                // QString: what is probed (an address or a host name)
};
} // namespace monitor

// Runs sweeps over a model of hosts: one echo request per ticked entry, each outcome announced
// for the entry it belongs to; a view turns the announcements into cells. Driven by the probe engine's results and by
// timers, never by nested event loops: while a probe waits the window stays fully usable.
//
// A sweep visits the entries that are in the list when it starts, in that order, once each,
// and announces each outcome for that entry wherever sorting has moved it since; an entry
// removed meanwhile is skipped. One at a time (the default), the next request goes out only
// when the previous probe has finished. All at once, the requests of all ticked entries go out
// without waiting, at most MaxInFlight at a time, and each outcome is announced as it comes.
class Sweep : public QObject
{
    Q_OBJECT
public:
    // The hosts and the prober must outlive the sweep.
    Sweep(const QAbstractItemModel& hosts, Prober& prober, QObject* parent = nullptr);
    ~Sweep() override;

    // Starts one sweep over the list as it is now and returns at once. A sweep still finishing
    // its current entry after a Stop is replaced.
    void PingList();
    // Starts sweeps until stopped, each at least continuousIntervalMs after the start of the one before.
    void PingContinuous();
    // The Stop command: no further entry is visited and no further sweep starts. One at a time,
    // the entry being probed is still written when its outcome comes; all at once, every request
    // in flight is abandoned and those entries keep their earlier columns.
    void stop();
    // Ends everything at once and writes nothing more (Reload, closing the window).
    void abandon();
    // A sweep or a continuous run is under way: Ping is disabled and Stop enabled.
    bool isRunning() const { return m_sweeping || m_continuous; }
    // Nothing runs and no outcome is awaited.
    bool isIdle() const { return !isRunning() && m_inFlight.isEmpty(); }

    bool allAtOnce() const { return m_allAtOnce; }
    // Takes effect from the next sweep on.
    void setAllAtOnce(bool on) { m_allAtOnce = on; }

    // The user clicked, typed or scrolled in the list: until the user starts another sweep or
    // run, the sweep no longer asks for the selection or the scroll position to follow it.
    void userTookOver();

    // "OK", or the code with its text ("11010: Request Timed Out").
    static QString statusText(std::int32_t status);

    static constexpr int MaxInFlight = 256;

    bool StopPing = false;
    mdlPing::ICMP_ECHO_REPLY EchoReply;
    std::int32_t LastStatus = 0;
    QString CurrentIP;

    // Shortest time between the starts of two sweeps of a continuous run.
    int continuousIntervalMs = 1000;
    // Runs before each sweep of a continuous run (tests count sweeps with it).
    std::function<void()> onContinuousSweep;

Q_SIGNALS:
    // A sweep has visited its last entry, or was stopped or replaced.
    void sweepFinished();
    // Nothing runs any more and no outcome is awaited.
    void idle();
    // Ping is disabled and Stop enabled while running; raised at every point where that is
    // settled, also when it does not change.
    void runningChanged(bool running);
    // An entry is being visited; total: the hosts in the model now. select: the selection
    // should follow it.
    void visiting(const QModelIndex& entry, int total, bool select);
    // An unticked entry was passed over: it shows no earlier outcome any more.
    void entrySkipped(const QModelIndex& entry);
    // The probe of an entry ended.
    void entryOutcome(const QModelIndex& entry, const mdlPing::Outcome& outcome);
    // value: entries done in this sweep (all at once), or the position of the latest one.
    void progress(int value);
    // The view should show the entry (and select it, when select); only until the user took over.
    void follow(const QModelIndex& entry, bool select);
    // The first probe that this user may not send ICMP at all (raised once per sweep object).
    void notPermitted();
    // The prober could not start; the sweep ends as one that visited nothing.
    void startupFailed();
    // A probe's outcome was announced for row (1-based, valid during the emission only) whose
    // key is rowKey: status 0 with the round trip in microseconds, or a failure (-1: not sent).
    // atMs is the wall-clock time of the outcome, ms since the epoch.
    void entryFinished(int row, quint64 rowKey, std::int32_t status, qint64 rttUs, qint64 atMs);
    // A continuous run began, and ended (Stop, Reload, closing the window). The sweeps within
    // a run, and single sweeps, do not raise these.
    void runStarted();
    void runEnded();

private:
    void beginSweep();
    void step();
    void visit(int k);
    void onProbeFinished(quint64 id, const mdlPing::Outcome& outcome);
    void entryDone(int k, const QModelIndex& entry);
    void endSweep();
    void cancelOutstanding();
    void settle();
    void scheduleNextSweep();
    void startContinuousSweep();

    const QAbstractItemModel& m_hosts;
    Prober& m_prober;
    QVector<QPersistentModelIndex> m_entries; // the sweep's entries, in list order at its start
    int m_next = 0;                           // the next entry to visit
    int m_done = 0;                           // entries finished in this sweep
    QHash<quint64, int> m_inFlight;           // probe id -> entry
    bool m_sweeping = false;
    bool m_continuous = false;
    bool m_allAtOnce = false;
    bool m_sweepAllAtOnce = false; // the mode of the sweep under way
    bool m_userTookOver = false;
    bool m_socketsStarted = false;
    bool m_stepQueued = false;
    bool m_toldNotPermitted = false;
    qint64 m_sweepStartedMs = 0;
    QTimer* m_nextSweep = nullptr;
};
