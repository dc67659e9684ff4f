// Sweeps against a real network: the real sweep and the real ICMP engine probing from a
// namespace with a router that sends ICMP errors, local routes that refuse the send, silent
// hosts and a responder that answers late or with crafted errors. Both modes must write the
// same outcome into each row, and Stop must act while a silent host is still waited for.

#include "app/sweepview.h"
#include "app/toolbarlayout.h"
#include "monitor/sweep.h"
#include "platform/appinfo.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/toolbar.h"
#include "probe/icmpcore.h"
#include "probe/icmpengine.h"
#include "probe/prober.h"
#include "probe/statuscodes.h"
#include "resources/pictures.h"
#include "tests/probe/netlab.h"
#include "tests/support/engineoutcomes.h"
#include "tests/support/fakes.h"
#include "tests/support/netoutcomes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using mdlPing::detail::IcmpCore;
using mdlPing::detail::SocketKind;

Q_DECLARE_METATYPE(SocketKind)

namespace {

constexpr int StatusCol = 2;
constexpr int TimeCol = 3;
using netoutcomes::kSameStatus;
using netoutcomes::kScenarios;
using netoutcomes::kScenarios6;
using netoutcomes::Scenario;

// Hosts whose kernel ignores echo requests and for which the responder has no rule.
QStringList silentHosts(int n)
{
    QStringList hosts;
    for (int i = 0; i < n; ++i)
        hosts.append(QStringLiteral("198.18.1.%1").arg(100 + i));
    return hosts;
}

// A late reply the responder sends 300 ms after the request, after decoys.
const QString kLateReply = QStringLiteral("198.18.1.10");

// The controls a sweep works on, with the real probe engine.
struct Fixture
{
    Fixture()
    {
        app.Path = QStringLiteral("/opt/tivane");
        addWindowButtons(toolbar);
        toolbar.setButtonValue(tb::SoundAlert, 1);
    }

    void add(const QString& address)
    {
        const int i = list.add(address, 3);
        list.setChecked(i, true);
        list.setSubText(i, 1, address);
    }

    // Marks every row with columns an earlier sweep might have left.
    void markEarlier()
    {
        for (int row = 1; row <= list.count(); ++row) {
            list.setSubText(row, StatusCol, QStringLiteral("earlier"));
            list.setSubIcon(row, StatusCol, icons::Ok);
            list.setSubText(row, TimeCol, QStringLiteral("7"));
            list.setSubIcon(row, TimeCol, icons::Green);
        }
    }

    bool earlier(int row) const
    {
        return list.subText(row, StatusCol) == QStringLiteral("earlier") &&
               list.subText(row, TimeCol) == QStringLiteral("7");
    }

    platform::AppInfo app;
    platform::ReportList list;
    platform::ToolBar toolbar;
    platform::ProgressBar bar;
    RecordingMessageBox messages;
    IcmpProber prober;
    RecordingSoundPlayer sound;
    SweepContext ctx{list, toolbar, bar, messages, prober, sound, app};
    HostRowsModel hostRows{list.items()};
    Sweep sweep{hostRows, prober};
    SweepView view{ctx, sweep};
};

// What a sweep wrote into one row.
struct Row
{
    QString status;
    int statusIcon = 0;
    QString time;
    int timeIcon = 0;
};

QVector<Row> rows(const platform::ReportList& list)
{
    QVector<Row> written;
    for (int row = 1; row <= list.count(); ++row)
        written.append({list.subText(row, StatusCol), list.subIcon(row, StatusCol), list.subText(row, TimeCol),
                        list.subIcon(row, TimeCol)});
    return written;
}

} // namespace

class tst_SweepNetns : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void outcomeTableIsTheSameInBothModes_data();
    void outcomeTableIsTheSameInBothModes();
    void stopDuringASilentWaitActsAtOnce_data();
    void stopDuringASilentWaitActsAtOnce();
    void silentHostsAllAtOnceTakeAboutOneTimeout();
    void ipv6OutcomeTableIsTheSameInBothModes_data();
    void ipv6OutcomeTableIsTheSameInBothModes();
    void namesResolveAtEachSweepInBothModes();
    void cancelDropsALookupInProgress();

