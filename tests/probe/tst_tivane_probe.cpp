// The tivane-probe command: its output lines and exit codes, all addresses probed at once
// yet printed in order, and the probe as an ordinary user, through the datagram socket or
// refused altogether.

#include "probe/mdlping.h"
#include "tests/probe/netlab.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {

const QString kTool = QStringLiteral(TIVANE_PROBE_TOOL);

struct Run
{
    int exitCode = -1;
    QStringList lines;
    QString errors;
    qint64 elapsedMs = 0;
};

Run runProgram(const QString& program, const QStringList& args)
{
    Run run;
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.elapsedMs = timer.elapsed();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

Run runTool(const QStringList& args)
{
    return runProgram(kTool, args);
}

// ADDRESS, STATUS, RTT, TEXT
QStringList fields(const QString& line)
{
    return line.split(QLatin1Char('\t'));
}

bool localIcmpPermitted()
{
    mdlPing::ICMP_ECHO_REPLY reply;
    return mdlPing::PingHost(QStringLiteral("127.0.0.1"), reply) != -1;
}

} // namespace

// The probe network for a test that needs it, as net: skips where namespaces cannot be used,
// fails where the network could not be built.
#define REQUIRE_LAB(net)                                                                                               \
    NetLab* net = lab();                                                                                               \
    if (!net)                                                                                                          \
        QSKIP(qPrintable(NetLab::unavailableReason()));                                                                \
    QVERIFY2(m_labBuilt, qPrintable(net->error()))

// Skips a test that runs the tool as another user where that user cannot be had.
#define REQUIRE_UNPRIVILEGED_RUN()                                                                                     \
    do {                                                                                                               \
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())                                       \
            QSKIP("setpriv (util-linux) is needed to run the probe as another user");                                  \
        if (runUnprivileged({QStringLiteral("--help")}).exitCode != 0)                                                 \
            QSKIP("the unprivileged user cannot run the tool from the build directory");                               \
    } while (false)

class tst_TivaneProbe : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void usage_data();
    void usage();
    void oneLinePerAddress();
    void exitCodeFollowsReplies_data();
    void exitCodeFollowsReplies();
    void invalidAddressesSendNothing();
    void unprivilegedUsesDatagramSocket();
    void unprivilegedWithoutPermission();
    void moreAddressesThanInFlightKeepTheirOrder();
    void silentHostsTakeOneTimeoutTogether();
    void namesAndIpv6AddressesAsGiven();
    void cleanupTestCase();

private:
    // The probe network, built on first use by the tests that need it; null where
    // namespaces cannot be used.
    NetLab* lab();
    // Runs the tool inside P, behind wrapper (a command and its arguments; none: as root).
    Run runInP(const QStringList& arguments, const QStringList& wrapper = {});
    // Runs the tool inside P as an unprivileged user that file capabilities cannot help.
    Run runUnprivileged(const QStringList& addresses);

    std::unique_ptr<NetLab> m_lab;
    bool m_labBuilt = false;
};

NetLab* tst_TivaneProbe::lab()
{
    if (!m_lab && NetLab::unavailableReason().isEmpty()) {
        m_lab = std::make_unique<NetLab>(QStringLiteral("t"));
        m_labBuilt = m_lab->buildProbeNetwork() && m_lab->buildIpv6Network();
    }
    return m_lab.get();
}

void tst_TivaneProbe::cleanupTestCase()
{
    m_lab.reset();
}

Run tst_TivaneProbe::runInP(const QStringList& arguments, const QStringList& wrapper)
{
    return runProgram(QStringLiteral("ip"),
                      QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_lab->name(QStringLiteral("P"))} +
                          wrapper + QStringList{kTool} + arguments);
}

Run tst_TivaneProbe::runUnprivileged(const QStringList& addresses)
{
    return runInP(addresses,
                  {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                   QStringLiteral("--clear-groups"), QStringLiteral("--no-new-privs")});
}

void tst_TivaneProbe::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("usageOnStdout");
    QTest::newRow("no arguments") << QStringList() << 2 << false;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << true;
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")} << 0 << true;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("-x")} << 2 << false;
    // Options are checked before anything is probed.
    QTest::newRow("unknown option after an address")
        << QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("--bogus")} << 2 << false;
}

void tst_TivaneProbe::usage()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(bool, usageOnStdout);
    const Run run = runTool(args);
    QCOMPARE(run.exitCode, exitCode);
    if (usageOnStdout) {
        QVERIFY(run.lines.value(0).startsWith(QLatin1String("Usage: tivane-probe")));
    } else {
        QVERIFY(run.lines.isEmpty());
        QVERIFY(run.errors.contains(QLatin1String("Usage: tivane-probe")));
    }
}

