#include "sweep.h"

#include "appinfo.h"
#include "eventloop.h"
#include "messagebox.h"
#include "prober.h"
#include "progressbar.h"
#include "reportlist.h"
#include "soundplayer.h"
#include "toolbar.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
constexpr std::int32_t TimedOut = 11010;
constexpr int StatusCol = 2;
constexpr int TimeCol = 3;

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

void Sweep::stop()
{
    m_ctx.toolbar.setButtonEnabled(tb::Stop, false);
    StopPing = true;
    m_ctx.toolbar.setButtonEnabled(tb::Ping, true);
    if (m_wait)
        m_wait->quit();
}

void Sweep::PingList()
{
    setBusyButtons();
    StopPing = false;
    ++m_depth;

    if (!m_ctx.prober.SocketsStartup()) {
        m_ctx.messages.show(QStringLiteral("Windows Sockets not responding correctly."), platform::MsgExclamation,
                            m_ctx.app.Title);
    } else {
        const int n = m_ctx.list.count();
        for (int i = 1; i <= n; ++i) {
            // Rows may have gone while we yielded (the list is the only store); never visit them.
            if (i > m_ctx.list.count())
                break;
            probeRow(i);
            m_ctx.bar.setValue(float(i));
            m_ctx.list.ensureVisible(i);
            platform::DoEvents();
            if (StopPing)
                break;
        }
        m_ctx.prober.SocketsCleanup();
    }

    --m_depth;
    // A sweep started inside another one's yield (Stop, then Ping) replaces it: the outer
    // sweep ends at its next check instead of carrying on over the newer results.
    if (m_depth > 0)
        StopPing = true;
    // A continuous run keeps Ping disabled and Stop enabled between its sweeps.
    if (m_continuous && !StopPing)
        setBusyButtons();
    else
        setIdleButtons();
}

void Sweep::probeRow(int i)
{
    platform::ReportList& list = m_ctx.list;
    CurrentIP = list.subText(i, 1);
    list.select(i);
    m_ctx.bar.setMin(1.0f);
    m_ctx.bar.setMax(float(list.count()));

    if (!list.isChecked(i)) {
        list.setSubText(i, StatusCol, QString());
        list.setSubIcon(i, StatusCol, 0);
        list.setSubToolTip(i, StatusCol, QString());
        list.setSubText(i, TimeCol, QString());
        list.setSubIcon(i, TimeCol, 0);
        return;
    }

    LastStatus = m_ctx.prober.PingHost(CurrentIP, EchoReply);
    bool explain = false;
    list.setSubText(i, StatusCol, statusText(LastStatus));
    if (LastStatus == 0) {
        list.setSubIcon(i, StatusCol, icons::Ok);
        list.setSubToolTip(i, StatusCol, QString());
    } else if (LastStatus == TimedOut) {
        list.setSubIcon(i, StatusCol, icons::Timeout);
        list.setSubToolTip(i, StatusCol, mdlPing::GetStatusText(LastStatus));
    } else {
        list.setSubIcon(i, StatusCol, icons::Failed);
        const mdlPing::Failure why = LastStatus == -1 ? m_ctx.prober.lastFailure() : mdlPing::Failure::None;
        list.setSubToolTip(i, StatusCol,
                           LastStatus == -1 ? mdlPing::FailureText(why) : mdlPing::GetStatusText(LastStatus));
        if (m_ctx.toolbar.buttonValue(tb::SoundAlert) == 1)
            m_ctx.sound.play(m_ctx.app.file(QStringLiteral("Notify.wav")));
        explain = why == mdlPing::Failure::NotPermitted && !m_toldNotPermitted;
    }

    if (LastStatus == -1) {
        // Nothing was sent, so there is no time to show; the record still holds an earlier probe's.
        list.setSubText(i, TimeCol, QString());
        list.setSubIcon(i, TimeCol, 0);
    } else {
        list.setSubText(i, TimeCol, QString::number(EchoReply.RoundTripTime));
        list.setSubIcon(i, TimeCol, rttIcon(EchoReply.RoundTripTime));
    }

    // Last, once the row is written: the message box runs its own event loop, in which the
    // list may be cleared or the window closed.
    if (explain) {
        m_toldNotPermitted = true;
        m_ctx.messages.show(QStringLiteral("This user may not send ICMP echo requests, so no host can be probed.\n\n"
                                           "To allow it, grant the program the raw-socket capability:\n"
                                           "    sudo setcap cap_net_raw+ep %1\n"
                                           "or open unprivileged ICMP sockets to your group:\n"
                                           "    sudo sysctl net.ipv4.ping_group_range=\"0 2147483647\"")
                                .arg(m_ctx.app.file(QStringLiteral("tivane"))),
                            platform::MsgExclamation, m_ctx.app.Title);
    }
}

void Sweep::PingContinuous()
{
    if (m_continuous)
        return;
    m_continuous = true;
    setBusyButtons();
    StopPing = false;
    while (!StopPing) {
        const qint64 started = nowMs();
        if (onContinuousSweep)
            onContinuousSweep();
        PingList();
        if (StopPing)
            break;
        waitForNextSweep(started);
    }
    m_continuous = false;
    setIdleButtons();
}

void Sweep::waitForNextSweep(qint64 startedMs)
{
    // The rest of the second is spent in the event loop, so the window stays live and
    // an empty or fast list does not spin the processor or flood the network.
    platform::DoEvents();
    const qint64 remaining = startedMs + continuousIntervalMs - nowMs();
    if (StopPing || remaining <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(int(remaining), &loop, &QEventLoop::quit);
    m_wait = &loop;
    loop.exec();
    m_wait = nullptr;
}
