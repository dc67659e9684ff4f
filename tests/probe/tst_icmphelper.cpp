// The helper that holds the raw ICMP socket, spoken to directly: what it keeps of its
// parent, which requests it refuses (and that it survives them), and that it never outlives
// its parent. Probes go to loopback only.

#include "probe/icmphelper.h"
#include "probe/icmppacket.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

using namespace mdlPing;
using Bytes = QByteArray;

namespace {

constexpr std::uint16_t kIdentifier = 0x7a5e;

helper::Request echoTo(const char* dotted, std::uint16_t sequence)
{
    helper::Request request;
    request.kind = helper::Request::EchoV4;
    request.sequence = sequence;
    request.payloadSize = static_cast<std::uint16_t>(packet::kPayload.size());
    const in_addr_t address = ::inet_addr(dotted);
    std::memcpy(request.address, &address, 4);
    return request;
}

Bytes bytesOf(const helper::Request& request)
{
    return Bytes(reinterpret_cast<const char*>(&request), sizeof request);
}

// The next message from the helper within the time given; empty when none came.
std::optional<Bytes> next(int channel, int waitMs = 2000)
{
    pollfd watched{channel, POLLIN, 0};
    if (::poll(&watched, 1, waitMs) <= 0)
        return std::nullopt;
    char buffer[helper::kMaxMessage];
    const ssize_t size = ::recv(channel, buffer, sizeof buffer, MSG_DONTWAIT);
    if (size <= 0)
        return std::nullopt;
    return Bytes(buffer, int(size));
}

helper::Reply header(const Bytes& message)
{
    helper::Reply reply;
    std::memcpy(&reply, message.constData(), std::min<std::size_t>(sizeof reply, std::size_t(message.size())));
    return reply;
}

// A field of /proc/PID/status.
QByteArray statusField(pid_t pid, const QByteArray& name)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(name + ':')))
            return line.mid(name.size() + 1).trimmed();
    }
    return {};
}

// Whether the process ended within the time given (it must be our child).
bool endsWithin(pid_t pid, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

class tst_IcmpHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void keepsNothingElseOfItsParent();
    void answersItsOwnRequests();
    void refusesHostileRequests_data();
    void refusesHostileRequests();
    void survivesAFloodOfRequests();
    void payloadFitsALink_data();
    void payloadFitsALink();
    void endsWithItsParent_data();
    void endsWithItsParent();

private:
    // Sends a valid request to loopback; true when it went out and its reply came back.
    bool stillAnswers();
    // Sends request; the payload echoed back, or empty when it was refused, failed or unanswered.
    std::optional<Bytes> echoedPayload(const helper::Handle& handle, const helper::Request& request);

    helper::Handle m_helper;
    std::uint16_t m_sequence = 1;
};

void tst_IcmpHelper::initTestCase()
{
    const int raw = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (raw < 0)
        QSKIP("a raw ICMP socket needs root or cap_net_raw");
    m_helper = helper::start(AF_INET, raw, kIdentifier);
    QVERIFY(m_helper.pid > 0);
    // The helper's children are reparented here when their parent ends, so they can be reaped.
    QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
}

void tst_IcmpHelper::cleanupTestCase()
{
    helper::stop(m_helper);
}

bool tst_IcmpHelper::stillAnswers()
{
    return echoedPayload(m_helper, echoTo("127.0.0.1", m_sequence++)).has_value();
}

std::optional<Bytes> tst_IcmpHelper::echoedPayload(const helper::Handle& handle, const helper::Request& request)
{
    const Bytes bytes = bytesOf(request);
    if (::send(handle.channel, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL) != bytes.size())
        return std::nullopt;
    // The reply may come before the send's outcome: the helper passes on what it already read.
    bool sent = false;
    std::optional<Bytes> echoed;
    for (int messages = 0; messages < 8 && !(sent && echoed); ++messages) {
        const std::optional<Bytes> message = next(handle.channel);
        if (!message)
            return std::nullopt;
        const helper::Reply reply = header(*message);
        if (reply.sequence != request.sequence || reply.kind == helper::Reply::Refused)
            return std::nullopt;
        if (reply.kind == helper::Reply::Sent)
            sent = reply.error == 0;
        if (reply.kind == helper::Reply::Packet) {
            if (message->size() != int(sizeof reply + reply.size))
                return std::nullopt;
            const auto* data = reinterpret_cast<const std::uint8_t*>(message->constData()) + sizeof reply;
            std::array<std::uint8_t, 16> from{};
            std::memcpy(from.data(), reply.address, 16);
            const std::optional<packet::Packet> answer = request.kind == helper::Request::EchoV6
                                                             ? packet::parseRawPacketV6(data, reply.size, from)
                                                             : packet::parseRawPacket(data, reply.size);
            if (answer && answer->kind == packet::Packet::Kind::EchoReply && answer->identifier == kIdentifier &&
                answer->sequence == request.sequence)
                echoed = Bytes(reinterpret_cast<const char*>(answer->data), int(answer->dataSize));
        }
    }
    if (!sent)
        return std::nullopt;
    return echoed;
}