private:
    // Sweeps the scenarios one at a time and all at once and checks every row of both.
    void checkTable(const Scenario* scenarios, int n, SocketKind kind, bool rangeClosed);
    // Opens the process's endpoint again, of the given kind, inside the prober's namespace.
    bool useEndpoint(SocketKind kind);
    // Runs one sweep and waits until nothing is outstanding; the time it took, or -1.
    qint64 sweepAndSettle(Fixture& f, bool allAtOnce);

    std::unique_ptr<NetLab> m_lab;
    QProcess m_responder;
};

void tst_SweepNetns::initTestCase()
{
    const QString reason = NetLab::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason + QStringLiteral("; run as root to test sweeps against namespaces")));
    m_lab = std::make_unique<NetLab>(QStringLiteral("s"));
    QVERIFY2(m_lab->buildProbeNetwork(), qPrintable(m_lab->error()));
    QVERIFY2(m_lab->buildIpv6Network(), qPrintable(m_lab->error()));
    // Root may open datagram ICMP sockets in P too, so both kinds can be swept there.
    QVERIFY2(m_lab->sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=0 2147483647")}),
             qPrintable(m_lab->error()));

    QStringList addresses = silentHosts(10);
    QStringList rules = netoutcomes::responderRules(kScenarios, &addresses);
    QVERIFY2(m_lab->addHostAddresses(addresses), qPrintable(m_lab->error()));
    QStringList addresses6;
    rules += netoutcomes::responderRules(kScenarios6, &addresses6);
    for (const QString& address : addresses6) {
        QVERIFY2(m_lab->ip(QStringLiteral("H"), {QStringLiteral("-6"), QStringLiteral("addr"), QStringLiteral("add"),
                                                 address + QStringLiteral("/64"), QStringLiteral("dev"),
                                                 QStringLiteral("h0"), QStringLiteral("nodad")}),
                 qPrintable(m_lab->error()));
    }
    m_responder.start(QStringLiteral("ip"),
                      QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_lab->name(QStringLiteral("H")),
                                  QStringLiteral(TIVANE_ICMP_RESPONDER)} +
                          rules);
    QVERIFY2(m_responder.waitForReadyRead(5000) && m_responder.readLine().trimmed() == "ready",
             m_responder.readAllStandardError().constData());
    QVERIFY(useEndpoint(SocketKind::Automatic));
}

void tst_SweepNetns::cleanupTestCase()
{
    if (m_responder.state() != QProcess::NotRunning) {
        m_responder.kill();
        m_responder.waitForFinished(2000);
    }
    m_lab.reset();
}

bool tst_SweepNetns::useEndpoint(SocketKind kind)
{
    const std::shared_ptr<IcmpCore>& endpoint = IcmpCore::process();
    endpoint->reset(kind);
    int error = -1;
    if (!m_lab->runIn(QStringLiteral("P"), [&] { error = endpoint->open(); }) || error != 0) {
        qWarning("no ICMP endpoint in the namespace: %s",
                 qPrintable(error > 0 ? qt_error_string(error) : m_lab->error()));
        return false;
    }
    return true;
}

qint64 tst_SweepNetns::sweepAndSettle(Fixture& f, bool allAtOnce)
{
    f.sweep.setAllAtOnce(allAtOnce);
    QElapsedTimer t;
    t.start();
    f.sweep.PingList();
    if (!QTest::qWaitFor([&] { return f.sweep.isIdle(); }, 15000))
        return -1;
    return t.elapsed();
}