void tst_TivaneProbe::oneLinePerAddress()
{
    if (!localIcmpPermitted())
        QSKIP("ICMP is not permitted for this user");
    const Run run = runTool({QStringLiteral("127.0.0.1"), QStringLiteral("0.0.0.0"), QStringLiteral("no..such.host"),
                             QStringLiteral("127.1")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.size(), 4);

    const QStringList first = fields(run.lines[0]);
    QCOMPARE(first.size(), 4);
    QCOMPARE(first[0], QStringLiteral("127.0.0.1"));
    QCOMPARE(first[1], QStringLiteral("0"));
    QVERIFY(first[2].toInt() >= 0 && first[2].toInt() < 50);
    QCOMPARE(first[3], QStringLiteral("OK"));
    QCOMPARE(run.lines[1], QStringLiteral("0.0.0.0\t-1\t\tUnknown Response"));
    QCOMPARE(run.lines[2], QStringLiteral("no..such.host\t-1\t\tUnknown Response"));
    QVERIFY(run.lines[3].startsWith(QLatin1String("127.1\t0\t")));
    QVERIFY(run.lines[3].endsWith(QLatin1String("\tOK")));

    QCOMPARE(run.errors, QStringLiteral("tivane-probe: 0.0.0.0: not an IPv4 or IPv6 address or a host name\n"
                                        "tivane-probe: no..such.host: not an IPv4 or IPv6 address or a host name\n"));
    // Addresses that cannot be probed do not wait for anything.
    QVERIFY2(run.elapsedMs < 900, qPrintable(QString::number(run.elapsedMs)));
}

void tst_TivaneProbe::exitCodeFollowsReplies_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastStatus");
    QTest::addColumn<QString>("lastText");
    QTest::newRow("all replied") << QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")} << 0
                                 << QStringLiteral("0") << QStringLiteral("OK");
    QTest::newRow("refused send") << QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.255.255.255")} << 1
                                  << QStringLiteral("11018") << QStringLiteral("Bad Destination");
}

void tst_TivaneProbe::exitCodeFollowsReplies()
{
    if (!localIcmpPermitted())
        QSKIP("ICMP is not permitted for this user");
    QFETCH(QStringList, addresses);
    QFETCH(int, exitCode);
    QFETCH(QString, lastStatus);
    QFETCH(QString, lastText);
    const Run run = runTool(addresses);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.lines.size(), addresses.size());
    const QStringList last = fields(run.lines.last());
    QCOMPARE(last.size(), 4);
    QCOMPARE(last[0], addresses.last());
    QCOMPARE(last[1], lastStatus);
    QVERIFY(last[2].toInt() >= 0 && last[2].toInt() < 50);
    QCOMPARE(last[3], lastText);
}

