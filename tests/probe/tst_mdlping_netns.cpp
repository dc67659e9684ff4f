// Probe outcomes against a real network: namespaces, a router that sends ICMP errors,
// local routes that refuse the send, and a responder that answers late or with crafted
// errors. Both socket kinds go through the same outcomes, one probe at a time and all at
// once, each through one endpoint kept for the whole run as the programs keep theirs.

#include "probe/icmpcore.h"
#include "probe/icmpengine.h"
#include "probe/icmppacket.h"
#include "probe/mdlping.h"
#include "probe/mdlping_p.h"
#include "tests/probe/netlab.h"
#include "tests/support/engineoutcomes.h"
#include "tests/support/netoutcomes.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

using mdlPing::detail::IcmpCore;
using mdlPing::detail::SocketKind;

Q_DECLARE_METATYPE(SocketKind)

namespace {

using netoutcomes::kSameStatus;
using netoutcomes::kScenarios;
using netoutcomes::Scenario;

constexpr std::uint32_t kUntouchedAddress = 0xa5a5a5a5;

struct ProbeResult
{
    std::int32_t status = -2;
    mdlPing::ICMP_ECHO_REPLY reply;
    mdlPing::Failure failure = mdlPing::Failure::None;
};

std::uint32_t toAddress(const char* text)
{
    return ::inet_addr(text);
}

} // namespace

class tst_MdlPingNetns : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void outcomes_data();
    void outcomes();
    void invalidAddressesSendNothing();
    void oneRequestPerProbe_data();
    void oneRequestPerProbe();
    void strayTrafficDoesNotDisturb_data();
    void strayTrafficDoesNotDisturb();
    void replyTimeoutIsTheEndpoints_data();
    void replyTimeoutIsTheEndpoints();
    void payloadSizeGoesOnTheWire_data();
    void payloadSizeGoesOnTheWire();
    void outcomesAllAtOnce_data();
    void outcomesAllAtOnce();
    void silentHostsAllAtOnceTakeOneTimeout_data();
    void silentHostsAllAtOnceTakeOneTimeout();
    void transientErrorsKeepTheEndpoint_data();
    void transientErrorsKeepTheEndpoint();
    void answersInTimeCountWhenReadLate_data();
    void answersInTimeCountWhenReadLate();
    void brokenEndpointIsReplaced_data();
    void brokenEndpointIsReplaced();

private:
    ProbeResult probe(const QString& address, SocketKind kind);
    void addKinds();
    const std::shared_ptr<IcmpCore>& core(SocketKind kind)
    {
        return kind == SocketKind::Raw ? m_raw : kind == SocketKind::Helper ? m_helper : m_datagram;
    }
    IcmpCore& endpoint(SocketKind kind) { return *core(kind); }

    std::unique_ptr<NetLab> m_lab;
    QProcess m_responder;
    // Opened inside P; a socket stays in the namespace it was made in.
    std::shared_ptr<IcmpCore> m_raw;
    std::shared_ptr<IcmpCore> m_helper;
    std::shared_ptr<IcmpCore> m_datagram;
};

// Every kind the outcomes must agree across, with its row prefix.
constexpr std::pair<SocketKind, const char*> kKinds[] = {
    {SocketKind::Raw, "raw"},
    {SocketKind::Helper, "helper"},
    {SocketKind::Datagram, "datagram"},
};

