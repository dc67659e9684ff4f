// Stands in for a desktop's D-Bus services on a private session bus and records what it is asked:
//
//   tivane-dbus-standin RECORD [notifications] [watcher]
//
// notifications: org.freedesktop.Notifications. Each Notify is written to RECORD as one JSON
// line; ids count up from 1, and a Notify that replaces an id keeps it.
// watcher: org.kde.StatusNotifierWatcher with a host, so that a tray icon becomes a
// StatusNotifierItem; each registration is written to RECORD.
// Lines on standard input make it speak: "invoke ID ACTION" emits ActionInvoked, "close ID"
// NotificationClosed, "quit" ends it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QVariantMap>
#include <cstdio>
#include <unistd.h>

namespace {

QString g_record;

void record(const QJsonObject& line)
{
    QFile f(g_record);
    if (!f.open(QIODevice::Append))
        return;
    f.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace

class Notifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    using QObject::QObject;

public Q_SLOTS:
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = QStringLiteral("stand-in");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("stand-in");
    }
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_lastId;
        QJsonObject hintsOut;
        for (auto it = hints.cbegin(); it != hints.cend(); ++it)
            hintsOut.insert(it.key(), QStringLiteral("%1 (%2)").arg(it.value().metaType().id() == QMetaType::UChar
                                                                        ? QString::number(it.value().value<uchar>())
                                                                        : it.value().toString(),
                                                                    QString::fromLatin1(it.value().typeName())));
        record({{QStringLiteral("call"), QStringLiteral("Notify")},
                {QStringLiteral("app_name"), appName},
                {QStringLiteral("replaces_id"), qint64(replacesId)},
                {QStringLiteral("app_icon"), appIcon},
                {QStringLiteral("summary"), summary},
                {QStringLiteral("body"), body},
                {QStringLiteral("actions"), QJsonArray::fromStringList(actions)},
                {QStringLiteral("hints"), hintsOut},
                {QStringLiteral("expire_timeout"), expireTimeout},
                {QStringLiteral("id"), qint64(id)}});
        return id;
    }
    void CloseNotification(uint id) { Q_EMIT NotificationClosed(id, 3); }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    uint m_lastId = 0;
};

class Watcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    using QObject::QObject;
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service)
    {
        const QString sender = calledFromDBus() ? message().service() : QString();
        m_items.append(service);
        record({{QStringLiteral("call"), QStringLiteral("RegisterStatusNotifierItem")},
                {QStringLiteral("service"), service},
                {QStringLiteral("sender"), sender}});
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString& service) { Q_UNUSED(service); }

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fputs("usage: tivane-dbus-standin RECORD [notifications] [watcher]\n", stderr);
        return 2;
    }
    g_record = args.at(1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fputs("tivane-dbus-standin: no session bus\n", stderr);
        return 1;
    }
    Notifications notifications;
    Watcher watcher;
    constexpr auto exported =
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties;
    if (args.contains(QStringLiteral("notifications"))) {
        bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications, exported);
        bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    if (args.contains(QStringLiteral("watcher"))) {
        bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, exported);
        bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[256];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        for (const QByteArray& command : QByteArray(line, int(n)).split('\n')) {
            const QList<QByteArray> words = command.simplified().split(' ');
            if (words.value(0) == "invoke" && words.size() == 3)
                Q_EMIT notifications.ActionInvoked(words.at(1).toUInt(), QString::fromUtf8(words.at(2)));
            else if (words.value(0) == "close" && words.size() == 2)
                Q_EMIT notifications.NotificationClosed(words.at(1).toUInt(), 2);
            else if (words.value(0) == "quit")
                QCoreApplication::quit();
        }
    });
    return app.exec();
}

#include "dbusstandin.moc"