void tst_IcmpHelper::keepsNothingElseOfItsParent()
{
    const pid_t pid = m_helper.pid;
    // 2: a filter of system calls is in force; the last of its locks, so the others are too.
    QTRY_COMPARE_WITH_TIMEOUT(statusField(pid, "Seccomp"), QByteArray("2"), 2000);
    for (const char* set : {"CapEff", "CapPrm", "CapInh", "CapAmb"})
        QCOMPARE(statusField(pid, set), QByteArray("0000000000000000"));
    QCOMPARE(statusField(pid, "NoNewPrivs"), QByteArray("1"));
    // Its raw socket and its channel, nothing of this test's descriptors.
    const QStringList descriptors =
        QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    QCOMPARE(descriptors, QStringList({QStringLiteral("3"), QStringLiteral("4")}));
}

void tst_IcmpHelper::answersItsOwnRequests()
{
    QVERIFY(stillAnswers());
}

void tst_IcmpHelper::refusesHostileRequests_data()
{
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<int>("sequence"); // in the refusal; 0 for requests that could not be read

    const helper::Request good = echoTo("127.0.0.1", 4242);
    const Bytes whole = bytesOf(good);
    QTest::newRow("empty") << Bytes() << 0;
    QTest::newRow("one byte") << Bytes(1, '\x01') << 0;
    QTest::newRow("one byte short") << whole.left(whole.size() - 1) << 0;
    QTest::newRow("one byte too many") << whole + '\0' << 0;
    QTest::newRow("4 kB") << Bytes(4096, '\x01') << 0;

    auto altered = [&](auto change) {
        helper::Request request = good;
        change(request);
        return bytesOf(request);
    };
    QTest::newRow("unknown kind") << altered([](helper::Request& r) { r.kind = 99; }) << 4242;
    QTest::newRow("kind 0") << altered([](helper::Request& r) { r.kind = 0; }) << 4242;
    QTest::newRow("IPv6 request to the IPv4 socket")
        << altered([](helper::Request& r) { r.kind = helper::Request::EchoV6; }) << 4242;
    QTest::newRow("reserved byte set") << altered([](helper::Request& r) { r.reserved = 1; }) << 4242;
    QTest::newRow("reserved word set") << altered([](helper::Request& r) { r.reserved2 = 0x8000; }) << 4242;
    QTest::newRow("payload past a 1500-byte link") << altered([](helper::Request& r) { r.payloadSize = 1473; }) << 4242;
    QTest::newRow("huge payload") << altered([](helper::Request& r) { r.payloadSize = 65535; }) << 4242;
    QTest::newRow("IPv4 address with more bytes") << altered([](helper::Request& r) { r.address[15] = 1; }) << 4242;
    QTest::newRow("IPv4 address with an interface") << altered([](helper::Request& r) { r.scope = 1; }) << 4242;
}

void tst_IcmpHelper::refusesHostileRequests()
{
    QFETCH(Bytes, request);
    QFETCH(int, sequence);
    QCOMPARE(::send(m_helper.channel, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL),
             ssize_t(request.size()));
    const std::optional<Bytes> message = next(m_helper.channel);
    QVERIFY(message);
    QCOMPARE(message->size(), int(sizeof(helper::Reply)));
    const helper::Reply reply = header(*message);
    QCOMPARE(int(reply.kind), int(helper::Reply::Refused));
    QCOMPARE(int(reply.sequence), sequence);
    QCOMPARE(::waitpid(m_helper.pid, nullptr, WNOHANG), 0);
    QVERIFY(stillAnswers());
}