void tst_MdlPingNetns::initTestCase()
{
    const QString reason = NetLab::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason + QStringLiteral("; run as root to test probes against namespaces")));
    m_lab = std::make_unique<NetLab>(QStringLiteral("n"));
    QVERIFY2(m_lab->buildProbeNetwork(), qPrintable(m_lab->error()));
    // Root may open datagram ICMP sockets in P too, so both kinds can be compared there.
    QVERIFY2(m_lab->sysctl(QStringLiteral("P"), {QStringLiteral("net.ipv4.ping_group_range=0 2147483647")}),
             qPrintable(m_lab->error()));
    int rawError = -1;
    int helperError = -1;
    int datagramError = -1;
    QVERIFY2(m_lab->runIn(QStringLiteral("P"),
                          [&] {
                              m_raw = std::make_shared<IcmpCore>(SocketKind::Raw);
                              m_helper = std::make_shared<IcmpCore>(SocketKind::Helper);
                              m_datagram = std::make_shared<IcmpCore>(SocketKind::Datagram);
                              rawError = m_raw->open();
                              helperError = m_helper->open();
                              datagramError = m_datagram->open();
                          }),
             qPrintable(m_lab->error()));
    QCOMPARE(rawError, 0);
    QCOMPARE(helperError, 0);
    QCOMPARE(datagramError, 0);
    QVERIFY(m_raw->isRaw());
    QVERIFY(m_helper->viaHelper());
    QVERIFY(!m_raw->viaHelper());
    QVERIFY(!m_datagram->isRaw());

    QStringList addresses;
    const QStringList rules = netoutcomes::responderRules(kScenarios, &addresses);
    QVERIFY2(m_lab->addHostAddresses(addresses), qPrintable(m_lab->error()));

    m_responder.start(QStringLiteral("ip"),
                      QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_lab->name(QStringLiteral("H")),
                                  QStringLiteral(TIVANE_ICMP_RESPONDER)} +
                          rules);
    QVERIFY2(m_responder.waitForReadyRead(5000) && m_responder.readLine().trimmed() == "ready",
             m_responder.readAllStandardError().constData());
}

void tst_MdlPingNetns::cleanupTestCase()
{
    if (m_responder.state() != QProcess::NotRunning) {
        m_responder.kill();
        m_responder.waitForFinished(2000);
    }
    m_raw.reset();
    m_helper.reset();
    m_datagram.reset();
    m_lab.reset();
}

ProbeResult tst_MdlPingNetns::probe(const QString& address, SocketKind kind)
{
    ProbeResult result;
    std::memset(static_cast<void*>(&result.reply), 0xa5, sizeof result.reply);
    const mdlPing::Outcome outcome = mdlPing::detail::probeHost(endpoint(kind), address, result.reply);
    result.status = outcome.status;
    result.failure = outcome.failure;
    return result;
}

void tst_MdlPingNetns::addKinds()
{
    QTest::addColumn<SocketKind>("kind");
}

void tst_MdlPingNetns::outcomes_data()
{
    addKinds();
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("minRtt");
    QTest::addColumn<int>("maxRtt");
    QTest::addColumn<quint32>("from");
    for (const auto& [kind, path] : kKinds) {
        for (const Scenario& s : kScenarios) {
            if (kind == SocketKind::Datagram && s.datagramStatus != kSameStatus) {
                QTest::addRow("%s: %s", path, s.name) << kind << QString::fromLatin1(s.address) << int(s.datagramStatus)
                                                      << 1000 << 1100 << kUntouchedAddress;
                continue;
            }
            QTest::addRow("%s: %s", path, s.name) << kind << QString::fromLatin1(s.address) << int(s.status) << s.minRtt
                                                  << s.maxRtt << (s.from ? toAddress(s.from) : kUntouchedAddress);
        }
    }
}

void tst_MdlPingNetns::outcomes()
{
    QFETCH(SocketKind, kind);
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(int, minRtt);
    QFETCH(int, maxRtt);
    QFETCH(quint32, from);

    const ProbeResult result = probe(address, kind);
    QCOMPARE(result.status, status);
    QCOMPARE(result.reply.Status, status);
    QCOMPARE(result.failure, mdlPing::Failure::None);
    QVERIFY2(result.reply.RoundTripTime >= minRtt && result.reply.RoundTripTime <= maxRtt,
             qPrintable(QString::number(result.reply.RoundTripTime) + QStringLiteral(" ms")));
    QCOMPARE(result.reply.Address, from);
    if (status == 0) {
        QCOMPARE(int(result.reply.DataSize), 5);
        QCOMPARE(QByteArray(result.reply.Data, 5), QByteArray("hello"));
    } else {
        QCOMPARE(int(result.reply.DataSize), 0xa5a5);
    }
}

