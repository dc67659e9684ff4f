#pragma once

#include "monitor/hoststats.h"
#include "shell/desktopnotifier.h"

#include <QVector>

class frmMain;

// Hosts' changes as desktop notifications of their own: one per host, replaced by its next
// change, with a "Show" that brings the window up at the host's row.
namespace hostnotices {

struct Notice
{
    monitor::HostKey host = 0;
    QString summary;
    QString body;
    DesktopNotifier::Urgency urgency = DesktopNotifier::Urgency::Normal;
};

// Bad news is urgent, good news is not; anything between (a host answering only in part) is
// normal.
DesktopNotifier::Urgency urgencyOf(monitor::HostState to);

// One notice for each notable change, in the order they happened.
QVector<Notice> noticesFor(const QVector<monitor::StateChange>& changes, qint64 nowMs,
                           const QTimeZone& zone = monitor::localZone());

// Sends the notable changes; false, sending nothing, when no notification server is there.
bool send(DesktopNotifier& notifier, const QVector<monitor::StateChange>& changes, qint64 nowMs);

// Lets the window follow "Show" on its notifications.
void connectShow(DesktopNotifier& notifier, frmMain& window);

} // namespace hostnotices
