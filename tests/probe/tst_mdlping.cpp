// The probe on this host's loopback network: address parsing, the reply record, failures
// before anything is sent, and probes from several threads at once.

#include "probe/icmpcore.h"
#include "probe/mdlping.h"
#include "probe/mdlping_p.h"
#include "probe/prober.h"

#include <QElapsedTimer>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace {

mdlPing::ICMP_ECHO_REPLY sentinelRecord()
{
    mdlPing::ICMP_ECHO_REPLY reply;
    std::memset(static_cast<void*>(&reply), 0xa5, sizeof reply);
    return reply;
}

bool sameBytes(const mdlPing::ICMP_ECHO_REPLY& a, const mdlPing::ICMP_ECHO_REPLY& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::uint32_t address(const char* dotted)
{
    return ::inet_addr(dotted);
}

} // namespace

class tst_MdlPing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void startupNeedsNothing();
    void invalidAddresses_data();
    void invalidAddresses();
    void addressForms_data();
    void addressForms();
    void loopback_data();
    void loopback();
    void consecutiveProbesShareRecord();
    void failureTravelsWithItsProbe();
    void socketsExhausted();
    void concurrentProbes();

private:
    bool m_icmpPermitted = false;
};

void tst_MdlPing::initTestCase()
{
    mdlPing::ICMP_ECHO_REPLY reply;
    const mdlPing::Outcome first = mdlPing::Probe(QStringLiteral("127.0.0.1"), reply);
    m_icmpPermitted = first.status != -1;
    if (!m_icmpPermitted)
        qWarning("ICMP is not permitted here (%s); loopback probes are skipped", qPrintable(first.reason));
}

void tst_MdlPing::startupNeedsNothing()
{
    QVERIFY(mdlPing::SocketsStartup());
    mdlPing::SocketsCleanup();
    QVERIFY(mdlPing::SocketsStartup());
    IcmpProber prober;
    QVERIFY(prober.SocketsStartup());
}

void tst_MdlPing::invalidAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << QStringLiteral("   ");
    // Names that cannot be host names are refused without asking any resolver.
    QTest::newRow("host name with a space") << QStringLiteral("local host");
    QTest::newRow("empty label") << QStringLiteral("no..such.host");
    QTest::newRow("label starting with a hyphen") << QStringLiteral("-abc");
    QTest::newRow("label too long") << (QString(64, QLatin1Char('a')) + QStringLiteral(".example"));
    QTest::newRow("name too long") << (QStringLiteral("a.").repeated(127) + QStringLiteral("ab"));
    QTest::newRow("slash") << QStringLiteral("host/24");
    QTest::newRow("any address") << QStringLiteral("0.0.0.0");
    QTest::newRow("any address, one part") << QStringLiteral("0");
    QTest::newRow("limited broadcast") << QStringLiteral("255.255.255.255");
    QTest::newRow("limited broadcast, hex") << QStringLiteral("0xffffffff");
    QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5");
    QTest::newRow("part too big") << QStringLiteral("1.2.3.256");
    QTest::newRow("bad octal digit") << QStringLiteral("127.0.0.08");
    QTest::newRow("IPv6 unspecified") << QStringLiteral("::");
    QTest::newRow("IPv6 with a bad group") << QStringLiteral("::1:gggg");
    QTest::newRow("IPv6 with too many groups") << QStringLiteral("1:2:3:4:5:6:7:8:9");
    QTest::newRow("trailing dot") << QStringLiteral("127.0.0.1.");
    // The C library would stop at the NUL and probe 127.0.0.1.
    QTest::newRow("embedded NUL") << (QStringLiteral("127.0.0.1") + QChar(0) + QStringLiteral("evil"));
    QTest::newRow("full-width digits") << QString::fromUtf8("\xef\xbc\x91\xef\xbc\x92\xef\xbc\x97.0.0.1");
}

