// The program on a desktop's session bus, with stand-ins for the desktop's services on a bus of
// the test's own: notifications through the notification server (with and without a tray, and
// the tray's balloons when there is no server), and the tray as a StatusNotifierItem whose menu
// is exported for the host to draw.
#include "app/frmmain.h"
#include "app/hostnotices.h"
#include "app/hostwatch.h"
#include "app/standardservices.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/toolbar.h"
#include "resources/artwork.h"
#include "shell/desktopnotifier.h"
#include "shell/mdlmore.h"
#include "tests/app/windowharness.h"
#include "tests/support/privatebus.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// The stand-in services in a process of their own, as a desktop's would be.
struct StandIn
{
    explicit StandIn(const QStringList& services)
    {
        record = dir.filePath(QStringLiteral("calls.jsonl"));
        process.start(QStringLiteral(TIVANE_STANDIN), QStringList{record} + services);
    }
    ~StandIn()
    {
        process.write("quit\n");
        if (!process.waitForFinished(3000))
            process.kill();
    }
    QList<QJsonObject> calls(const QString& name) const
    {
        QList<QJsonObject> out;
        QFile f(record);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value(QStringLiteral("call")).toString() == name)
                out.append(o);
        }
        return out;
    }
    void say(const QByteArray& line) { process.write(line + '\n'); }

    QTemporaryDir dir;
    QString record;
    QProcess process;
};

bool registered(const QString& service)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value();
}

// The window with the desktop's notification server beside the tray it is given.
struct Harness : WindowHarness
{
    frmMain& make(TrayPort* port)
    {
        MainServices s = services();
        s.tray = port;
        s.notifier = &notifier;
        frmMain& w = open(s);
        hostnotices::connectShow(notifier, w);
        w.Form_Load();
        return w;
    }

    DesktopNotifier notifier{{QStringLiteral("Tivane"), QStringLiteral("tivane"), QStringLiteral("tivane")}};
};

// One item of an exported menu, as a host reads it.
struct MenuItem
{
    int id = 0;
    QVariantMap properties;
    QList<MenuItem> children;
};

MenuItem readItem(const QDBusArgument& arg)
{
    MenuItem item;
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        item.children.append(readItem(child.variant().value<QDBusArgument>()));
    }
    arg.endArray();
    arg.endStructure();
    return item;
}

// Waits for a call to another connection of this process, whose answer needs this event loop.
QDBusMessage callAndWait(const QDBusMessage& call)
{
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 10000))
        return QDBusMessage();
    return pending.reply();
}

} // namespace

class tst_DesktopBus : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void changesGoToTheNotificationServerTrayOrNot_data();
    void changesGoToTheNotificationServerTrayOrNot();
    void withoutAServerOnlyTheTrayTells_data();
    void withoutAServerOnlyTheTrayTells();
    void theTrayExportsItsMenuAndNameToAStatusNotifierHost();
};

void tst_DesktopBus::changesGoToTheNotificationServerTrayOrNot_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("no tray") << false;
    QTest::newRow("tray") << true;
}

