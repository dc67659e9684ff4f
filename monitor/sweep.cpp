#include "monitor/sweep.h"

#include "probe/prober.h"
#include "probe/statuscodes.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace {
// Longest stretch of entries visited in one go before the event loop gets its turn.
constexpr qint64 SliceMs = 8;

qint64 nowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}
} // namespace

QString Sweep::statusText(std::int32_t status)
{
    if (status == 0)
        return QStringLiteral("OK");
    return QString::number(status) + QStringLiteral(": ") + mdlPing::GetStatusText(status);
}

Sweep::Sweep(const QAbstractItemModel& hosts, Prober& prober, QObject* parent)
    : QObject(parent), m_hosts(hosts), m_prober(prober)
{
    m_nextSweep = new QTimer(this);
    m_nextSweep->setSingleShot(true);
    connect(m_nextSweep, &QTimer::timeout, this, &Sweep::startContinuousSweep);
    // Sweeps are paced from start to start; a coarse timer could start one early.
    m_nextSweep->setTimerType(Qt::PreciseTimer);
    connect(&m_prober, &Prober::probeFinished, this, &Sweep::onProbeFinished);
}

Sweep::~Sweep()
{
    // The prober outlives us; leave nothing of ours in it.
    cancelOutstanding();
}

void Sweep::userTookOver()
{
    if (isRunning())
        m_userTookOver = true;
}

void Sweep::stop()
{
    StopPing = true;
    Q_EMIT runningChanged(false);
    const bool wasContinuous = m_continuous;
    m_continuous = false;
    m_nextSweep->stop();
    const bool wasSweeping = m_sweeping;
    m_sweeping = false;
    // One at a time, the entry being probed is finished and written; all at once there is no
    // current entry, so nothing in flight is waited for.
    if (m_sweepAllAtOnce)
        cancelOutstanding();
    if (wasSweeping)
        Q_EMIT sweepFinished();
    if (wasContinuous)
        Q_EMIT runEnded();
    settle();
}

void Sweep::abandon()
{
    stop();
    cancelOutstanding();
    settle();
}

void Sweep::cancelOutstanding()
{
    for (auto it = m_inFlight.cbegin(); it != m_inFlight.cend(); ++it)
        m_prober.cancelProbe(it.key());
    m_inFlight.clear();
}

void Sweep::settle()
{
    if (m_sweeping || !m_inFlight.isEmpty())
        return;
    if (m_socketsStarted) {
        m_socketsStarted = false;
        m_prober.SocketsCleanup();
    }
    if (!isRunning())
        Q_EMIT idle();
}

void Sweep::PingList()
{
    // A newer sweep replaces whatever is left of an older one: a stopped sweep's last probe is
    // not written later over the newer results.
    cancelOutstanding();
    if (m_sweeping) {
        m_sweeping = false;
        Q_EMIT sweepFinished();
    }
    settle();
    if (!m_continuous)
        m_userTookOver = false;
    beginSweep();
}

void Sweep::PingContinuous()
{
    if (m_continuous)
        return;
    cancelOutstanding();
    if (m_sweeping) {
        m_sweeping = false;
        Q_EMIT sweepFinished();
    }
    settle();
    m_continuous = true;
    Q_EMIT runStarted();
    m_userTookOver = false;
    Q_EMIT runningChanged(true);
    StopPing = false;
    startContinuousSweep();
}

void Sweep::startContinuousSweep()
{
    if (!m_continuous || StopPing)
        return;
    if (onContinuousSweep)
        onContinuousSweep();
    if (!m_continuous || StopPing)
        return;
    beginSweep();
}

void Sweep::scheduleNextSweep()
{
    const qint64 remaining = m_sweepStartedMs + continuousIntervalMs - nowMs();
    m_nextSweep->start(int(std::clamp<qint64>(remaining, 0, continuousIntervalMs)));
}