void tst_MdlPingNetns::invalidAddressesSendNothing()
{
    const qint64 before = m_lab->snmpCounter(QStringLiteral("P"), QStringLiteral("Icmp"), QStringLiteral("OutEchos"));
    QVERIFY(before >= 0);
    for (const char* text : {"", "0.0.0.0", "255.255.255.255", "1.2.3.4.5", "no..such.host", "::"}) {
        const ProbeResult result = probe(QString::fromLatin1(text), SocketKind::Raw);
        QCOMPARE(result.status, -1);
        QCOMPARE(result.failure, mdlPing::Failure::BadAddress);
    }
    QCOMPARE(m_lab->snmpCounter(QStringLiteral("P"), QStringLiteral("Icmp"), QStringLiteral("OutEchos")), before);
    // The counter does see our requests.
    QCOMPARE(probe(lab::kRouter, SocketKind::Raw).status, 0);
    QCOMPARE(m_lab->snmpCounter(QStringLiteral("P"), QStringLiteral("Icmp"), QStringLiteral("OutEchos")), before + 1);
}

void tst_MdlPingNetns::oneRequestPerProbe_data()
{
    addKinds();
    for (const auto& [kind, path] : kKinds)
        QTest::newRow(path) << kind;
}

void tst_MdlPingNetns::oneRequestPerProbe()
{
    // A silent host is where a retry would show.
    QFETCH(SocketKind, kind);
    const qint64 before = m_lab->snmpCounter(QStringLiteral("P"), QStringLiteral("Icmp"), QStringLiteral("OutEchos"));
    QCOMPARE(probe(lab::kSilentHost, kind).status, 11010);
    QCOMPARE(m_lab->snmpCounter(QStringLiteral("P"), QStringLiteral("Icmp"), QStringLiteral("OutEchos")), before + 1);
}

void tst_MdlPingNetns::strayTrafficDoesNotDisturb_data()
{
    addKinds();
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("minRtt");
    QTest::addColumn<int>("maxRtt");
    for (const auto& [kind, path] : kKinds) {
        QTest::addRow("%s: silent host", path) << kind << lab::kSilentHost << 11010 << 1000 << 1100;
        QTest::addRow("%s: late reply", path) << kind << QStringLiteral("198.18.1.10") << 0 << 300 << 450;
    }
}

void tst_MdlPingNetns::strayTrafficDoesNotDisturb()
{
    QFETCH(SocketKind, kind);
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(int, minRtt);
    QFETCH(int, maxRtt);

    QProcess stray;
    stray.start(QStringLiteral("ip"),
                {QStringLiteral("netns"), QStringLiteral("exec"), m_lab->name(QStringLiteral("P")),
                 QStringLiteral(TIVANE_ICMP_RESPONDER), QStringLiteral("--stray"), address,
                 QString::number(endpoint(kind).identifier()), QString::number(endpoint(kind).nextSequence())});
    QVERIFY(stray.waitForReadyRead(5000));
    // Let the flood get going before the request leaves.
    QTest::qWait(20);
    const ProbeResult result = probe(address, kind);
    QCOMPARE(stray.state(), QProcess::Running);
    stray.kill();
    stray.waitForFinished(2000);

    QCOMPARE(result.status, status);
    QVERIFY2(result.reply.RoundTripTime >= minRtt && result.reply.RoundTripTime <= maxRtt,
             qPrintable(QString::number(result.reply.RoundTripTime) + QStringLiteral(" ms")));
}

// The responder answers 198.18.1.10 after about 300 ms.
void tst_MdlPingNetns::replyTimeoutIsTheEndpoints_data()
{
    addKinds();
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("minRtt");
    QTest::addColumn<int>("maxRtt");
    const QString late = QStringLiteral("198.18.1.10");
    for (const auto& [kind, path] : kKinds) {
        QTest::addRow("%s: silent host, 250 ms", path) << kind << 250 << lab::kSilentHost << 11010 << 250 << 350;
        QTest::addRow("%s: late reply, 200 ms", path) << kind << 200 << late << 11010 << 200 << 290;
        QTest::addRow("%s: late reply, 2 s", path) << kind << 2000 << late << 0 << 300 << 450;
    }
}