void tst_MdlPing::invalidAddresses()
{
    QFETCH(QString, text);
    mdlPing::ICMP_ECHO_REPLY reply = sentinelRecord();
    const mdlPing::ICMP_ECHO_REPLY before = reply;
    QElapsedTimer timer;
    timer.start();
    const mdlPing::Outcome outcome = mdlPing::Probe(text, reply);
    QCOMPARE(outcome.status, -1);
    // Nothing waited for a reply (the namespace tests count the requests sent).
    QVERIFY(timer.elapsed() < 50);
    QVERIFY(sameBytes(reply, before));
    QCOMPARE(outcome.failure, mdlPing::Failure::BadAddress);
    QCOMPARE(outcome.reason, QStringLiteral("not an IPv4 or IPv6 address or a host name"));
    QVERIFY(outcome.probed.isEmpty());
    QCOMPARE(mdlPing::PingHost(text, reply), -1);
}

void tst_MdlPing::addressForms_data()
{
    // What each text is taken for, without any lookup: "4:" and "6:" an address (as the probe
    // shows it), "name:" the name the resolver gets, "-" nothing that can be probed.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("form");
    QTest::newRow("dotted") << QStringLiteral("192.0.2.1") << QStringLiteral("4:192.0.2.1");
    QTest::newRow("two parts") << QStringLiteral("10.1") << QStringLiteral("4:10.0.0.1");
    QTest::newRow("hex and octal") << QStringLiteral("0x7f.010.0.1") << QStringLiteral("4:127.8.0.1");
    QTest::newRow("one number") << QStringLiteral("3221225985") << QStringLiteral("4:192.0.2.1");
    // The IPv4 rules come first: a number that is too big is a bad address, never a name.
    QTest::newRow("bad IPv4") << QStringLiteral("1.2.3.256") << QStringLiteral("-");
    QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5") << QStringLiteral("-");
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1") << QStringLiteral("6:::1");
    QTest::newRow("IPv6 shown short") << QStringLiteral("2001:DB8:0:0:0:0:0:1") << QStringLiteral("6:2001:db8::1");
    QTest::newRow("IPv4-mapped IPv6") << QStringLiteral("::ffff:192.0.2.1") << QStringLiteral("6:::ffff:192.0.2.1");
    QTest::newRow("link-local with interface") << QStringLiteral("fe80::1%lo") << QStringLiteral("6:fe80::1%lo");
    QTest::newRow("IPv6 unspecified") << QStringLiteral("::") << QStringLiteral("-");
    QTest::newRow("IPv6 in brackets") << QStringLiteral("[::1]") << QStringLiteral("-");
    QTest::newRow("single label") << QStringLiteral("gateway") << QStringLiteral("name:gateway");
    QTest::newRow("dotted name") << QStringLiteral("gw.example.lan") << QStringLiteral("name:gw.example.lan");
    QTest::newRow("trailing dot") << QStringLiteral("gw.example.lan.") << QStringLiteral("name:gw.example.lan.");
    QTest::newRow("digits first") << QStringLiteral("1und1.example") << QStringLiteral("name:1und1.example");
    QTest::newRow("international") << QString::fromUtf8("b\xc3\xbc"
                                                        "cher.example")
                                   << QStringLiteral("name:xn--bcher-kva.example");
    QTest::newRow("253 characters") << (QStringLiteral("a.").repeated(126) + QStringLiteral("a"))
                                    << (QStringLiteral("name:") + QStringLiteral("a.").repeated(126) +
                                        QStringLiteral("a"));
    QTest::newRow("254 characters") << (QStringLiteral("a.").repeated(126) + QStringLiteral("ab"))
                                    << QStringLiteral("-");
    QTest::newRow("IPv4 with a trailing dot") << QStringLiteral("127.0.0.1.") << QStringLiteral("-");
    QTest::newRow("hyphen at the end of a label") << QStringLiteral("gw-.example") << QStringLiteral("-");
    QTest::newRow("embedded NUL") << (QStringLiteral("gw") + QChar(0) + QStringLiteral(".example"))
                                  << QStringLiteral("-");
}