void Sweep::beginSweep()
{
    Q_EMIT runningChanged(true);
    StopPing = false;
    m_sweepAllAtOnce = m_allAtOnce;
    m_sweepStartedMs = nowMs();

    if (!m_prober.SocketsStartup()) {
        Q_EMIT startupFailed();
        // A view may have told the user in a modal box: a Stop, a Reload or the window's end may have come meanwhile;
        // the sweep ends as one that visited nothing.
        endSweep();
        return;
    }
    m_socketsStarted = true;

    // Entries are held by persistent index: a sort moves them, a removal invalidates them.
    const int n = m_hosts.rowCount();
    m_entries.clear();
    m_entries.reserve(n);
    for (int r = 0; r < n; ++r)
        m_entries.append(QPersistentModelIndex(m_hosts.index(r, 0)));
    m_next = 0;
    m_done = 0;
    m_sweeping = true;
    step();
}

void Sweep::step()
{
    m_stepQueued = false;
    QElapsedTimer slice;
    slice.start();
    while (m_sweeping && !StopPing) {
        if (m_sweepAllAtOnce ? m_inFlight.size() >= MaxInFlight : !m_inFlight.isEmpty())
            return; // the next outcome moves us on
        if (m_next >= m_entries.size()) {
            if (m_inFlight.isEmpty())
                endSweep();
            return;
        }
        if (slice.elapsed() >= SliceMs) {
            // A long run of unticked entries: let the window breathe, then go on.
            if (!m_stepQueued) {
                m_stepQueued = true;
                QTimer::singleShot(0, this, &Sweep::step);
            }
            return;
        }
        visit(m_next++);
    }
}

void Sweep::visit(int k)
{
    const QPersistentModelIndex index = m_entries.at(k);
    if (!index.isValid()) {
        ++m_done; // removed since the sweep began
        return;
    }
    CurrentIP = index.data(monitor::AddressRole).toString();
    Q_EMIT visiting(index, m_hosts.rowCount(), !m_userTookOver && !m_sweepAllAtOnce);

    if (!index.data(monitor::TickedRole).toBool()) {
        Q_EMIT entrySkipped(index);
        entryDone(k, index);
        return;
    }
    const quint64 id = m_prober.startProbe(CurrentIP);
    m_inFlight.insert(id, k);
}

void Sweep::onProbeFinished(quint64 id, const mdlPing::Outcome& outcome)
{
    const auto it = m_inFlight.find(id);
    if (it == m_inFlight.end())
        return; // abandoned, or a probe of someone else
    const int k = it.value();
    m_inFlight.erase(it);
    // A copy: a receiver may change the model, and with it the entry's persistent index.
    const QPersistentModelIndex index = m_entries.value(k);
    if (index.isValid()) {
        const std::int32_t status = outcome.status;
        LastStatus = status;
        EchoReply.Status = status;
        if (status != -1)
            EchoReply.RoundTripTime = outcome.roundTripMs;
        Q_EMIT entryOutcome(index, outcome);
        if (status == -1 && outcome.failure == mdlPing::Failure::NotPermitted && !m_toldNotPermitted) {
            m_toldNotPermitted = true;
            Q_EMIT notPermitted();
        }
        if (index.isValid())
            Q_EMIT entryFinished(index.row() + 1, index.data(monitor::KeyRole).toULongLong(), status,
                                 status == 0 ? outcome.roundTripUs : -1, QDateTime::currentMSecsSinceEpoch());
        entryDone(k, index);
    } else {
        ++m_done;
    }
    if (m_sweeping)
        step();
    else
        settle();
}

void Sweep::entryDone(int k, const QModelIndex& entry)
{
    ++m_done;
    Q_EMIT progress(m_sweepAllAtOnce ? m_done : k + 1);
    if (m_userTookOver || !entry.isValid())
        return;
    Q_EMIT follow(entry, m_sweepAllAtOnce);
}

void Sweep::endSweep()
{
    m_sweeping = false;
    Q_EMIT sweepFinished();
    if (m_continuous && !StopPing) {
        // A continuous run keeps Ping disabled and Stop enabled between its sweeps.
        Q_EMIT runningChanged(true);
        scheduleNextSweep();
    } else {
        const bool wasContinuous = m_continuous;
        m_continuous = false;
        Q_EMIT runningChanged(false);
        if (wasContinuous)
            Q_EMIT runEnded();
    }
    settle();
}