void tst_MdlPingNetns::replyTimeoutIsTheEndpoints()
{
    QFETCH(SocketKind, kind);
    QFETCH(int, timeoutMs);
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(int, minRtt);
    QFETCH(int, maxRtt);

    IcmpCore& core = endpoint(kind);
    core.setReplyTimeout(std::chrono::milliseconds(timeoutMs));
    const ProbeResult result = probe(address, kind);
    core.setReplyTimeout(mdlPing::detail::kReplyTimeout);
    // A late reply that a short time-out gave up on must not be taken for the next probe's.
    QTest::qWait(300);
    QCOMPARE(result.status, status);
    QVERIFY2(result.reply.RoundTripTime >= minRtt && result.reply.RoundTripTime <= maxRtt,
             qPrintable(QString::number(result.reply.RoundTripTime) + QStringLiteral(" ms")));
}

void tst_MdlPingNetns::payloadSizeGoesOnTheWire_data()
{
    addKinds();
    QTest::addColumn<int>("size");
    for (const auto& [kind, path] : kKinds) {
        for (const int size : {0, 5, 1472})
            QTest::addRow("%s: %d bytes", path, size) << kind << size;
    }
}

void tst_MdlPingNetns::payloadSizeGoesOnTheWire()
{
    QFETCH(SocketKind, kind);
    QFETCH(int, size);
    // The router's own raw socket sees each request as it arrived, IP header and all.
    int watch = -1;
    QVERIFY2(
        m_lab->runIn(QStringLiteral("R"), [&] { watch = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP); }),
        qPrintable(m_lab->error()));
    QVERIFY(watch >= 0);
    IcmpCore& core = endpoint(kind);
    core.setPayloadSize(std::size_t(size));
    const ProbeResult result = probe(lab::kRouter, kind);
    core.setPayloadSize(mdlPing::packet::kPayload.size());
    int onWire = -1;
    const in_addr_t prober = ::inet_addr(qPrintable(lab::kProber));
    for (int packets = 0; packets < 20 && onWire < 0; ++packets) {
        pollfd watched{watch, POLLIN, 0};
        if (::poll(&watched, 1, 1000) <= 0)
            break;
        std::uint8_t packet[2048];
        const ssize_t got = ::recv(watch, packet, sizeof packet, 0);
        const std::size_t header = got >= 20 ? (packet[0] & 0x0f) * 4u : 0;
        if (got < 28 || std::size_t(got) < header + 8 || packet[header] != mdlPing::packet::kEchoRequest ||
            std::memcmp(packet + 12, &prober, 4) != 0)
            continue;
        QCOMPARE(int((packet[2] << 8) | packet[3]), int(got)); // whole, never fragmented
        onWire = int(got - ssize_t(header) - 8);
    }
    ::close(watch);
    QCOMPARE(onWire, size);
    QCOMPARE(result.status, 0);
    const int kept = std::min(size, int(sizeof result.reply.Data));
    QCOMPARE(int(result.reply.DataSize), kept);
    QCOMPARE(QByteArray(result.reply.Data, kept), QByteArray("hello").repeated(size / 5 + 1).left(kept));
}

void tst_MdlPingNetns::outcomesAllAtOnce_data()
{
    addKinds();
    for (const auto& [kind, path] : kKinds)
        QTest::newRow(path) << kind;
}