void tst_SweepNetns::outcomeTableIsTheSameInBothModes_data()
{
    QTest::addColumn<SocketKind>("kind");
    QTest::addColumn<bool>("rangeClosed");
    QTest::newRow("raw") << SocketKind::Raw << false;
    QTest::newRow("helper") << SocketKind::Helper << false;
    QTest::newRow("datagram") << SocketKind::Datagram << false;
    // As the programs start where only cap_net_raw lets them probe.
    QTest::newRow("automatic, datagram sockets refused") << SocketKind::Automatic << true;
}

void tst_SweepNetns::outcomeTableIsTheSameInBothModes()
{
    // Every case of the table in one list, swept one at a time and then all at once: each
    // row must show its own outcome in both, whatever the others' decoys, errors and late
    // replies do meanwhile.
    QFETCH(SocketKind, kind);
    QFETCH(bool, rangeClosed);
    checkTable(kScenarios, int(std::size(kScenarios)), kind, rangeClosed);
}

void tst_SweepNetns::ipv6OutcomeTableIsTheSameInBothModes_data()
{
    outcomeTableIsTheSameInBothModes_data();
}

void tst_SweepNetns::ipv6OutcomeTableIsTheSameInBothModes()
{
    QFETCH(SocketKind, kind);
    QFETCH(bool, rangeClosed);
    checkTable(kScenarios6, int(std::size(kScenarios6)), kind, rangeClosed);
    QCOMPARE(IcmpCore::process()->v6()->isRaw(), kind != SocketKind::Datagram);
    QCOMPARE(IcmpCore::process()->v6()->viaHelper(), kind == SocketKind::Helper || kind == SocketKind::Automatic);
}