void tst_DesktopBus::changesGoToTheNotificationServerTrayOrNot()
{
    QFETCH(bool, tray);
    StandIn server({QStringLiteral("notifications")});
    QTRY_VERIFY(registered(QStringLiteral("org.freedesktop.Notifications")));
    Harness h;
    h.tray.available = tray;
    frmMain& w = h.make(&h.tray);
    monitor::AlertRules rules;
    rules.degradedLossPercent = 0; // down and back only: the outages would make it degraded too
    w.watch().setRules(rules);
    h.sweep();
    h.prober.set(QStringLiteral("127.0.0.3"), 11010);
    h.sweep(3);
    QTRY_COMPARE(server.calls(QStringLiteral("Notify")).size(), 1);
    const QJsonObject down = server.calls(QStringLiteral("Notify")).first();
    qInfo().noquote() << "recorded:" << QJsonDocument(down).toJson(QJsonDocument::Compact);
    QCOMPARE(down.value(QStringLiteral("app_name")).toString(), QStringLiteral("Tivane"));
    QCOMPARE(down.value(QStringLiteral("app_icon")).toString(), QStringLiteral("tivane"));
    QCOMPARE(down.value(QStringLiteral("replaces_id")).toInt(), 0);
    QCOMPARE(down.value(QStringLiteral("summary")).toString(), QStringLiteral("x (127.0.0.3) is down"));
    QVERIFY2(down.value(QStringLiteral("body")).toString().startsWith(QLatin1String("Request Timed Out since ")),
             qPrintable(down.value(QStringLiteral("body")).toString()));
    const QJsonObject hints = down.value(QStringLiteral("hints")).toObject();
    QCOMPARE(hints.value(QStringLiteral("urgency")).toString(), QStringLiteral("2 (uchar)"));
    QCOMPARE(hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("tivane (QString)"));
    QCOMPARE(down.value(QStringLiteral("actions")).toArray().toVariantList(),
             (QVariantList{QStringLiteral("default"), QStringLiteral("Show"), QStringLiteral("show"),
                           QStringLiteral("Show")}));
    // The desktop tells it; a balloon as well would tell it twice.
    QVERIFY(h.tray.messages.isEmpty());

    // Back up: the same notification is replaced, with low urgency.
    h.prober.set(QStringLiteral("127.0.0.3"), 0, 1);
    h.sweep();
    QTRY_COMPARE(server.calls(QStringLiteral("Notify")).size(), 2);
    const QJsonObject up = server.calls(QStringLiteral("Notify")).last();
    QCOMPARE(up.value(QStringLiteral("replaces_id")).toInt(), down.value(QStringLiteral("id")).toInt());
    QCOMPARE(up.value(QStringLiteral("summary")).toString(), QStringLiteral("x (127.0.0.3) is up again"));
    QCOMPARE(up.value(QStringLiteral("hints")).toObject().value(QStringLiteral("urgency")).toString(),
             QStringLiteral("0 (uchar)"));
    QVERIFY(h.tray.messages.isEmpty());

    // "Show" brings the window up at the host's row, wherever the list was sorted.
    w.hide();
    w.lstPings_ColumnClick(1);
    w.lstPings_ColumnClick(1); // descending: x first
    server.say("invoke " + QByteArray::number(up.value(QStringLiteral("id")).toInt()) + " show");
    QTRY_VERIFY(w.isVisible());
    QCOMPARE(w.lstPings->text(w.lstPings->selectedIndex()), QStringLiteral("x"));
    // A notification the user closed is not replaced: the next change is a new one.
    server.say("close " + QByteArray::number(up.value(QStringLiteral("id")).toInt()));
    h.prober.set(QStringLiteral("127.0.0.3"), 11010);
    QTest::qWait(50);
    h.sweep(3);
    QTRY_COMPARE(server.calls(QStringLiteral("Notify")).size(), 3);
    QCOMPARE(server.calls(QStringLiteral("Notify")).last().value(QStringLiteral("replaces_id")).toInt(), 0);
}

void tst_DesktopBus::withoutAServerOnlyTheTrayTells_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("tray: its balloon") << true;
    QTest::newRow("no tray: nothing") << false;
}

void tst_DesktopBus::withoutAServerOnlyTheTrayTells()
{
    QFETCH(bool, tray);
    QTRY_VERIFY(!registered(QStringLiteral("org.freedesktop.Notifications")));
    Harness h;
    h.tray.available = tray;
    h.make(&h.tray);
    h.prober.set(QStringLiteral("127.0.0.3"), 11010);
    h.sweep(3);
    QCOMPARE(h.tray.messages.size(), tray ? 1 : 0);
    QCOMPARE(h.notifier.notificationId(3), 0u);
}

