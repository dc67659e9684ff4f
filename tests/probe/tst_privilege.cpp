// Both programs open their ICMP endpoint first and then give up every capability, so no
// code that runs later (Qt plugins named by the environment included) holds one. Checked
// on a helper that starts the same way, and on the running tivane-probe.

#include "tests/probe/netlab.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

#include <memory>

namespace {

const QString kHelper = QStringLiteral(TIVANE_PRIVILEGE_HELPER);
const QString kTool = QStringLiteral(TIVANE_PROBE_TOOL);
const QString kNoCapabilities = QStringLiteral("0000000000000000");

QHash<QString, QString> runHelper(const QString& program, const QStringList& args)
{
    QHash<QString, QString> values;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(program, args);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return values;
    }
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    values.insert(QStringLiteral("exit"), QString::number(process.exitCode()));
    return values;
}

QString capabilitiesOf(qint64 pid, const QString& set)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() == 2 && parts[0] == set.toLatin1() + ':')
            return QString::fromLatin1(parts[1]);
    }
    return {};
}

} // namespace

class tst_Privilege : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void nothingLeftOnceQtRuns_data();
    void nothingLeftOnceQtRuns();
    void rawEndpointOutlivesTheDrop();
    void brokenRawEndpointCannotComeBack();
    void probeToolHoldsNothingWhileItWaits();

private:
    std::unique_ptr<NetLab> m_lab;
};

void tst_Privilege::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("the capabilities to give up are only there for root (or a program given cap_net_raw)");
}

void tst_Privilege::cleanupTestCase()
{
    m_lab.reset();
}

void tst_Privilege::nothingLeftOnceQtRuns_data()
{
    QTest::addColumn<QStringList>("asUser");
    QTest::addColumn<bool>("datagramAllowed");
    // Root starts with every capability; an ordinary user given only cap_net_raw (as
    // setcap gives it to the installed programs) starts with that one. Where datagram
    // sockets are allowed no raw socket may be opened at all; elsewhere they go to helpers.
    const QStringList user{QStringLiteral("setpriv"),
                           QStringLiteral("--reuid=65534"),
                           QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups"),
                           QStringLiteral("--inh-caps=+net_raw"),
                           QStringLiteral("--ambient-caps=+net_raw")};
    QTest::newRow("root, datagram sockets allowed") << QStringList() << true;
    QTest::newRow("root, datagram sockets refused") << QStringList() << false;
    QTest::newRow("user with cap_net_raw, datagram sockets allowed") << user << true;
    QTest::newRow("user with cap_net_raw, datagram sockets refused") << user << false;
}