void tst_MdlPingNetns::outcomesAllAtOnce()
{
    // Every scenario in flight together through one socket: each outcome must still find
    // its own probe among the decoys, errors and late replies of all the others.
    QFETCH(SocketKind, kind);
    // The router answers with at most five errors of its unreachable routes at once, then
    // one a second (net.ipv4.route.error_cost, the same for every namespace); each run asks
    // for three, so the runs are spaced for the router to have them again.
    static QElapsedTimer sinceLastRun;
    if (sinceLastRun.isValid() && sinceLastRun.elapsed() < 3000)
        QTest::qWait(int(3000 - sinceLastRun.elapsed()));
    sinceLastRun.start();
    mdlPing::IcmpEngine engine(core(kind));
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    QHash<quint64, const Scenario*> started;
    for (const Scenario& s : kScenarios)
        started.insert(engine.start(QString::fromLatin1(s.address)), &s);
    QCOMPARE(started.size(), int(std::size(kScenarios)));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), started.size(), 3000);
    QCOMPARE(engine.pending(), 0);

    QStringList wrong;
    for (const QList<QVariant>& outcome : spread(finished)) {
        const Scenario* s = started.take(outcome.at(0).toULongLong());
        QVERIFY(s);
        const bool datagramDiffers = kind == SocketKind::Datagram && s->datagramStatus != kSameStatus;
        const int status = datagramDiffers ? s->datagramStatus : s->status;
        const int minRtt = datagramDiffers ? 1000 : s->minRtt;
        const int maxRtt = datagramDiffers ? 1100 : s->maxRtt;
        const int gotStatus = outcome.at(1).toInt();
        const int gotRtt = outcome.at(2).toInt();
        const qint64 gotUs = outcome.at(3).toLongLong();
        if (gotStatus != status || gotRtt < minRtt || gotRtt > maxRtt || gotUs / 1000 != gotRtt ||
            outcome.at(4).value<mdlPing::Failure>() != mdlPing::Failure::None)
            wrong.append(QStringLiteral("%1: status %2, %3 ms (%4 us)")
                             .arg(QLatin1String(s->name))
                             .arg(gotStatus)
                             .arg(gotRtt)
                             .arg(gotUs));
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    QVERIFY(started.isEmpty());
}

void tst_MdlPingNetns::silentHostsAllAtOnceTakeOneTimeout_data()
{
    outcomesAllAtOnce_data();
}

void tst_MdlPingNetns::silentHostsAllAtOnceTakeOneTimeout()
{
    QFETCH(SocketKind, kind);
    constexpr int kProbes = 20;
    mdlPing::IcmpEngine engine(core(kind));
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    const qint64 before = m_lab->snmpCounter(QStringLiteral("P"), QStringLiteral("Icmp"), QStringLiteral("OutEchos"));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kProbes; ++i)
        engine.start(i % 2 ? lab::kSilentHost : lab::kRouterBlackhole);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), kProbes, 3000);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 1000 && elapsed < 1300, qPrintable(QString::number(elapsed)));
    for (const QList<QVariant>& outcome : spread(finished)) {
        QCOMPARE(outcome.at(1).toInt(), 11010);
        QVERIFY2(outcome.at(2).toInt() >= 1000 && outcome.at(2).toInt() <= 1100, qPrintable(outcome.at(2).toString()));
    }
    QCOMPARE(m_lab->snmpCounter(QStringLiteral("P"), QStringLiteral("Icmp"), QStringLiteral("OutEchos")),
             before + kProbes);
}

void tst_MdlPingNetns::transientErrorsKeepTheEndpoint_data()
{
    outcomesAllAtOnce_data();
}

void tst_MdlPingNetns::transientErrorsKeepTheEndpoint()
{
    // A full queue or a refused destination is the request's own failure; the socket
    // stays and the next request goes through it.
    QFETCH(SocketKind, kind);
    const unsigned generation = endpoint(kind).generation();
    const int fd = endpoint(kind).descriptor();
    for (const QString& failing : {lab::kFullQueue, lab::kLocalProhibited, lab::kNoRoute, lab::kFullQueue}) {
        const ProbeResult failed = probe(failing, kind);
        QVERIFY2(failed.status > 11000 && failed.reply.RoundTripTime < 100, qPrintable(failing));
        const ProbeResult next = probe(lab::kRouter, kind);
        QCOMPARE(next.status, 0);
        QVERIFY(next.reply.RoundTripTime < 100);
    }
    QCOMPARE(endpoint(kind).generation(), generation);
    QCOMPARE(endpoint(kind).descriptor(), fd);
}