void tst_SweepNetns::checkTable(const Scenario* scenarios, int n, SocketKind kind, bool rangeClosed)
{
    const QString range = rangeClosed ? QStringLiteral("1 0") : QStringLiteral("0 2147483647");
    QVERIFY2(m_lab->sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=") + range}),
             qPrintable(m_lab->error()));
    const bool opened = useEndpoint(kind);
    QVERIFY2(m_lab->sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=0 2147483647")}),
             qPrintable(m_lab->error()));
    QVERIFY(opened);
    QCOMPARE(IcmpCore::process()->isRaw(), kind != SocketKind::Datagram);
    QCOMPARE(IcmpCore::process()->viaHelper(), kind == SocketKind::Helper || kind == SocketKind::Automatic);

    QVector<Row> written[2];
    int alerts[2] = {};
    for (const bool allAtOnce : {false, true}) {
        Fixture f;
        for (int i = 0; i < n; ++i)
            f.add(QLatin1String(scenarios[i].address));
        f.markEarlier();
        QVERIFY(sweepAndSettle(f, allAtOnce) >= 0);
        QCOMPARE(f.bar.Value(), float(n));
        written[allAtOnce] = rows(f.list);
        alerts[allAtOnce] = int(f.sound.played.size());
    }

    QStringList wrong;
    int failures = 0;
    for (int i = 0; i < n; ++i) {
        const Scenario& s = scenarios[i];
        const bool datagramDiffers = kind == SocketKind::Datagram && s.datagramStatus != kSameStatus;
        const std::int32_t status = datagramDiffers ? s.datagramStatus : s.status;
        const int minRtt = datagramDiffers ? 1000 : s.minRtt;
        const int maxRtt = datagramDiffers ? 1100 : s.maxRtt;
        const int statusIcon = status == 0 ? icons::Ok : status == 11010 ? icons::Timeout : icons::Failed;
        failures += status != 0 && status != 11010;
        for (const bool allAtOnce : {false, true}) {
            const Row& row = written[allAtOnce][i];
            bool isNumber = false;
            const int rtt = row.time.toInt(&isNumber);
            if (row.status != Sweep::statusText(status) || row.statusIcon != statusIcon || !isNumber || rtt < minRtt ||
                rtt > maxRtt || row.timeIcon != SweepView::rttIcon(rtt))
                wrong.append(QStringLiteral("%1 (%2): \"%3\", %4 ms")
                                 .arg(QLatin1String(s.name),
                                      allAtOnce ? QStringLiteral("all at once") : QStringLiteral("one at a time"),
                                      row.status, row.time));
        }
        if (written[0][i].status != written[1][i].status || written[0][i].statusIcon != written[1][i].statusIcon)
            wrong.append(QStringLiteral("%1: the modes disagree").arg(QLatin1String(s.name)));
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    // The alert sounds once per failed entry in either mode; a timeout is no failure.
    QCOMPARE(alerts[0], failures);
    QCOMPARE(alerts[1], failures);
}

void tst_SweepNetns::stopDuringASilentWaitActsAtOnce_data()
{
    QTest::addColumn<bool>("allAtOnce");
    QTest::newRow("one at a time") << false;
    QTest::newRow("all at once") << true;
}

void tst_SweepNetns::stopDuringASilentWaitActsAtOnce()
{
    // The user presses Stop 150 ms into a silent host's wait: the window must see it then,
    // not when the wait is over, and the buttons flip in the same moment.
    QFETCH(bool, allAtOnce);
    QVERIFY(useEndpoint(SocketKind::Automatic));
    Fixture f;
    f.add(lab::kSilentHost);
    f.add(kLateReply);
    f.add(lab::kRouter);
    f.markEarlier();
    f.sweep.setAllAtOnce(allAtOnce);

    qint64 stoppedAtMs = -1;
    bool pingEnabled = false;
    bool stopEnabled = true;
    bool running = true;
    bool idle = false;
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(150, &f.sweep, [&] {
        stoppedAtMs = t.elapsed();
        f.sweep.stop();
        pingEnabled = f.toolbar.isButtonEnabled(tb::Ping);
        stopEnabled = f.toolbar.isButtonEnabled(tb::Stop);
        running = f.sweep.isRunning();
        idle = f.sweep.isIdle();
    });
    f.sweep.PingList();
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(f.toolbar.isButtonEnabled(tb::Stop));
    QTRY_VERIFY_WITH_TIMEOUT(stoppedAtMs >= 0, 3000);
    // A window blocked in the wait would see the click only after the 1000 ms timeout.
    QVERIFY2(stoppedAtMs < 800, qPrintable(QString::number(stoppedAtMs)));
    QVERIFY(pingEnabled);
    QVERIFY(!stopEnabled);
    QVERIFY(!running);

    if (!allAtOnce) {
        // The silent host is still probed to its end and written; nothing after it is visited.
        QVERIFY(!idle);
        QTRY_VERIFY_WITH_TIMEOUT(f.sweep.isIdle(), 3000);
        QCOMPARE(f.list.subText(1, StatusCol), Sweep::statusText(11010));
        QVERIFY(f.list.subText(1, TimeCol).toInt() >= 1000);
        QVERIFY(f.earlier(2));
        QVERIFY(f.earlier(3));
        return;
    }

    // Every request in flight is abandoned at once. The router had answered before the Stop;
    // the other two keep their earlier columns, also once the late reply and the timeout
    // have come and gone, which a probe of our own to the silent host waits out.
    QVERIFY(idle);
    QCOMPARE(f.list.subText(3, StatusCol), QStringLiteral("OK"));
    mdlPing::IcmpEngine witness;
    QSignalSpy finished(&witness, &mdlPing::IcmpEngine::finished);
    witness.start(lab::kSilentHost);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 3000);
    QCOMPARE(spread(finished).at(0).at(1).toInt(), 11010);
    QVERIFY(f.earlier(1));
    QVERIFY(f.earlier(2));
    QVERIFY(f.sweep.isIdle());
    QVERIFY(f.sound.played.isEmpty());
}

