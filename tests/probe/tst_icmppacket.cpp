// The packet rules on their own, without a socket or root: the request we send, which
// packets count as an answer, and the status every ICMP error and send error maps to.

#include "probe/icmppacket.h"

#include <QTest>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

using namespace mdlPing::packet;
using Bytes = std::vector<std::uint8_t>;

Q_DECLARE_METATYPE(Bytes)

namespace {

constexpr int kNone = -100; // no status: the message does not end a probe

std::uint32_t ip(const char* dotted)
{
    return ::inet_addr(dotted);
}

void put16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

void putAddress(Bytes& b, std::size_t at, std::uint32_t networkOrder)
{
    std::memcpy(&b[at], &networkOrder, 4);
}

// An IPv4 header with optionWords words of options (NOPs).
Bytes ipHeader(std::uint32_t from, std::uint32_t to, int optionWords = 0, std::uint8_t protocol = kProtocolIcmp)
{
    Bytes header(20 + 4 * static_cast<std::size_t>(optionWords), 1);
    header[0] = static_cast<std::uint8_t>(0x40 | (5 + optionWords));
    header[1] = 0;
    header[8] = 64;
    header[9] = protocol;
    putAddress(header, 12, from);
    putAddress(header, 16, to);
    return header;
}

// a followed by b (sized copies: GCC's bounds checker misreads insert() on small vectors).
Bytes join(const Bytes& a, const Bytes& b)
{
    Bytes joined(a.size() + b.size());
    if (!a.empty())
        std::memcpy(joined.data(), a.data(), a.size());
    if (!b.empty())
        std::memcpy(joined.data() + a.size(), b.data(), b.size());
    return joined;
}

Bytes icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq, const Bytes& rest)
{
    Bytes message = join(Bytes(8, 0), rest);
    message[0] = type;
    message[1] = code;
    put16(message, 4, id);
    put16(message, 6, seq);
    put16(message, 2, internetChecksum(message.data(), message.size()));
    return message;
}

Bytes hello()
{
    return Bytes(kPayload.begin(), kPayload.end());
}

const std::uint32_t kProber = ip("198.18.0.1");
const std::uint32_t kHost = ip("198.18.1.2");
const std::uint32_t kRouter = ip("198.18.0.2");

// Our request as an error quotes it: its IP header and the echo header (and maybe more).
Bytes quotedRequest(int optionWords = 0, std::uint8_t type = kEchoRequest, std::size_t keep = 13)
{
    const Bytes request = join(ipHeader(kProber, kHost, optionWords), icmp(type, 0, 0x1234, 0x0102, hello()));
    return Bytes(request.begin(), request.end() - static_cast<long>(13 - std::min<std::size_t>(keep, 13)));
}

// An ICMP error from a router about our request: the error's header has no id/seq, the
// quoted request follows.
Bytes error(std::uint8_t type, std::uint8_t code, const Bytes& quoted, std::uint32_t from = kRouter)
{
    Bytes message = join(Bytes(8, 0), quoted);
    message[0] = type;
    message[1] = code;
    put16(message, 2, internetChecksum(message.data(), message.size()));
    return join(ipHeader(from, kProber), message);
}

} // namespace

class tst_IcmpPacket : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checksum_data();
    void checksum();
    void echoRequest_data();
    void echoRequest();
    void echoRequestPayload_data();
    void echoRequestPayload();
    void icmpErrorStatus_data();
    void icmpErrorStatus();
    void sendErrorStatus_data();
    void sendErrorStatus();
    void rawPackets_data();
    void rawPackets();
    void datagramReplies_data();
    void datagramReplies();
    void quotedEcho_data();
    void quotedEcho();
    void icmpv6ErrorStatus_data();
    void icmpv6ErrorStatus();
    void echoRequestV6();
    void rawPacketsV6_data();
    void rawPacketsV6();
};