void tst_MdlPing::addressForms()
{
    QFETCH(QString, text);
    QFETCH(QString, form);
    using mdlPing::detail::Target;
    const Target target = mdlPing::detail::classifyAddress(text);
    QString got = QStringLiteral("-");
    if (target.form == Target::Form::Name)
        got = QStringLiteral("name:") + QString::fromLatin1(target.name);
    else if (target.form == Target::Form::Address)
        got = (target.address.isV6() ? QStringLiteral("6:") : QStringLiteral("4:")) + target.address.toString();
    QCOMPARE(got, form);
}

void tst_MdlPing::loopback_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<quint32>("from");
    QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1") << 0 << address("127.0.0.1");
    QTest::newRow("127.0.0.2") << QStringLiteral("127.0.0.2") << 0 << address("127.0.0.2");
    QTest::newRow("two parts") << QStringLiteral("127.1") << 0 << address("127.0.0.1");
    QTest::newRow("three parts") << QStringLiteral("127.0.3") << 0 << address("127.0.0.3");
    QTest::newRow("one number") << QStringLiteral("2130706436") << 0 << address("127.0.0.4");
    QTest::newRow("hex") << QStringLiteral("0x7f.0.0.0x5") << 0 << address("127.0.0.5");
    QTest::newRow("octal") << QStringLiteral("0177.0.0.06") << 0 << address("127.0.0.6");
    // Subnet broadcast without SO_BROADCAST: the send is refused, nothing answers.
    QTest::newRow("loopback broadcast") << QStringLiteral("127.255.255.255") << 11018 << 0xa5a5a5a5u;
}

void tst_MdlPing::loopback()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    QFETCH(QString, text);
    QFETCH(int, status);
    QFETCH(quint32, from);
    mdlPing::ICMP_ECHO_REPLY reply = sentinelRecord();
    const mdlPing::Outcome outcome = mdlPing::Probe(text, reply);
    QCOMPARE(outcome.status, status);
    QCOMPARE(outcome.failure, mdlPing::Failure::None);
    QCOMPARE(outcome.roundTripMs, reply.RoundTripTime);
    QVERIFY(!outcome.probed.isEmpty());
    QCOMPARE(reply.Status, status);
    QVERIFY2(reply.RoundTripTime >= 0 && reply.RoundTripTime < 50, qPrintable(QString::number(reply.RoundTripTime)));
    QCOMPARE(reply.Address, from);
}

void tst_MdlPing::consecutiveProbesShareRecord()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    // Callers keep one record for all probes; fields a probe does not write must
    // still show what was there before.
    mdlPing::ICMP_ECHO_REPLY reply = sentinelRecord();
    for (const char* target : {"127.0.0.1", "127.0.0.2"}) {
        QCOMPARE(mdlPing::PingHost(QString::fromLatin1(target), reply), 0);
        QCOMPARE(reply.Status, 0);
        QVERIFY(reply.RoundTripTime >= 0 && reply.RoundTripTime < 50);
        QCOMPARE(reply.Address, address(target));
        QCOMPARE(int(reply.DataSize), 5);
        QCOMPARE(QByteArray(reply.Data, 5), QByteArray("hello"));
        QCOMPARE(reply.Reserved, 0xa5a5);
        QCOMPARE(reply.DataPointer, 0xa5a5a5a5u);
        QCOMPARE(reply.Ttl, 0xa5);
        QCOMPARE(reply.Tos, 0xa5);
        QCOMPARE(reply.Flags, 0xa5);
        QCOMPARE(reply.OptionsSize, 0xa5);
        QCOMPARE(reply.OptionsData, 0xa5a5a5a5u);
        QCOMPARE(QByteArray(reply.Data + 5, sizeof reply.Data - 5), QByteArray(sizeof reply.Data - 5, '\xa5'));
    }

    // A refused send writes the status and the time only.
    const std::uint32_t lastFrom = reply.Address;
    QCOMPARE(mdlPing::PingHost(QStringLiteral("127.255.255.255"), reply), 11018);
    QCOMPARE(reply.Address, lastFrom);
    QCOMPARE(int(reply.DataSize), 5);

    // An invalid address leaves even the status alone.
    const mdlPing::ICMP_ECHO_REPLY before = reply;
    QCOMPARE(mdlPing::PingHost(QStringLiteral("0.0.0.0"), reply), -1);
    QVERIFY(sameBytes(reply, before));
}