void tst_SweepNetns::silentHostsAllAtOnceTakeAboutOneTimeout()
{
    // One at a time, ten silent hosts take ten seconds; all at once they wait together.
    QVERIFY(useEndpoint(SocketKind::Automatic));
    Fixture f;
    const QStringList hosts = silentHosts(10);
    for (const QString& host : hosts)
        f.add(host);
    const qint64 ms = sweepAndSettle(f, true);
    QVERIFY2(ms >= 1000 && ms < 5000, qPrintable(QString::number(ms)));
    for (int row = 1; row <= f.list.count(); ++row) {
        QCOMPARE(f.list.subText(row, StatusCol), Sweep::statusText(11010));
        QVERIFY(f.list.subText(row, TimeCol).toInt() >= 1000);
    }
    QCOMPARE(f.bar.Value(), float(hosts.size()));
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepNetns::namesResolveAtEachSweepInBothModes()
{
    // Names from the namespace's own hosts file, looked up again at each sweep: a name
    // that moves to another address is probed there next time, and the row says where.
    QVERIFY(useEndpoint(SocketKind::Automatic));
    const QStringList hosts = {QStringLiteral("198.18.0.2 router.lab"), QStringLiteral("198.18.0.2 both.lab"),
                               QStringLiteral("2001:db8::2 both.lab"), QStringLiteral("2001:db8:1::2 silent.lab"),
                               QStringLiteral("198.18.0.2 moving.lab")};
    QVERIFY2(m_lab->setNameService(QStringLiteral("P"), hosts), qPrintable(m_lab->error()));
    const QString hostsFile =
        QStringLiteral("/etc/netns/") + m_lab->name(QStringLiteral("P")) + QStringLiteral("/hosts");
    const QStringList names = {QStringLiteral("router.lab"), QStringLiteral("both.lab"),
                               QStringLiteral("silent.lab"), QStringLiteral("gw.example.lan"),
                               QStringLiteral("moving.lab"), QStringLiteral("::1"),
                               QStringLiteral("127.1")};

    QStringList wrong;
    auto expect = [&](bool condition, const QString& what) {
        if (!condition)
            wrong.append(what);
    };
    const bool entered = m_lab->runIn(QStringLiteral("P"), [&] {
        for (const bool allAtOnce : {false, true}) {
            const QString mode = allAtOnce ? QStringLiteral("all at once: ") : QStringLiteral("one at a time: ");
            QFile file(hostsFile);
            // Rewritten in place: the namespace sees the file it mounted.
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                file.write((hosts.join(QLatin1Char('\n')) + QStringLiteral("\n")).toUtf8()) < 0)
                return expect(false, QStringLiteral("cannot rewrite ") + hostsFile);
            file.close();

            Fixture f;
            for (const QString& name : names)
                f.add(name);
            for (int sweep = 0; sweep < 2; ++sweep) {
                if (sweep == 1) {
                    // moving.lab moves to IPv6 between the sweeps.
                    QFile moved(hostsFile);
                    if (!moved.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                        moved.write("2001:db8::2 moving.lab\n") < 0)
                        return expect(false, QStringLiteral("cannot rewrite ") + hostsFile);
                }
                QElapsedTimer t;
                t.start();
                if (sweepAndSettle(f, allAtOnce) < 0)
                    return expect(false, mode + QStringLiteral("the sweep did not end"));
                const QString tip1 = f.list.subToolTip(1, StatusCol);
                if (sweep == 1) {
                    expect(f.list.subText(5, StatusCol) == QStringLiteral("OK") &&
                               f.list.subToolTip(5, StatusCol) == QStringLiteral("probed 2001:db8::2"),
                           mode + QStringLiteral("moving.lab after its move: ") + f.list.subToolTip(5, StatusCol));
                    // Every other name has gone from the file: now none of them resolves.
                    expect(f.list.subText(1, StatusCol) == Sweep::statusText(-1) &&
                               tip1.contains(QStringLiteral("router.lab")),
                           mode + QStringLiteral("router.lab once gone: ") + tip1);
                    continue;
                }
                expect(f.list.subText(1, StatusCol) == QStringLiteral("OK") &&
                           tip1 == QStringLiteral("probed 198.18.0.2"),
                       mode + QStringLiteral("router.lab: ") + f.list.subText(1, StatusCol) + QLatin1Char('/') + tip1);
                // The system's order decides which of the two addresses is used.
                const QString tip2 = f.list.subToolTip(2, StatusCol);
                expect(
                    f.list.subText(2, StatusCol) == QStringLiteral("OK") &&
                        (tip2 == QStringLiteral("probed 2001:db8::2") || tip2 == QStringLiteral("probed 198.18.0.2")),
                    mode + QStringLiteral("both.lab: ") + tip2);
                expect(f.list.subText(3, StatusCol) == Sweep::statusText(11010) &&
                           f.list.subToolTip(3, StatusCol) == QStringLiteral("Request Timed Out\nprobed 2001:db8:1::2"),
                       mode + QStringLiteral("silent.lab: ") + f.list.subToolTip(3, StatusCol));
                // An unknown name sent nothing and says why; the resolver refused at once.
                const QString tip4 = f.list.subToolTip(4, StatusCol);
                expect(f.list.subText(4, StatusCol) == Sweep::statusText(-1) && f.list.subText(4, TimeCol).isEmpty() &&
                           tip4.startsWith(QStringLiteral("host name ")) &&
                           tip4.contains(QStringLiteral("gw.example.lan")),
                       mode + QStringLiteral("gw.example.lan: ") + tip4);
                expect(f.list.subToolTip(5, StatusCol) == QStringLiteral("probed 198.18.0.2"),
                       mode + QStringLiteral("moving.lab: ") + f.list.subToolTip(5, StatusCol));
                expect(f.list.subText(6, StatusCol) == QStringLiteral("OK") &&
                           f.list.subToolTip(6, StatusCol) == QStringLiteral("probed ::1"),
                       mode + QStringLiteral("::1: ") + f.list.subToolTip(6, StatusCol));
                // The classic IPv4 forms are never looked up.
                expect(f.list.subToolTip(7, StatusCol) == QStringLiteral("probed 127.0.0.1"),
                       mode + QStringLiteral("127.1: ") + f.list.subToolTip(7, StatusCol));
            }
        }
    });
    QVERIFY2(entered, qPrintable(m_lab->error()));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
}