void tst_IcmpPacket::checksum_data()
{
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << Bytes{} << 0xffff;
    QTest::newRow("worked example") << Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7} << 0x220d;
    // An odd last byte counts as the high byte of a word.
    QTest::newRow("odd length") << Bytes{0x00, 0x01, 0xf2} << int(static_cast<std::uint16_t>(~0xf201));
    // The carries of many words fold back in.
    QTest::newRow("carries") << Bytes(64, 0xff) << 0x0000;
    QTest::newRow("echo request") << Bytes{8, 0, 0, 0, 0x12, 0x34, 0x00, 0x01, 'h', 'e', 'l', 'l', 'o'} << 0xa1f8;
}

void tst_IcmpPacket::checksum()
{
    QFETCH(Bytes, data);
    QFETCH(int, expected);
    QCOMPARE(int(internetChecksum(data.data(), data.size())), expected);
}

void tst_IcmpPacket::echoRequest_data()
{
    QTest::addColumn<int>("identifier");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<bool>("withChecksum");
    QTest::newRow("raw") << 0x1234 << 1 << true;
    QTest::newRow("raw, high bits") << 0xfedc << 0xffff << true;
    QTest::newRow("datagram: the kernel sums") << 0 << 0x8001 << false;
}

void tst_IcmpPacket::echoRequestPayload_data()
{
    QTest::addColumn<bool>("v6");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("payload");
    QTest::newRow("none") << false << 0 << 0;
    QTest::newRow("odd length, pattern cut") << false << 13 << 13;
    QTest::newRow("IPv4 limit") << false << 1472 << 1472;
    QTest::newRow("IPv4 past its limit") << false << 9000 << 1472;
    QTest::newRow("IPv6 none") << true << 0 << 0;
    QTest::newRow("IPv6 limit") << true << 1452 << 1452;
    QTest::newRow("IPv6 at the IPv4 limit") << true << 1472 << 1452;
}

void tst_IcmpPacket::echoRequestPayload()
{
    QFETCH(bool, v6);
    QFETCH(int, asked);
    QFETCH(int, payload);
    const auto request = v6 ? mdlPing::packet::echoRequestV6(1, 2, std::size_t(asked))
                            : mdlPing::packet::echoRequest(1, 2, true, std::size_t(asked));
    QCOMPARE(int(request.size()), 8 + payload);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(request.data() + 8), payload),
             QByteArray("hello").repeated(payload / 5 + 1).left(payload));
    if (!v6)
        QCOMPARE(int(internetChecksum(request.data(), request.size())), 0);
}

void tst_IcmpPacket::echoRequest()
{
    QFETCH(int, identifier);
    QFETCH(int, sequence);
    QFETCH(bool, withChecksum);
    const auto request = mdlPing::packet::echoRequest(std::uint16_t(identifier), std::uint16_t(sequence), withChecksum);
    QCOMPARE(int(request.size()), 13);
    QCOMPARE(int(request[0]), 8);
    QCOMPARE(int(request[1]), 0);
    QCOMPARE((request[4] << 8) | request[5], identifier);
    QCOMPARE((request[6] << 8) | request[7], sequence);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(request.data() + 8), 5), QByteArray("hello"));
    if (withChecksum)
        QCOMPARE(int(internetChecksum(request.data(), request.size())), 0);
    else
        QCOMPARE((request[2] << 8) | request[3], 0);
}

void tst_IcmpPacket::icmpErrorStatus_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("status");
    const int unreachable[16] = {11002, 11003, 11004, 11005, 11009, 11012, 11002, 11003,
                                 11003, 11002, 11003, 11002, 11003, 11003, 11003, 11003};
    for (int code = 0; code < 16; ++code)
        QTest::addRow("unreachable, code %d", code) << 3 << code << unreachable[code];
    QTest::newRow("unreachable, unknown code") << 3 << 200 << 11003;
    QTest::newRow("time exceeded in transit") << 11 << 0 << 11013;
    QTest::newRow("time exceeded in reassembly") << 11 << 1 << 11014;
    QTest::newRow("time exceeded, unknown code") << 11 << 7 << 11013;
    QTest::newRow("parameter problem") << 12 << 0 << 11015;
    QTest::newRow("parameter problem, option missing") << 12 << 1 << 11015;
    QTest::newRow("source quench") << 4 << 0 << 11016;
    for (int code = 0; code < 4; ++code)
        QTest::addRow("redirect, code %d", code) << 5 << code << kNone;
    QTest::newRow("echo reply") << 0 << 0 << kNone;
    QTest::newRow("echo request") << 8 << 0 << kNone;
    QTest::newRow("timestamp") << 13 << 0 << kNone;
    QTest::newRow("unassigned type") << 42 << 0 << kNone;
}

