#include "probe/sweep.h"

#include "platform/appinfo.h"
#include "platform/messagebox.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/soundplayer.h"
#include "platform/toolbar.h"
#include "probe/prober.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int StatusCol = 2;
constexpr int TimeCol = 3;
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

int Sweep::rttIcon(std::int32_t rtt)
{
    if (rtt <= 100)
        return icons::Green;
    if (rtt <= 5000)
        return icons::Yellow;
    if (rtt <= 10000)
        return icons::Red;
    return icons::Gray;
}

QString Sweep::statusText(std::int32_t status)
{
    if (status == 0)
        return QStringLiteral("OK");
    return QString::number(status) + QStringLiteral(": ") + mdlPing::GetStatusText(status);
}

Sweep::Sweep(const SweepContext& context, QObject* parent) : QObject(parent), m_ctx(context)
{
    m_nextSweep = new QTimer(this);
    m_nextSweep->setSingleShot(true);
    connect(m_nextSweep, &QTimer::timeout, this, &Sweep::startContinuousSweep);
    // Sweeps are paced from start to start; a coarse timer could start one early.
    m_nextSweep->setTimerType(Qt::PreciseTimer);
    connect(&m_ctx.prober, &Prober::probeFinished, this, &Sweep::onProbeFinished);
    // Once the user works in the list, the sweep no longer moves the selection or the view.
    connect(&m_ctx.list, &platform::ReportList::userInteracted, this, &Sweep::userTookOver);
}

Sweep::~Sweep()
{
    // The prober outlives us; leave nothing of ours in it.
    cancelOutstanding();
}

void Sweep::setBusyButtons()
{
    m_ctx.toolbar.setButtonEnabled(tb::Ping, false);
    m_ctx.toolbar.setButtonEnabled(tb::Stop, true);
}

void Sweep::setIdleButtons()
{
    m_ctx.toolbar.setButtonEnabled(tb::Ping, true);
    m_ctx.toolbar.setButtonEnabled(tb::Stop, false);
}

void Sweep::userTookOver()
{
    if (isRunning())
        m_userTookOver = true;
}

void Sweep::stop()
{
    m_ctx.toolbar.setButtonEnabled(tb::Stop, false);
    StopPing = true;
    m_ctx.toolbar.setButtonEnabled(tb::Ping, true);
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
        m_ctx.prober.cancelProbe(it.key());
    m_inFlight.clear();
}

