#include "tests/support/fakes.h"

#include "app/toolbarlayout.h"

#include <QTimer>
#include <algorithm>

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

mdlPing::Outcome ScriptedProber::probe(const QString& address)
{
    probed.append(address);
    const Outcome o = outcomes.value(address, Outcome{0, 1, mdlPing::Failure::None});
    mdlPing::Outcome outcome;
    outcome.status = o.status;
    if (o.status == -1) {
        outcome.failure = o.failure;
        outcome.reason = mdlPing::FailureText(o.failure);
    } else {
        outcome.roundTripMs = o.rtt;
        outcome.roundTripUs = qint64(o.rtt) * 1000;
    }
    if (onProbe)
        onProbe(address);
    return outcome;
}

quint64 ScriptedProber::startProbe(const QString& address)
{
    if (answerAfterMs < 0)
        return Prober::startProbe(address);
    // Far above the ids of the base class, so the two kinds never meet.
    const quint64 id = (quint64(1) << 48) + ++m_lastDelayedId;
    m_pending.insert(id);
    maxInFlight = std::max(maxInFlight, int(m_pending.size()));
    QTimer::singleShot(answerAfterMs, this, [this, id, address] {
        if (!m_pending.remove(id) && !reportCancelled)
            return;
        Q_EMIT probeFinished(id, probe(address));
    });
    return id;
}

void ScriptedProber::cancelProbe(quint64 id)
{
    m_pending.remove(id);
    Prober::cancelProbe(id);
}

void ScriptedProber::cancelAll()
{
    m_pending.clear();
    Prober::cancelAll();
}

void addWindowButtons(platform::ToolBar& toolbar)
{
    using platform::ToolBar;
    toolbar.addButton(QStringLiteral("&Ping"), QStringLiteral("mnuPing"), ToolBar::SplitDropDown, 0, {}, {});
    toolbar.addButton(QStringLiteral("&Stop"), QStringLiteral("mnuStop"), ToolBar::Plain, 0, {}, {});
    toolbar.addButton({}, {}, ToolBar::Placeholder, 0, {}, {});
    toolbar.addButton(QStringLiteral("&IP List"), QStringLiteral("mnuIpList"), ToolBar::DropDown, 0, {}, {});
    toolbar.addButton(QStringLiteral("&View"), QStringLiteral("mnuView"), ToolBar::DropDown, 0, {}, {});
    toolbar.addButton(QStringLiteral("Ale&rt"), QStringLiteral("sndAlert"), ToolBar::Check, 0, {}, {});
    toolbar.addButton(QStringLiteral("&About"), QStringLiteral("btnAbout"), ToolBar::Plain, 0, {}, {});
    toolbar.addButton(QStringLiteral("E&xit"), QStringLiteral("cmdExit"), ToolBar::Plain, 0, {}, {});
    for (const char* k : {"mnuPingN", "mnuPingC"})
        toolbar.addMenuItem(tb::Ping, QString::fromLatin1(k), QString::fromLatin1(k));
    for (const char* k : {"mnuAddIp", "mnuEdit", "mnuRem", "mnuReload"})
        toolbar.addMenuItem(tb::IpList, QString::fromLatin1(k), QString::fromLatin1(k));
    for (const char* k : {"mnuShGrd", "mnuAOT", "mnuChBoxs", "mnuSWndPos", "mnuHUS"})
        toolbar.addMenuItem(tb::View, QString::fromLatin1(k), QString::fromLatin1(k));
    toolbar.setButtonEnabled(tb::Stop, false);
}