void tst_IcmpPacket::icmpErrorStatus()
{
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, status);
    QCOMPARE(statusForIcmpError(type, code).value_or(kNone), status);
}

void tst_IcmpPacket::sendErrorStatus_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status");
    QTest::newRow("ENETUNREACH") << ENETUNREACH << 11002;
    QTest::newRow("EHOSTUNREACH") << EHOSTUNREACH << 11003;
    QTest::newRow("EHOSTDOWN") << EHOSTDOWN << 11003;
    QTest::newRow("ENONET") << ENONET << 11003;
    QTest::newRow("ENOBUFS") << ENOBUFS << 11006;
    QTest::newRow("ENOMEM") << ENOMEM << 11006;
    QTest::newRow("EAGAIN") << EAGAIN << 11006;
    QTest::newRow("EMSGSIZE") << EMSGSIZE << 11009;
    QTest::newRow("EACCES") << EACCES << 11018;
    QTest::newRow("EINVAL") << EINVAL << 11050;
    QTest::newRow("EPERM") << EPERM << 11050;
    QTest::newRow("unknown") << 0 << 11050;
}

void tst_IcmpPacket::sendErrorStatus()
{
    QFETCH(int, error);
    QFETCH(int, status);
    QCOMPARE(statusForSendError(error), status);
}