void tst_MdlPingNetns::answersInTimeCountWhenReadLate_data()
{
    addKinds();
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("stallMs");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("minRtt");
    QTest::addColumn<int>("maxRtt");
    for (const auto& [kind, path] : kKinds) {
        QTest::addRow("%s: reply at 300 ms, read at 500 ms", path)
            << kind << QStringLiteral("198.18.1.10") << 500 << 0 << 300 << 450;
        QTest::addRow("%s: error at 40 ms, read at 1200 ms", path)
            << kind << QStringLiteral("198.18.1.21") << 1200 << 11003 << 40 << 200;
        QTest::addRow("%s: reply at 1150 ms, read at 1300 ms", path)
            << kind << QStringLiteral("198.18.1.13") << 1300 << 11010 << 1000 << 1500;
    }
}

void tst_MdlPingNetns::answersInTimeCountWhenReadLate()
{
    // The event loop is busy while the answer comes (and past the deadline): the answer
    // still counts with the time it took, and one after the deadline still does not.
    QFETCH(SocketKind, kind);
    QFETCH(QString, address);
    QFETCH(int, stallMs);
    QFETCH(int, status);
    QFETCH(int, minRtt);
    QFETCH(int, maxRtt);
    mdlPing::IcmpEngine engine(core(kind));
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    engine.start(address);
    QElapsedTimer busy;
    busy.start();
    while (busy.elapsed() < stallMs) {
        // keep the event loop from running, as a long paint would
    }
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(spread(finished).at(0).at(1).toInt(), status);
    const int rtt = spread(finished).at(0).at(2).toInt();
    QVERIFY2(rtt >= minRtt && rtt <= maxRtt, qPrintable(QString::number(rtt)));
}

void tst_MdlPingNetns::brokenEndpointIsReplaced_data()
{
    outcomesAllAtOnce_data();
}

void tst_MdlPingNetns::brokenEndpointIsReplaced()
{
    // A socket that hangs up ends the request waiting on it at once, and the endpoint
    // opens a new one for the next (a datagram socket needs no rights for that).
    QFETCH(SocketKind, kind);
    std::int32_t first = -2;
    std::int32_t after = -2;
    QList<QVariant> inFlight;
    qint64 waitedMs = -1;
    unsigned generations[2] = {};
    const bool entered = m_lab->runIn(QStringLiteral("P"), [&] {
        auto core = std::make_shared<IcmpCore>(kind);
        if (core->open() != 0)
            return;
        generations[0] = core->generation();
        mdlPing::ICMP_ECHO_REPLY reply;
        first = mdlPing::detail::pingHost(*core, lab::kRouter, reply);
        {
            // This thread runs an event loop of its own, so the socket is reopened in P.
            mdlPing::IcmpEngine engine(core);
            QEventLoop loop;
            QObject::connect(
                &engine, &mdlPing::IcmpEngine::finished, &loop, [&](quint64 id, const mdlPing::Outcome& o) {
                    inFlight = {id, o.status, o.roundTripMs, o.roundTripUs, QVariant::fromValue(o.failure)};
                    loop.quit();
                });
            QTimer::singleShot(3000, &loop, &QEventLoop::quit);
            QElapsedTimer timer;
            timer.start();
            engine.start(lab::kSilentHost);
            ::shutdown(core->descriptor(), SHUT_RDWR);
            loop.exec();
            waitedMs = timer.elapsed();
        }
        after = mdlPing::detail::pingHost(*core, lab::kRouter, reply);
        generations[1] = core->generation();
    });
    QVERIFY2(entered, qPrintable(m_lab->error()));
    QCOMPARE(first, 0);
    QCOMPARE(inFlight.size(), 5);
    QCOMPARE(inFlight.at(1).toInt(), 11050);
    QVERIFY2(waitedMs < 500, qPrintable(QString::number(waitedMs)));
    QVERIFY(inFlight.at(2).toInt() < 500);
    QCOMPARE(after, 0);
    QVERIFY(generations[1] > generations[0]);
}

QTEST_GUILESS_MAIN(tst_MdlPingNetns)
#include "tst_mdlping_netns.moc"
