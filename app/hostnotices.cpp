#include "app/hostnotices.h"

#include "app/frmmain.h"
#include "platform/reportlist.h"
#include "probe/mdlping.h"

namespace hostnotices {

using monitor::HostState;

DesktopNotifier::Urgency urgencyOf(HostState to)
{
    switch (to) {
    case HostState::Down:
        return DesktopNotifier::Urgency::Critical;
    case HostState::Up:
        return DesktopNotifier::Urgency::Low;
    default:
        return DesktopNotifier::Urgency::Normal;
    }
}

QVector<Notice> noticesFor(const QVector<monitor::StateChange>& changes, qint64 nowMs, const QTimeZone& zone)
{
    QVector<Notice> out;
    for (const monitor::StateChange& c : changes) {
        if (!c.notable())
            continue;
        Notice n;
        n.host = c.key;
        n.urgency = urgencyOf(c.to);
        const QString host = monitor::hostLabel(c.name, c.address);
        if (c.to == HostState::Degraded) {
            n.summary = QStringLiteral("%1 is degraded").arg(host);
            n.body = QStringLiteral("Losing or slow since %1").arg(monitor::formatMoment(c.sinceMs, nowMs, zone));
        } else if (c.to == HostState::Down) {
            n.summary = QStringLiteral("%1 is down").arg(host);
            const QString why =
                c.status == -1 ? QStringLiteral("No request could be sent") : mdlPing::GetStatusText(c.status);
            n.body = QStringLiteral("%1 since %2").arg(why, monitor::formatMoment(c.sinceMs, nowMs, zone));
        } else {
            n.summary = QStringLiteral("%1 is up again").arg(host);
            const qint64 outage = c.previousDurationMs();
            const QString was = c.from == HostState::Degraded ? QStringLiteral("degraded") : QStringLiteral("down");
            n.body =
                outage >= 0 ? QStringLiteral("It was %1 for %2.").arg(was, monitor::formatDuration(outage)) : QString();
        }
        out.append(n);
    }
    return out;
}

bool send(DesktopNotifier& notifier, const QVector<monitor::StateChange>& changes, qint64 nowMs)
{
    const QVector<Notice> notices = noticesFor(changes, nowMs);
    if (notices.isEmpty() || !notifier.serverPresent())
        return false;
    for (const Notice& n : notices)
        notifier.notify(n.host, n.summary, n.body, n.urgency);
    return true;
}

void connectShow(DesktopNotifier& notifier, frmMain& window)
{
    QObject::connect(&notifier, &DesktopNotifier::showRequested, &window, [&window](quint64 host) {
        if (window.isUnloaded())
            return;
        window.mnuShow_Click();
        // The host may have been removed since; then the window alone is shown.
        if (const int row = window.lstPings->items()->indexOfKey(host); row > 0) {
            window.lstPings->select(row);
            window.lstPings->ensureVisible(row);
        }
    });
}

} // namespace hostnotices
