#pragma once

#include "app/toolbarlayout.h"
#include "probe/mdlping.h"
#include "probe/statuscodes.h"
#include "resources/pictures.h"

#include <QHash>
#include <QObject>
#include <QPersistentModelIndex>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

class QTimer;

class Prober;

namespace platform {
class ReportList;
class ToolBar;
class ProgressBar;
class MessageBox;
class SoundPlayer;
struct AppInfo;
} // namespace platform

// The controls and services a sweep works on. All are owned by the main window.
struct SweepContext
{
    platform::ReportList& list;
    platform::ToolBar& toolbar;
    platform::ProgressBar& bar;
    platform::MessageBox& messages;
    Prober& prober;
    platform::SoundPlayer& sound;
    const platform::AppInfo& app;
};

// Runs sweeps over the host list: one echo request per ticked entry, the outcome written into
// the entry's row. Driven by the probe engine's results and by timers, never by nested event
// loops: while a probe waits the window stays fully usable.
//
// A sweep visits the entries that are in the list when it starts, in that order, once each,
// and writes each outcome into that entry's row wherever sorting has moved it since; an entry
// removed meanwhile is skipped. One at a time (the default), the next request goes out only
// when the previous probe has finished. All at once, the requests of all ticked entries go out
// without waiting, at most MaxInFlight at a time, and each row is written as its outcome comes.
class Sweep : public QObject
{
    Q_OBJECT
public:
    explicit Sweep(const SweepContext& context, QObject* parent = nullptr);
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
    // run, the sweep leaves the selection and the scroll position alone.
    void userTookOver();

    // Icon for a round-trip time in the "Timeout" column.
    static int rttIcon(std::int32_t rtt);
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
    // A probe's outcome was written into row (1-based, valid during the emission only) whose
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
    void onProbeFinished(quint64 id, std::int32_t status, std::int32_t roundTripMs, qint64 roundTripUs,
                         mdlPing::Failure failure);
    void writeOutcome(int row, std::int32_t status, std::int32_t roundTripMs, mdlPing::Failure failure,
                      const QString& probed);
    void entryDone(int k, int row);
    void endSweep();
    void cancelOutstanding();
    void settle();
    void scheduleNextSweep();
    void startContinuousSweep();
    void explainNotPermitted();
    void setIdleButtons();
    void setBusyButtons();

    SweepContext m_ctx;
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
