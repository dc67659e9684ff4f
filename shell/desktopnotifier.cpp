#include "shell/desktopnotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString ShowAction = QStringLiteral("show");
const QString DefaultAction = QStringLiteral("default");
// Left to the server: it knows how long its users want to read.
constexpr int ServerTimeout = -1;
} // namespace

DesktopNotifier::DesktopNotifier(Sender sender, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_sender(std::move(sender)), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier() = default;

bool DesktopNotifier::serverPresent() const
{
    if (!m_bus.isConnected())
        return false;
    const QDBusConnectionInterface* registry = m_bus.interface();
    if (!registry)
        return false;
    return registry->isServiceRegistered(Service).value() ||
           registry->activatableServiceNames().value().contains(Service);
}

QString DesktopNotifier::plain(const QString& text) const
{
    return m_markup ? text.toHtmlEscaped() : text;
}

bool DesktopNotifier::notify(quint64 subject, const QString& summary, const QString& body, Urgency urgency)
{
    if (!serverPresent())
        return false;
    if (!m_askedCapabilities) {
        m_askedCapabilities = true;
        auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(QDBusMessage::createMethodCall(
                                                     Service, Path, Interface, QStringLiteral("GetCapabilities"))),
                                                 this);
        connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
            const QDBusPendingReply<QStringList> reply = *done;
            if (!reply.isError())
                m_markup = reply.value().contains(QStringLiteral("body-markup"));
            done->deleteLater();
        });
    }
    const Request request{summary, body, urgency};
    if (m_inFlight.value(subject)) {
        m_waiting.insert(subject, request);
        return true;
    }
    send(subject, request);
    return true;
}

void DesktopNotifier::send(quint64 subject, const Request& request)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(request.urgency)));
    if (!m_sender.desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), m_sender.desktopEntry);
    // The summary is never read as markup; only the body is.
    call << m_sender.appName << m_idOf.value(subject) << m_sender.iconName << request.summary << plain(request.body)
         << QStringList{DefaultAction, QStringLiteral("Show"), ShowAction, QStringLiteral("Show")} << hints
         << ServerTimeout;
    m_inFlight.insert(subject, true);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, subject](QDBusPendingCallWatcher* done) { onReply(subject, done); });
}

void DesktopNotifier::onReply(quint64 subject, QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    m_inFlight.remove(subject);
    const QDBusPendingReply<uint> reply = *call;
    if (!reply.isError() && reply.value() != 0) {
        const uint old = m_idOf.value(subject);
        if (old != 0 && old != reply.value())
            m_subjectOf.remove(old);
        m_idOf.insert(subject, reply.value());
        m_subjectOf.insert(reply.value(), subject);
    }
    if (m_waiting.contains(subject))
        send(subject, m_waiting.take(subject));
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action)
{
    const auto it = m_subjectOf.constFind(id);
    if (it == m_subjectOf.cend() || (action != ShowAction && action != DefaultAction))
        return;
    Q_EMIT showRequested(it.value());
}

void DesktopNotifier::onClosed(uint id, uint reason)
{
    Q_UNUSED(reason);
    // A closed notification cannot be replaced; the subject's next one is a new one.
    const auto it = m_subjectOf.constFind(id);
    if (it == m_subjectOf.cend())
        return;
    m_idOf.remove(it.value());
    m_subjectOf.erase(it);
}