void Sweep::settle()
{
    if (m_sweeping || !m_inFlight.isEmpty())
        return;
    if (m_socketsStarted) {
        m_socketsStarted = false;
        m_ctx.prober.SocketsCleanup();
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
    setBusyButtons();
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
    setBusyButtons();
    StopPing = false;
    m_sweepAllAtOnce = m_allAtOnce;
    m_sweepStartedMs = nowMs();

    if (!m_ctx.prober.SocketsStartup()) {
        m_ctx.messages.show(QStringLiteral("Windows Sockets not responding correctly."), platform::MsgExclamation,
                            m_ctx.app.Title);
        // The box was modal: a Stop, a Reload or the window's end may have come meanwhile;
        // the sweep ends as one that visited nothing.
        endSweep();
        return;
    }
    m_socketsStarted = true;

    // Entries are held by persistent index: a sort moves them, a removal invalidates them.
    const QAbstractItemModel* model = m_ctx.list.items();
    const int n = m_ctx.list.count();
    m_entries.clear();
    m_entries.reserve(n);
    for (int r = 0; r < n; ++r)
        m_entries.append(QPersistentModelIndex(model->index(r, 0)));
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
    const int row = index.row() + 1;
    platform::ReportList& list = m_ctx.list;
    CurrentIP = list.subText(row, 1);
    if (!m_userTookOver && !m_sweepAllAtOnce)
        list.select(row);
    m_ctx.bar.setMin(1.0f);
    m_ctx.bar.setMax(float(list.count()));

    if (!list.isChecked(row)) {
        list.setSubText(row, StatusCol, QString());
        list.setSubIcon(row, StatusCol, 0);
        list.setSubToolTip(row, StatusCol, QString());
        list.setSubText(row, TimeCol, QString());
        list.setSubIcon(row, TimeCol, 0);
        entryDone(k, row);
        return;
    }
    const quint64 id = m_ctx.prober.startProbe(CurrentIP);
    m_inFlight.insert(id, k);
}

void Sweep::onProbeFinished(quint64 id, std::int32_t status, std::int32_t roundTripMs, qint64 roundTripUs,
                            mdlPing::Failure failure)
{
    const auto it = m_inFlight.find(id);
    if (it == m_inFlight.end())
        return; // abandoned, or a probe of someone else
    const int k = it.value();
    m_inFlight.erase(it);
    const QPersistentModelIndex index = m_entries.value(k);
    if (index.isValid()) {
        const int row = index.row() + 1;
        LastStatus = status;
        EchoReply.Status = status;
        if (status != -1)
            EchoReply.RoundTripTime = roundTripMs;
        writeOutcome(row, status, roundTripMs, failure, m_ctx.prober.probedAddress(id));
        Q_EMIT entryFinished(row, m_ctx.list.items()->row(row).key, status, status == 0 ? roundTripUs : -1,
                             QDateTime::currentMSecsSinceEpoch());
        entryDone(k, row);
    } else {
        ++m_done;
    }
    if (m_sweeping)
        step();
    else
        settle();
}

void Sweep::entryDone(int k, int row)
{
    ++m_done;
    m_ctx.bar.setValue(float(m_sweepAllAtOnce ? m_done : k + 1));
    if (m_userTookOver)
        return;
    if (m_sweepAllAtOnce)
        m_ctx.list.select(row);
    m_ctx.list.ensureVisible(row);
}

void Sweep::endSweep()
{
    m_sweeping = false;
    Q_EMIT sweepFinished();
    if (m_continuous && !StopPing) {
        // A continuous run keeps Ping disabled and Stop enabled between its sweeps.
        setBusyButtons();
        scheduleNextSweep();
    } else {
        const bool wasContinuous = m_continuous;
        m_continuous = false;
        setIdleButtons();
        if (wasContinuous)
            Q_EMIT runEnded();
    }
    settle();
}

void Sweep::writeOutcome(int row, std::int32_t status, std::int32_t roundTripMs, mdlPing::Failure failure,
                         const QString& probed)
{
    platform::ReportList& list = m_ctx.list;
    // A name may resolve to another address at each sweep: say which one this outcome is about.
    const QString probedLine = probed.isEmpty() ? QString() : QStringLiteral("probed ") + probed;
    auto withProbed = [&probedLine](const QString& text) {
        return probedLine.isEmpty() ? text : text + QLatin1Char('\n') + probedLine;
    };
    list.setSubText(row, StatusCol, statusText(status));
    if (status == 0) {
        list.setSubIcon(row, StatusCol, icons::Ok);
        list.setSubToolTip(row, StatusCol, probedLine);
    } else if (status == statusCode(Status::TimedOut)) {
        list.setSubIcon(row, StatusCol, icons::Timeout);
        list.setSubToolTip(row, StatusCol, withProbed(mdlPing::GetStatusText(status)));
    } else {
        list.setSubIcon(row, StatusCol, icons::Failed);
        list.setSubToolTip(row, StatusCol,
                           status == -1 ? mdlPing::FailureText(failure) : withProbed(mdlPing::GetStatusText(status)));
        if (m_ctx.toolbar.buttonValue(tb::SoundAlert) == 1)
            m_ctx.sound.play(m_ctx.app.file(QStringLiteral("Notify.wav")));
        if (status == -1 && failure == mdlPing::Failure::NotPermitted && !m_toldNotPermitted) {
            m_toldNotPermitted = true;
            // Not from inside the engine's report: the box runs an event loop of its own.
            QTimer::singleShot(0, this, &Sweep::explainNotPermitted);
        }
    }

    if (status == -1) {
        // Nothing was sent, so there is no time to show.
        list.setSubText(row, TimeCol, QString());
        list.setSubIcon(row, TimeCol, 0);
    } else {
        list.setSubText(row, TimeCol, QString::number(roundTripMs));
        list.setSubIcon(row, TimeCol, rttIcon(roundTripMs));
    }
}

void Sweep::explainNotPermitted()
{
    m_ctx.messages.show(QStringLiteral("This user may not send ICMP echo requests, so no host can be probed.\n\n"
                                       "To allow it, grant the program the raw-socket capability:\n"
                                       "    sudo setcap cap_net_raw+ep %1\n"
                                       "or open unprivileged ICMP sockets to your group:\n"
                                       "    sudo sysctl net.ipv4.ping_group_range=\"0 2147483647\"")
                            .arg(m_ctx.app.file(QStringLiteral("tivane"))),
                        platform::MsgExclamation, m_ctx.app.Title);
}
