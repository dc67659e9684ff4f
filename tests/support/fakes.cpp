#include "fakes.h"

int RecordingMessageBox::show(const QString& text, int style, const QString& title)
{
    shown.append({text, style, title});
    if (onShow)
        onShow(shown.last());
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return (style & 0xF) == platform::MsgYesNo ? platform::MsgResultNo : platform::MsgResultOk;
}

bool ScriptedProber::SocketsStartup()
{
    ++startups;
    return startupResult;
}

std::int32_t ScriptedProber::PingHost(const QString& address, mdlPing::ICMP_ECHO_REPLY& reply)
{
    probed.append(address);
    const Outcome o = outcomes.value(address, Outcome{0, 1, mdlPing::Failure::None});
    m_lastFailure = o.failure;
    if (o.status != -1) {
        reply.Status = o.status;
        reply.RoundTripTime = o.rtt;
    }
    if (onProbe)
        onProbe(address);
    return o.status;
}