void tst_Privilege::nothingLeftOnceQtRuns()
{
    QFETCH(QStringList, asUser);
    QFETCH(bool, datagramAllowed);
    if (!NetLab::unavailableReason().isEmpty())
        QSKIP(qPrintable(NetLab::unavailableReason()));
    if (!asUser.isEmpty()) {
        if (QStandardPaths::findExecutable(asUser.first()).isEmpty())
            QSKIP("setpriv (util-linux) is needed to run the helper as another user");
        if (runHelper(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"), QStringLiteral("test"), QStringLiteral("-x"), kHelper})
                .value(QStringLiteral("exit")) != QStringLiteral("0"))
            QSKIP("the unprivileged user cannot run the helper from the build directory");
    }
    NetLab lab(QStringLiteral("q"));
    QVERIFY2(lab.addNamespace(QStringLiteral("P")), qPrintable(lab.error()));
    const QString range = datagramAllowed ? QStringLiteral("0 2147483647") : QStringLiteral("1 0");
    QVERIFY2(lab.sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=") + range}),
             qPrintable(lab.error()));
    const QHash<QString, QString> seen =
        runHelper(QStringLiteral("ip"),
                  QStringList{QStringLiteral("netns"), QStringLiteral("exec"), lab.name(QStringLiteral("P"))} + asUser +
                      QStringList{kHelper});
    QCOMPARE(seen.value(QStringLiteral("exit")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("dropped")), QStringLiteral("1"));
    QCOMPARE(seen.value(QStringLiteral("CapEff")), kNoCapabilities);
    QCOMPARE(seen.value(QStringLiteral("CapPrm")), kNoCapabilities);
    QCOMPARE(seen.value(QStringLiteral("CapInh")), kNoCapabilities);
    QCOMPARE(seen.value(QStringLiteral("CapAmb")), kNoCapabilities);
    // The endpoint opened before the drop still probes, and the process holds no raw socket.
    QCOMPARE(seen.value(QStringLiteral("probe")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("probe6")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("rawSockets")), QStringLiteral("0"));
    const QString helper = datagramAllowed ? QStringLiteral("0") : QStringLiteral("1");
    QCOMPARE(seen.value(QStringLiteral("raw")), helper);
    QCOMPARE(seen.value(QStringLiteral("helper")), helper);
}

void tst_Privilege::rawEndpointOutlivesTheDrop()
{
    // Where datagram sockets are refused only the raw sockets opened up front can probe;
    // they live in helper processes, so the process running Qt holds none, and nothing
    // later can open another.
    if (!NetLab::unavailableReason().isEmpty())
        QSKIP(qPrintable(NetLab::unavailableReason()));
    m_lab = std::make_unique<NetLab>(QStringLiteral("c"));
    QVERIFY2(m_lab->addNamespace(QStringLiteral("P")), qPrintable(m_lab->error()));
    QVERIFY2(m_lab->sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=1 0")}),
             qPrintable(m_lab->error()));
    const QHash<QString, QString> seen =
        runHelper(QStringLiteral("ip"),
                  {QStringLiteral("netns"), QStringLiteral("exec"), m_lab->name(QStringLiteral("P")), kHelper});
    QCOMPARE(seen.value(QStringLiteral("exit")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("CapEff")), kNoCapabilities);
    QCOMPARE(seen.value(QStringLiteral("raw")), QStringLiteral("1"));
    QCOMPARE(seen.value(QStringLiteral("helper")), QStringLiteral("1"));
    QCOMPARE(seen.value(QStringLiteral("rawSockets")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("probe")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("raw6")), QStringLiteral("1"));
    QCOMPARE(seen.value(QStringLiteral("probe6")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("newRawSocket")), QString::number(EPERM));
}

void tst_Privilege::brokenRawEndpointCannotComeBack()
{
    // With the rights gone, a raw socket that breaks cannot be replaced: the probes then
    // say that ICMP is not permitted (the window explains how to grant it) instead of
    // failing some other way or pretending to wait.
    if (!NetLab::unavailableReason().isEmpty())
        QSKIP(qPrintable(NetLab::unavailableReason()));
    NetLab lab(QStringLiteral("b"));
    QVERIFY2(lab.addNamespace(QStringLiteral("P")), qPrintable(lab.error()));
    QVERIFY2(lab.sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=1 0")}),
             qPrintable(lab.error()));
    const QHash<QString, QString> seen =
        runHelper(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), lab.name(QStringLiteral("P")),
                                         kHelper, QStringLiteral("--break")});
    QCOMPARE(seen.value(QStringLiteral("exit")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("raw")), QStringLiteral("1"));
    QCOMPARE(seen.value(QStringLiteral("probe")), QStringLiteral("0"));
    QCOMPARE(seen.value(QStringLiteral("afterBreak")), QStringLiteral("-1"));
    QVERIFY2(seen.value(QStringLiteral("afterBreakFailure")).contains(QLatin1String("not permitted")),
             qPrintable(seen.value(QStringLiteral("afterBreakFailure"))));
}

void tst_Privilege::probeToolHoldsNothingWhileItWaits()
{
    // Read from outside while the tool waits for a host that never answers.
    if (!NetLab::unavailableReason().isEmpty())
        QSKIP(qPrintable(NetLab::unavailableReason()));
    NetLab lab(QStringLiteral("w"));
    QVERIFY2(lab.buildProbeNetwork(), qPrintable(lab.error()));
    QProcess tool;
    tool.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), lab.name(QStringLiteral("P")),
                                      kTool, lab::kSilentHost});
    QVERIFY(tool.waitForStarted(5000));
    const qint64 pid = tool.processId();
    // `ip netns exec` becomes the tool; until then the status is ip's.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) ==
                                     QFileInfo(kTool).canonicalFilePath() ||
                                 tool.state() == QProcess::NotRunning,
                             3000);
    QVERIFY(tool.state() == QProcess::Running);
    QTRY_VERIFY_WITH_TIMEOUT(capabilitiesOf(pid, QStringLiteral("CapEff")) == kNoCapabilities, 500);
    QCOMPARE(capabilitiesOf(pid, QStringLiteral("CapPrm")), kNoCapabilities);
    QCOMPARE(capabilitiesOf(pid, QStringLiteral("CapInh")), kNoCapabilities);
    QVERIFY(tool.waitForFinished(5000));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY(tool.readAllStandardOutput().startsWith((lab::kSilentHost + QStringLiteral("\t11010\t")).toLatin1()));
}

QTEST_GUILESS_MAIN(tst_Privilege)
#include "tst_privilege.moc"