void tst_IcmpPacket::rawPackets_data()
{
    QTest::addColumn<Bytes>("packet");
    QTest::addColumn<int>("status"); // kNone: not an answer
    QTest::addColumn<quint32>("source");
    QTest::addColumn<int>("identifier");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<quint32>("quotedDestination");
    QTest::addColumn<int>("dataSize");

    const Bytes reply = join(ipHeader(kHost, kProber), icmp(kEchoReply, 0, 0x1234, 0x0102, hello()));
    QTest::newRow("echo reply") << reply << 0 << kHost << 0x1234 << 0x0102 << 0u << 5;
    QTest::newRow("echo reply with IP options")
        << join(ipHeader(kHost, kProber, 10), icmp(kEchoReply, 0, 0x1234, 0x0102, hello())) << 0 << kHost << 0x1234
        << 0x0102 << 0u << 5;
    QTest::newRow("echo reply, odd payload")
        << join(ipHeader(kHost, kProber), icmp(kEchoReply, 0, 7, 9, Bytes{'a', 'b', 'c'})) << 0 << kHost << 7 << 9 << 0u
        << 3;
    QTest::newRow("echo reply, no payload")
        << join(ipHeader(kHost, kProber), icmp(kEchoReply, 0, 7, 9, {})) << 0 << kHost << 7 << 9 << 0u << 0;

    Bytes corrupted = reply;
    corrupted.back() ^= 1;
    QTest::newRow("bad checksum") << corrupted << kNone << 0u << 0 << 0 << 0u << 0;
    Bytes version6 = reply;
    version6[0] = 0x65;
    QTest::newRow("not IPv4") << version6 << kNone << 0u << 0 << 0 << 0u << 0;
    Bytes shortHeader = reply;
    shortHeader[0] = 0x44;
    QTest::newRow("header length below 20") << shortHeader << kNone << 0u << 0 << 0 << 0u << 0;
    Bytes longHeader = reply;
    longHeader[0] = 0x4f;
    QTest::newRow("header longer than the packet") << longHeader << kNone << 0u << 0 << 0 << 0u << 0;
    QTest::newRow("not ICMP") << join(ipHeader(kHost, kProber, 0, 17), icmp(kEchoReply, 0, 1, 2, hello())) << kNone
                              << 0u << 0 << 0 << 0u << 0;
    QTest::newRow("ICMP header cut short")
        << Bytes(reply.begin(), reply.begin() + 26) << kNone << 0u << 0 << 0 << 0u << 0;
    QTest::newRow("IP header cut short") << Bytes(reply.begin(), reply.begin() + 19) << kNone << 0u << 0 << 0 << 0u
                                         << 0;
    QTest::newRow("empty") << Bytes{} << kNone << 0u << 0 << 0 << 0u << 0;
    QTest::newRow("echo request (somebody pinging us)")
        << join(ipHeader(kHost, kProber), icmp(kEchoRequest, 0, 0x1234, 0x0102, hello())) << kNone << 0u << 0 << 0 << 0u
        << 0;

    QTest::newRow("host unreachable") << error(3, 1, quotedRequest()) << 11003 << kRouter << 0x1234 << 0x0102 << kHost
                                      << 0;
    QTest::newRow("net unreachable, short quote")
        << error(3, 0, quotedRequest(0, kEchoRequest, 8)) << 11002 << kRouter << 0x1234 << 0x0102 << kHost << 0;
    QTest::newRow("port unreachable quoting options")
        << error(3, 3, quotedRequest(3)) << 11005 << kRouter << 0x1234 << 0x0102 << kHost << 0;
    QTest::newRow("time exceeded") << error(11, 0, quotedRequest(), ip("198.18.1.3")) << 11013 << ip("198.18.1.3")
                                   << 0x1234 << 0x0102 << kHost << 0;
    QTest::newRow("reassembly time exceeded")
        << error(11, 1, quotedRequest()) << 11014 << kRouter << 0x1234 << 0x0102 << kHost << 0;
    QTest::newRow("parameter problem") << error(12, 0, quotedRequest()) << 11015 << kRouter << 0x1234 << 0x0102 << kHost
                                       << 0;
    QTest::newRow("source quench") << error(4, 0, quotedRequest()) << 11016 << kRouter << 0x1234 << 0x0102 << kHost
                                   << 0;
    QTest::newRow("redirect") << error(5, 1, quotedRequest()) << kNone << 0u << 0 << 0 << 0u << 0;
    QTest::newRow("error quoting an echo reply")
        << error(3, 1, quotedRequest(0, kEchoReply)) << kNone << 0u << 0 << 0 << 0u << 0;
    QTest::newRow("error quoting too little of the request")
        << error(3, 1, quotedRequest(0, kEchoRequest, 7)) << kNone << 0u << 0 << 0 << 0u << 0;
    Bytes quotedUdp = quotedRequest();
    quotedUdp[9] = 17;
    QTest::newRow("error quoting UDP") << error(3, 3, quotedUdp) << kNone << 0u << 0 << 0 << 0u << 0;
    Bytes quotedBadHeader = quotedRequest();
    quotedBadHeader[0] = 0x43;
    QTest::newRow("error quoting a broken header") << error(3, 1, quotedBadHeader) << kNone << 0u << 0 << 0 << 0u << 0;
    QTest::newRow("error quoting nothing") << error(3, 1, {}) << kNone << 0u << 0 << 0 << 0u << 0;
    Bytes badError = error(3, 1, quotedRequest());
    badError[22] ^= 0xff;
    QTest::newRow("error with a bad checksum") << badError << kNone << 0u << 0 << 0 << 0u << 0;
}