void tst_IcmpHelper::payloadFitsALink_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("IPv4, none") << AF_INET << 0 << true;
    QTest::newRow("IPv4, one and a half patterns") << AF_INET << 7 << true;
    QTest::newRow("IPv4, a full link") << AF_INET << 1472 << true;
    QTest::newRow("IPv4, a byte too many") << AF_INET << 1473 << false;
    QTest::newRow("IPv6, none") << AF_INET6 << 0 << true;
    QTest::newRow("IPv6, a full link") << AF_INET6 << 1452 << true;
    QTest::newRow("IPv6, a byte too many") << AF_INET6 << 1453 << false;
    QTest::newRow("IPv6, the IPv4 limit") << AF_INET6 << 1472 << false;
}

void tst_IcmpHelper::payloadFitsALink()
{
    QFETCH(int, family);
    QFETCH(int, size);
    QFETCH(bool, accepted);
    helper::Handle v6;
    helper::Request request = echoTo("127.0.0.1", m_sequence++);
    if (family == AF_INET6) {
        const int raw = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (raw < 0)
            QSKIP("no raw ICMPv6 socket here");
        v6 = helper::start(AF_INET6, raw, kIdentifier);
        QVERIFY(v6.pid > 0);
        request.kind = helper::Request::EchoV6;
        std::memcpy(request.address, &in6addr_loopback, 16);
    }
    request.payloadSize = std::uint16_t(size);
    const std::optional<Bytes> echoed = echoedPayload(family == AF_INET6 ? v6 : m_helper, request);
    if (v6.pid > 0)
        helper::stop(v6);
    QCOMPARE(echoed.has_value(), accepted);
    if (accepted)
        QCOMPARE(*echoed, Bytes("hello").repeated(size / 5 + 1).left(size));
    QVERIFY(stillAnswers());
}

void tst_IcmpHelper::survivesAFloodOfRequests()
{
    // Far more requests than the channel holds, written as fast as they are taken, with
    // the refusals read meanwhile: bounded in count and in time.
    helper::Request bad = echoTo("127.0.0.1", 1);
    bad.payloadSize = 9000;
    const Bytes request = bytesOf(bad);
    constexpr int kRequests = 20000;
    int written = 0;
    int refused = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((written < kRequests || refused < written) && std::chrono::steady_clock::now() < until) {
        pollfd watched{m_helper.channel, short(POLLIN | (written < kRequests ? POLLOUT : 0)), 0};
        if (::poll(&watched, 1, 1000) <= 0)
            break;
        if ((watched.revents & POLLOUT) && ::send(m_helper.channel, request.constData(), std::size_t(request.size()),
                                                  MSG_NOSIGNAL | MSG_DONTWAIT) == request.size())
            ++written;
        if (watched.revents & POLLIN) {
            while (const std::optional<Bytes> message = next(m_helper.channel, 0))
                refused += header(*message).kind == helper::Reply::Refused;
        }
    }
    QCOMPARE(written, kRequests);
    QCOMPARE(refused, kRequests);
    QVERIFY(stillAnswers());
}

void tst_IcmpHelper::endsWithItsParent_data()
{
    QTest::addColumn<int>("signal"); // 0: the parent returns from main
    QTest::newRow("parent killed") << int(SIGKILL);
    QTest::newRow("parent ends") << 0;
}

void tst_IcmpHelper::endsWithItsParent()
{
    QFETCH(int, signal);
    int pipe[2];
    QCOMPARE(::pipe(pipe), 0);
    const pid_t parent = ::fork();
    QVERIFY(parent >= 0);
    if (parent == 0) {
        // A program's main thread: opens its raw socket, starts its helper, waits.
        ::close(pipe[0]);
        const int raw = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        const helper::Handle child = helper::start(AF_INET, raw, kIdentifier);
        [[maybe_unused]] const ssize_t written = ::write(pipe[1], &child.pid, sizeof child.pid);
        if (signal == 0)
            ::_exit(0);
        ::pause();
        ::_exit(0);
    }
    ::close(pipe[1]);
    pid_t helperPid = -1;
    const ssize_t got = ::read(pipe[0], &helperPid, sizeof helperPid);
    ::close(pipe[0]);
    QCOMPARE(got, ssize_t(sizeof helperPid));
    QVERIFY(helperPid > 0);
    if (signal != 0)
        ::kill(parent, signal);
    QVERIFY(endsWithin(parent, 5000));
    QVERIFY2(endsWithin(helperPid, 5000), "the helper outlived its parent");
}

QTEST_GUILESS_MAIN(tst_IcmpHelper)
#include "tst_icmphelper.moc"