void tst_MdlPing::failureTravelsWithItsProbe()
{
    // Probes on two threads at once each get their own failure, never the other's.
    mdlPing::ICMP_ECHO_REPLY reply;
    mdlPing::Outcome elsewhere;
    std::thread other([&] {
        mdlPing::ICMP_ECHO_REPLY own;
        elsewhere = mdlPing::Probe(QStringLiteral("127.0.0.1"), own);
    });
    const mdlPing::Outcome bad = mdlPing::Probe(QStringLiteral("a b c"), reply);
    other.join();
    QCOMPARE(bad.failure, mdlPing::Failure::BadAddress);
    if (m_icmpPermitted) {
        QCOMPARE(elsewhere.status, 0);
        QCOMPARE(elsewhere.failure, mdlPing::Failure::None);
        QCOMPARE(elsewhere.probed, QStringLiteral("127.0.0.1"));
    }
}

void tst_MdlPing::socketsExhausted()
{
    // Where ICMP is not permitted the permission checks come before the descriptor.
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    // With no descriptor left, an endpoint that still has to open its socket must say the
    // socket could not be opened (not blame permissions) and leave the record alone; the
    // process's endpoint, open since the first probe, keeps probing.
    mdlPing::detail::IcmpCore fresh;
    rlimit original{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &original), 0);
    const int probeFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    QVERIFY(probeFd >= 0);
    rlimit lowered = original;
    lowered.rlim_cur = static_cast<rlim_t>(probeFd) + 8;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> held{probeFd};
    while (held.size() < 64) {
        const int fd = ::dup(probeFd);
        if (fd < 0)
            break;
        held.push_back(fd);
    }

    mdlPing::ICMP_ECHO_REPLY reply = sentinelRecord();
    const mdlPing::ICMP_ECHO_REPLY before = reply;
    const mdlPing::Outcome outcome = mdlPing::detail::probeHost(fresh, QStringLiteral("127.0.0.1"), reply);
    const std::int32_t status = outcome.status;
    const mdlPing::Failure failure = outcome.failure;
    const QString text = outcome.reason;
    mdlPing::ICMP_ECHO_REPLY kept;
    const std::int32_t processStatus = mdlPing::PingHost(QStringLiteral("127.0.0.1"), kept);

    for (const int fd : held)
        ::close(fd);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &original), 0);

    QCOMPARE(status, -1);
    QCOMPARE(failure, mdlPing::Failure::NoSocket);
    QVERIFY(sameBytes(reply, before));
    QCOMPARE(text, QStringLiteral("ICMP sockets could not be opened: ") + qt_error_string(EMFILE));
    QVERIFY(mdlPing::FailureText(mdlPing::Failure::NotPermitted).contains(QLatin1String("cap_net_raw")));
    QVERIFY(mdlPing::FailureText(mdlPing::Failure::NotPermitted).contains(QLatin1String("ping_group_range")));
    QCOMPARE(processStatus, 0);
}

void tst_MdlPing::concurrentProbes()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    // Probes of one process share the echo identifier on raw sockets and every raw
    // socket sees every reply, so each probe must pick its own reply out of the others.
    constexpr int kThreads = 8;
    constexpr int kProbes = 25;
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            const QString target = QStringLiteral("127.0.1.") + QString::number(t + 1);
            const std::uint32_t expected = ::inet_addr(target.toLatin1().constData());
            for (int i = 0; i < kProbes; ++i) {
                mdlPing::ICMP_ECHO_REPLY reply;
                if (mdlPing::PingHost(target, reply) != 0 || reply.Address != expected || reply.RoundTripTime > 100)
                    ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        QCOMPARE(wrong[t], 0);
}

QTEST_GUILESS_MAIN(tst_MdlPing)
#include "tst_mdlping.moc"