void tst_TivaneProbe::invalidAddressesSendNothing()
{
    REQUIRE_LAB(net);
    const QString P = QStringLiteral("P");
    const qint64 before = net->snmpCounter(P, QStringLiteral("Icmp"), QStringLiteral("OutEchos"));
    QVERIFY(before >= 0);
    const Run run = runInP({lab::kRouter, QStringLiteral("0.0.0.0"), QStringLiteral("no..such.host")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.size(), 3);
    QCOMPARE(net->snmpCounter(P, QStringLiteral("Icmp"), QStringLiteral("OutEchos")), before + 1);
}

void tst_TivaneProbe::unprivilegedUsesDatagramSocket()
{
    REQUIRE_LAB(net);
    REQUIRE_UNPRIVILEGED_RUN();
    QVERIFY(net->sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=0 2147483647")}));

    // Without cap_net_raw only the datagram socket is left, so every answer below came
    // through it.
    const Run run = runUnprivileged(
        {lab::kRouter, lab::kSilentHost, lab::kRouterUnreachable, lab::kLocalProhibited, QStringLiteral("0.0.0.0")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.size(), 5);
    QCOMPARE(fields(run.lines[0]).value(1), QStringLiteral("0"));
    const QStringList silent = fields(run.lines[1]);
    QCOMPARE(silent.value(1), QStringLiteral("11010"));
    QVERIFY2(silent.value(2).toInt() >= 1000 && silent.value(2).toInt() <= 1100, qPrintable(run.lines[1]));
    QCOMPARE(silent.value(3), QStringLiteral("Request Timed Out"));
    QCOMPARE(fields(run.lines[2]).value(1), QStringLiteral("11003"));
    QCOMPARE(fields(run.lines[3]).value(1), QStringLiteral("11018"));
    QCOMPARE(run.lines[4], QStringLiteral("0.0.0.0\t-1\t\tUnknown Response"));
}

void tst_TivaneProbe::unprivilegedWithoutPermission()
{
    REQUIRE_LAB(net);
    REQUIRE_UNPRIVILEGED_RUN();
    QVERIFY(net->sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=1 0")}));

    const Run run = runUnprivileged({lab::kRouter});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines, QStringList{lab::kRouter + QStringLiteral("\t-1\t\tUnknown Response")});
    QCOMPARE(run.errors, QStringLiteral("tivane-probe: ") + lab::kRouter + QStringLiteral(": ") +
                             mdlPing::FailureText(mdlPing::Failure::NotPermitted) + QLatin1Char('\n'));
}

void tst_TivaneProbe::moreAddressesThanInFlightKeepTheirOrder()
{
    if (!localIcmpPermitted())
        QSKIP("ICMP is not permitted for this user");
    // More than go out at once, so some wait for a free place; answers come in any order.
    QStringList addresses;
    for (int i = 0; i < 300; ++i)
        addresses.append(QStringLiteral("127.0.%1.%2").arg(i / 200).arg(i % 200 + 1));
    addresses.insert(150, QStringLiteral("not..an.address"));
    const Run run = runTool(addresses);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.size(), addresses.size());
    for (int i = 0; i < addresses.size(); ++i) {
        const QStringList got = fields(run.lines[i]);
        QCOMPARE(got.value(0), addresses[i]);
        QCOMPARE(got.value(1), i == 150 ? QStringLiteral("-1") : QStringLiteral("0"));
    }
    QCOMPARE(run.errors, QStringLiteral("tivane-probe: not..an.address: not an IPv4 or IPv6 address or a host name\n"));

    addresses.removeAt(150);
    const Run allAnswered = runTool(addresses);
    QCOMPARE(allAnswered.exitCode, 0);
    QCOMPARE(allAnswered.lines.size(), addresses.size());
    QVERIFY(allAnswered.errors.isEmpty());
}

void tst_TivaneProbe::silentHostsTakeOneTimeoutTogether()
{
    REQUIRE_LAB(net);
    // Ten hosts that never answer among others that do at once: all requests are out
    // together, so the whole run waits about one timeout, not ten.
    QStringList addresses;
    for (int i = 0; i < 5; ++i)
        addresses << lab::kSilentHost << lab::kRouterBlackhole;
    addresses.insert(3, lab::kRouter);
    addresses.insert(7, QStringLiteral("0.0.0.0"));
    addresses.append(lab::kRouterUnreachable);
    const Run run = runInP(addresses);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.size(), addresses.size());
    QVERIFY2(run.elapsedMs < 1600, qPrintable(QString::number(run.elapsedMs)));
    for (int i = 0; i < addresses.size(); ++i) {
        const QStringList got = fields(run.lines[i]);
        QCOMPARE(got.value(0), addresses[i]);
        if (addresses[i] == lab::kRouter) {
            QCOMPARE(got.value(1), QStringLiteral("0"));
        } else if (addresses[i] == lab::kRouterUnreachable) {
            QCOMPARE(got.value(1), QStringLiteral("11003"));
        } else if (addresses[i] == QStringLiteral("0.0.0.0")) {
            QCOMPARE(run.lines[i], QStringLiteral("0.0.0.0\t-1\t\tUnknown Response"));
        } else {
            QCOMPARE(got.value(1), QStringLiteral("11010"));
            QVERIFY2(got.value(2).toInt() >= 1000 && got.value(2).toInt() <= 1100, qPrintable(run.lines[i]));
            QCOMPARE(got.value(3), QStringLiteral("Request Timed Out"));
        }
    }
}

void tst_TivaneProbe::namesAndIpv6AddressesAsGiven()
{
    // Names come from the namespace's own hosts file; its resolver is its own loopback.
    REQUIRE_LAB(net);
    const QString P = QStringLiteral("P");
    QVERIFY2(net->setNameService(P, {QStringLiteral("198.18.0.2 router.lab"), QStringLiteral("2001:db8::2 router6.lab"),
                                     QStringLiteral("2001:db8:1::2 silent.lab")}),
             qPrintable(net->error()));
    const QStringList addresses = {QStringLiteral("router.lab"),     QStringLiteral("router6.lab"),
                                   QStringLiteral("2001:DB8::2"),    QStringLiteral("::1"),
                                   QStringLiteral("gw.example.lan"), QStringLiteral("silent.lab"),
                                   lab6::kRouterProhibited,          QStringLiteral("127.1")};
    const Run run = runInP(addresses);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.lines.size(), addresses.size());
    const QStringList expected = {QStringLiteral("0"),     QStringLiteral("0"),  QStringLiteral("0"),
                                  QStringLiteral("0"),     QStringLiteral("-1"), QStringLiteral("11010"),
                                  QStringLiteral("11003"), QStringLiteral("0")};
    for (int i = 0; i < addresses.size(); ++i) {
        const QStringList got = fields(run.lines[i]);
        // Each address exactly as it was given, never the address it resolved to.
        QCOMPARE(got.value(0), addresses[i]);
        QCOMPARE(got.value(1), expected[i]);
    }
    // The resolver's own words follow (they depend on the C library's language).
    QVERIFY2(run.errors.startsWith(
                 QLatin1String("tivane-probe: gw.example.lan: host name lookup failed: gw.example.lan: ")) &&
                 run.errors.count(QLatin1Char('\n')) == 1,
             qPrintable(run.errors));
    // The silent host's timeout is all the waiting there is.
    QVERIFY2(run.elapsedMs < 1900, qPrintable(QString::number(run.elapsedMs)));
}

QTEST_GUILESS_MAIN(tst_TivaneProbe)
#include "tst_tivane_probe.moc"