void tst_DesktopBus::theTrayExportsItsMenuAndNameToAStatusNotifierHost()
{
    // A theme that has the program's icon, as an installed one does.
    QTemporaryDir themes;
    QVERIFY(QDir(themes.path()).mkpath(QStringLiteral("hicolor/48x48/apps")));
    writeBytes(themes.filePath(QStringLiteral("hicolor/index.theme")),
               "[Icon Theme]\nName=hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
    for (int state = 1; state <= artwork::TrayImageCount; ++state)
        QVERIFY(artwork::trayIcon(state).pixmap(48).save(
            themes.filePath(QStringLiteral("hicolor/48x48/apps/%1.png").arg(artwork::trayIconName(state)))));
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("hicolor"));

    StandIn watcher({QStringLiteral("watcher")});
    QTRY_VERIFY(registered(QStringLiteral("org.kde.StatusNotifierWatcher")));
    mdlMore::TrayIcon icon;
    QVERIFY(icon.followsHost());
    SystemTray port(icon);
    Harness h;
    frmMain& w = h.make(&port);
    QObject::connect(&icon, &mdlMore::TrayIcon::mouseEvent, &w, &frmMain::pctTrayIcon_MouseMove);
    QVERIFY(icon.menuExported());
    w.showAtStart(true);
    QTRY_COMPARE(watcher.calls(QStringLiteral("RegisterStatusNotifierItem")).size(), 1);
    const QJsonObject item = watcher.calls(QStringLiteral("RegisterStatusNotifierItem")).first();
    QString service = item.value(QStringLiteral("service")).toString();
    if (service.startsWith(u'/'))
        service = item.value(QStringLiteral("sender")).toString();

    QDBusMessage get =
        QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    get << QStringLiteral("org.kde.StatusNotifierItem");
    const QDBusMessage props = callAndWait(get);
    QCOMPARE(props.type(), QDBusMessage::ReplyMessage);
    const QVariantMap itemProps = qdbus_cast<QVariantMap>(props.arguments().value(0));
    const QString menuPath = qdbus_cast<QDBusObjectPath>(itemProps.value(QStringLiteral("Menu"))).path();
    QVERIFY2(!menuPath.isEmpty() && menuPath != QLatin1String("/NO_DBUSMENU"), qPrintable(menuPath));
    // The state's picture by name, and the pictures themselves for hosts without the theme.
    QCOMPARE(itemProps.value(QStringLiteral("IconName")).toString(), QStringLiteral("tivane-idle"));
    QVERIFY(itemProps.contains(QStringLiteral("IconPixmap")));

    // The items as the host reads them, "(off)" marking those it must draw disabled.
    QHash<QString, int> ids;
    const auto menuLabels = [&] {
        QDBusMessage call = QDBusMessage::createMethodCall(service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                                           QStringLiteral("GetLayout"));
        call << 0 << -1 << QStringList();
        const QDBusMessage layout = callAndWait(call);
        QStringList labels;
        for (const MenuItem& child : readItem(layout.arguments().value(1).value<QDBusArgument>()).children) {
            if (child.properties.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
                continue;
            const QString label = child.properties.value(QStringLiteral("label")).toString();
            ids.insert(label, child.id);
            const bool enabled = child.properties.value(QStringLiteral("enabled"), true).toBool();
            labels.append(label + (enabled ? QString() : QStringLiteral(" (off)")));
        }
        return labels;
    };
    const auto choose = [&](const QString& label) {
        QDBusMessage event = QDBusMessage::createMethodCall(service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                                            QStringLiteral("Event"));
        event << ids.value(label) << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
        return callAndWait(event).type() == QDBusMessage::ReplyMessage;
    };
    QCOMPARE(menuLabels(),
             (QStringList{QStringLiteral("_About\u2026"), QStringLiteral("_Show"), QStringLiteral("E_xit"),
                          QStringLiteral("Ping"), QStringLiteral("Ping Continuus"), QStringLiteral("Stop")}));

    // Chosen in the host's menu, Ping Continuus starts a run; the items follow the toolbar.
    QVERIFY(choose(QStringLiteral("Ping Continuus")));
    QTRY_VERIFY(w.sweep().isRunning());
    QTRY_COMPARE(menuLabels().mid(3), (QStringList{QStringLiteral("Ping (off)"), QStringLiteral("Ping Continuus (off)"),
                                                   QStringLiteral("Stop")}));
    QVERIFY(choose(QStringLiteral("Stop")));
    QTRY_VERIFY(!w.sweep().isRunning());
    QTRY_COMPARE(menuLabels().mid(3),
                 (QStringList{QStringLiteral("Ping"), QStringLiteral("Ping Continuus"), QStringLiteral("Stop (off)")}));

    // Activate shows the window hidden in the tray.
    QVERIFY(!w.isVisible());
    QDBusMessage activate =
        QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    activate << 0 << 0;
    callAndWait(activate);
    QTRY_VERIFY(w.isVisible());

    // Exit from the host's menu ends the window, removing the icon whose menu it came from.
    QVERIFY(choose(QStringLiteral("E_xit")));
    QTRY_VERIFY(w.isUnloaded());
    QVERIFY(!icon.isShown());
}

int main(int argc, char* argv[])
{
    reexecOnPrivateBus(argc, argv, TIVANE_BUS_CONFIG, true);
    QApplication app(argc, argv);
    tst_DesktopBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopbus.moc"