void tst_SweepNetns::cancelDropsALookupInProgress()
{
    QVERIFY(useEndpoint(SocketKind::Automatic));
    QVERIFY2(m_lab->setNameService(QStringLiteral("P"), {QStringLiteral("198.18.0.2 router.lab")}),
             qPrintable(m_lab->error()));
    QList<quint64> reported;
    quint64 kept = 0;
    int lookupsAfter = -1;
    const bool entered = m_lab->runIn(QStringLiteral("P"), [&] {
        mdlPing::IcmpEngine engine;
        QObject::connect(&engine, &mdlPing::IcmpEngine::finished, &engine,
                         [&](quint64 id, const mdlPing::Outcome&) { reported.append(id); });
        // One cancelled alone, two more by cancelAll, all while their lookups run.
        const quint64 cancelled = engine.start(QStringLiteral("router.lab"));
        engine.start(QStringLiteral("router.lab"));
        engine.start(QStringLiteral("198.18.0.2"));
        engine.cancel(cancelled);
        engine.cancelAll();
        kept = engine.start(QStringLiteral("router.lab"));
        // Once no lookup is outstanding, every late answer has been seen and dropped.
        if (QTest::qWaitFor([&] { return engine.lookupsRunning() == 0 && engine.pending() == 0; }, 5000))
            lookupsAfter = engine.lookupsRunning();
    });
    QVERIFY2(entered, qPrintable(m_lab->error()));
    QCOMPARE(lookupsAfter, 0);
    QCOMPARE(reported, QList<quint64>{kept});
}

QTEST_MAIN(tst_SweepNetns)
#include "tst_sweep_netns.moc"