void tst_IcmpPacket::rawPackets()
{
    QFETCH(Bytes, packet);
    QFETCH(int, status);
    QFETCH(quint32, source);
    QFETCH(int, identifier);
    QFETCH(int, sequence);
    QFETCH(quint32, quotedDestination);
    QFETCH(int, dataSize);
    const std::optional<Packet> parsed = parseRawPacket(packet.data(), packet.size());
    QCOMPARE(parsed.has_value(), status != kNone);
    if (!parsed)
        return;
    QCOMPARE(parsed->kind, status == 0 ? Packet::Kind::EchoReply : Packet::Kind::Error);
    QCOMPARE(parsed->status, status);
    QCOMPARE(parsed->source, source);
    QCOMPARE(int(parsed->identifier), identifier);
    QCOMPARE(int(parsed->sequence), sequence);
    QCOMPARE(parsed->quotedDestination, quotedDestination);
    QCOMPARE(int(parsed->dataSize), dataSize);
    if (dataSize == 5)
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(parsed->data), 5), QByteArray("hello"));
}

void tst_IcmpPacket::datagramReplies_data()
{
    QTest::addColumn<Bytes>("message");
    QTest::addColumn<bool>("answer");
    QTest::newRow("echo reply") << icmp(kEchoReply, 0, 0x4321, 77, hello()) << true;
    QTest::newRow("header only") << icmp(kEchoReply, 0, 0x4321, 77, {}) << true;
    QTest::newRow("cut short") << Bytes{0, 0, 0, 0, 0x43, 0x21, 0} << false;
    QTest::newRow("echo request") << icmp(kEchoRequest, 0, 0x4321, 77, hello()) << false;
    QTest::newRow("unreachable") << icmp(3, 1, 0x4321, 77, hello()) << false;
}

void tst_IcmpPacket::datagramReplies()
{
    QFETCH(Bytes, message);
    QFETCH(bool, answer);
    const std::optional<Packet> parsed = parseDatagramReply(message.data(), message.size(), kHost);
    QCOMPARE(parsed.has_value(), answer);
    if (!parsed)
        return;
    QCOMPARE(parsed->kind, Packet::Kind::EchoReply);
    QCOMPARE(parsed->source, kHost);
    QCOMPARE(int(parsed->identifier), 0x4321);
    QCOMPARE(int(parsed->sequence), 77);
    QCOMPARE(parsed->dataSize, message.size() - 8);
}

void tst_IcmpPacket::quotedEcho_data()
{
    QTest::addColumn<Bytes>("quoted");
    QTest::addColumn<bool>("found");
    QTest::newRow("echo request") << icmp(kEchoRequest, 0, 0xbeef, 0x0203, hello()) << true;
    QTest::newRow("first eight bytes only") << Bytes{8, 0, 0, 0, 0xbe, 0xef, 0x02, 0x03} << true;
    QTest::newRow("seven bytes") << Bytes{8, 0, 0, 0, 0xbe, 0xef, 0x02} << false;
    QTest::newRow("echo reply") << icmp(kEchoReply, 0, 0xbeef, 0x0203, hello()) << false;
}

void tst_IcmpPacket::quotedEcho()
{
    QFETCH(Bytes, quoted);
    QFETCH(bool, found);
    const std::optional<EchoId> echo = parseQuotedEcho(quoted.data(), quoted.size());
    QCOMPARE(echo.has_value(), found);
    if (echo) {
        QCOMPARE(int(echo->identifier), 0xbeef);
        QCOMPARE(int(echo->sequence), 0x0203);
    }
}

void tst_IcmpPacket::icmpv6ErrorStatus_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("status");
    QTest::newRow("no route") << 1 << 0 << 11002;
    QTest::newRow("administratively prohibited") << 1 << 1 << 11003;
    QTest::newRow("beyond the scope of the source") << 1 << 2 << 11003;
    QTest::newRow("address unreachable") << 1 << 3 << 11003;
    QTest::newRow("port unreachable") << 1 << 4 << 11005;
    QTest::newRow("source address failed policy") << 1 << 5 << 11003;
    QTest::newRow("reject route") << 1 << 6 << 11003;
    QTest::newRow("unassigned unreachable code") << 1 << 200 << 11003;
    QTest::newRow("packet too big") << 2 << 0 << 11009;
    QTest::newRow("hop limit exceeded") << 3 << 0 << 11013;
    QTest::newRow("reassembly time exceeded") << 3 << 1 << 11014;
    QTest::newRow("erroneous header field") << 4 << 0 << 11015;
    QTest::newRow("unrecognised next header") << 4 << 1 << 11015;
    QTest::newRow("unrecognised option") << 4 << 2 << 11015;
    // Informational messages never end a probe, whatever their code.
    QTest::newRow("echo request") << 128 << 0 << kNone;
    QTest::newRow("echo reply") << 129 << 0 << kNone;
    QTest::newRow("redirect") << 137 << 0 << kNone;
    QTest::newRow("neighbour advertisement") << 136 << 0 << kNone;
    // The IPv4 numbers of the same errors mean something else in ICMPv6.
    QTest::newRow("IPv4 unreachable number") << 3 << 3 << 11013;
    QTest::newRow("IPv4 time exceeded number") << 11 << 0 << kNone;
    QTest::newRow("unassigned error type") << 100 << 0 << kNone;
}

