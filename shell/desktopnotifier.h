#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusPendingCallWatcher;

// Notifications through the desktop's notification server on the session bus, one per subject
// (a host): the subject's next notification replaces the one on show instead of piling up.
// Without a server nothing is sent, and the caller can fall back to what else it has.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    enum class Urgency : uchar
    {
        Low = 0,
        Normal = 1,
        Critical = 2
    };

    // Who the notifications come from: the program's name, the name of its icon in the icon
    // theme, and the id of its desktop entry (the file name without ".desktop").
    struct Sender
    {
        QString appName;
        QString iconName;
        QString desktopEntry;
    };

    explicit DesktopNotifier(Sender sender, const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);
    ~DesktopNotifier() override;

    // A server is on the bus, or the bus can start one.
    bool serverPresent() const;
    // Sends the subject's notification, replacing its last one; false, sending nothing, without
    // a server. The texts are plain: markup in them (a host's name) is shown, never obeyed.
    bool notify(quint64 subject, const QString& summary, const QString& body, Urgency urgency);

    // The id the server gave the subject's notification on show; 0 for none.
    uint notificationId(quint64 subject) const { return m_idOf.value(subject); }

Q_SIGNALS:
    // The user chose "Show" on the subject's notification, or clicked it.
    void showRequested(quint64 subject);

private Q_SLOTS:
    // Connected by name: Qt D-Bus delivers bus signals only to slots named that way.
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    struct Request
    {
        QString summary;
        QString body;
        Urgency urgency = Urgency::Normal;
    };
    void send(quint64 subject, const Request& request);
    void onReply(quint64 subject, QDBusPendingCallWatcher* call);
    QString plain(const QString& text) const;

    Sender m_sender;
    QDBusConnection m_bus;
    QHash<quint64, uint> m_idOf;
    QHash<uint, quint64> m_subjectOf;
    // A subject's request sent while its previous one has not been answered waits for that
    // answer: only then is the id known that it must replace.
    QHash<quint64, Request> m_waiting;
    QHash<quint64, bool> m_inFlight;
    // The server reads markup in bodies unless it told us it does not; until it answers, assume so.
    bool m_markup = true;
    bool m_askedCapabilities = false;
};