void tst_IcmpPacket::icmpv6ErrorStatus()
{
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, status);
    QCOMPARE(statusForIcmpv6Error(type, code).value_or(kNone), status);
}

void tst_IcmpPacket::echoRequestV6()
{
    const auto request = mdlPing::packet::echoRequestV6(0x1234, 0xfedc);
    QCOMPARE(int(request[0]), 128);
    QCOMPARE(int(request[1]), 0);
    // The kernel fills in the checksum: it covers a source address only it knows.
    QCOMPARE(int(request[2]), 0);
    QCOMPARE(int(request[3]), 0);
    QCOMPARE(int(request[4]), 0x12);
    QCOMPARE(int(request[5]), 0x34);
    QCOMPARE(int(request[6]), 0xfe);
    QCOMPARE(int(request[7]), 0xdc);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(request.data()) + 8, 5), QByteArray("hello"));
}

namespace {

using Address6 = std::array<std::uint8_t, 16>;

Address6 ip6(const char* text)
{
    Address6 address{};
    ::inet_pton(AF_INET6, text, address.data());
    return address;
}

Bytes icmpv6(int type, int code, std::uint16_t id, std::uint16_t sequence)
{
    Bytes b(8, 0);
    b[0] = static_cast<std::uint8_t>(type);
    b[1] = static_cast<std::uint8_t>(code);
    put16(b, 4, id);
    put16(b, 6, sequence);
    return b;
}

// An ICMPv6 error quoting our echo request to destination, with extension headers
// (next-header numbers) in front of it.
Bytes errorV6(int type, int code, const char* destination, std::uint16_t id, std::uint16_t sequence,
              const std::vector<int>& extensions = {}, int quotedType = 128)
{
    Bytes b = icmpv6(type, code, 0, 0);
    Bytes ip(40, 0);
    ip[0] = 0x60;
    ip[6] = static_cast<std::uint8_t>(extensions.empty() ? 58 : extensions.front());
    ip[7] = 64;
    const Address6 from = ip6("2001:db8::1");
    const Address6 to = ip6(destination);
    std::copy(from.begin(), from.end(), ip.begin() + 8);
    std::copy(to.begin(), to.end(), ip.begin() + 24);
    b.insert(b.end(), ip.begin(), ip.end());
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        Bytes header(8, 0);
        header[0] = static_cast<std::uint8_t>(i + 1 < extensions.size() ? extensions[i + 1] : 58);
        b.insert(b.end(), header.begin(), header.end());
    }
    Bytes quoted = icmpv6(quotedType, 0, id, sequence);
    for (const char c : {'h', 'e', 'l', 'l', 'o'})
        quoted.push_back(static_cast<std::uint8_t>(c));
    b.insert(b.end(), quoted.begin(), quoted.end());
    return b;
}

} // namespace

void tst_IcmpPacket::rawPacketsV6_data()
{
    QTest::addColumn<Bytes>("packet");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("isError");
    QTest::addColumn<int>("status");

    Bytes reply = icmpv6(129, 0, 0x4242, 7);
    for (const char c : {'h', 'e', 'l', 'l', 'o'})
        reply.push_back(static_cast<std::uint8_t>(c));
    QTest::newRow("echo reply") << reply << true << false << 0;
    QTest::newRow("echo request") << icmpv6(128, 0, 0x4242, 7) << false << false << 0;
    QTest::newRow("neighbour solicitation") << icmpv6(135, 0, 0x4242, 7) << false << false << 0;
    QTest::newRow("truncated header") << Bytes{129, 0, 0, 0} << false << false << 0;
    QTest::newRow("no route") << errorV6(1, 0, "2001:db8:2::1", 0x4242, 7) << true << true << 11002;
    QTest::newRow("prohibited") << errorV6(1, 1, "2001:db8:2::1", 0x4242, 7) << true << true << 11003;
    QTest::newRow("packet too big") << errorV6(2, 0, "2001:db8:2::1", 0x4242, 7) << true << true << 11009;
    QTest::newRow("hop limit") << errorV6(3, 0, "2001:db8:2::1", 0x4242, 7) << true << true << 11013;
    QTest::newRow("after hop-by-hop and destination options")
        << errorV6(4, 0, "2001:db8:2::1", 0x4242, 7, {0, 60}) << true << true << 11015;
    QTest::newRow("after a first fragment header")
        << errorV6(1, 4, "2001:db8:2::1", 0x4242, 7, {44}) << true << true << 11005;
    QTest::newRow("quoting an unknown header") << errorV6(1, 0, "2001:db8:2::1", 0x4242, 7, {6}) << false << false << 0;
    QTest::newRow("quoting something other than an echo request")
        << errorV6(1, 0, "2001:db8:2::1", 0x4242, 7, {}, 129) << false << false << 0;
    Bytes cut = errorV6(1, 0, "2001:db8:2::1", 0x4242, 7, {0, 60});
    cut.resize(8 + 40 + 16 + 4);
    QTest::newRow("cut off inside the quoted request") << cut << false << false << 0;
    // The last extension header claims 2 kB; the error ends right after it.
    Bytes overlong = errorV6(1, 0, "2001:db8:2::1", 0x4242, 7, {60});
    overlong[8 + 40 + 1] = 255;
    overlong.resize(8 + 40 + 8);
    QTest::newRow("last header longer than the packet") << overlong << false << false << 0;
    Bytes notV6 = errorV6(1, 0, "2001:db8:2::1", 0x4242, 7);
    notV6[8] = 0x45;
    QTest::newRow("quoting an IPv4 header") << notV6 << false << false << 0;
    // A chain of options longer than any packet of ours must not keep the parser going.
    QTest::newRow("endless options") << errorV6(1, 0, "2001:db8:2::1", 0x4242, 7, std::vector<int>(12, 60)) << false
                                     << false << 0;
}

void tst_IcmpPacket::rawPacketsV6()
{
    QFETCH(Bytes, packet);
    QFETCH(bool, accepted);
    QFETCH(bool, isError);
    QFETCH(int, status);
    const Address6 source = ip6("2001:db8:1::9");
    const std::optional<Packet> parsed = parseRawPacketV6(packet.data(), packet.size(), source);
    QCOMPARE(parsed.has_value(), accepted);
    if (!accepted)
        return;
    QCOMPARE(parsed->identifier, std::uint16_t(0x4242));
    QCOMPARE(parsed->sequence, std::uint16_t(7));
    QCOMPARE(parsed->status, status);
    QVERIFY(parsed->source6 == source);
    QCOMPARE(parsed->kind == Packet::Kind::Error, isError);
    if (isError) {
        QVERIFY(parsed->quotedDestination6 == ip6("2001:db8:2::1"));
    } else {
        QCOMPARE(parsed->dataSize, std::size_t(5));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(parsed->data), 5), QByteArray("hello"));
        // A datagram socket reads the same bytes.
        QVERIFY(parseDatagramReplyV6(packet.data(), packet.size(), source).has_value());
    }
}

QTEST_GUILESS_MAIN(tst_IcmpPacket)
#include "tst_icmppacket.moc"
