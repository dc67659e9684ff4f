// The one address rule: what a text is taken for, that the engine and the list's checks agree on
// it, and the order a host column sorts in.

#include "hostlist/hostlistfile.h"
#include "probe/hostaddress.h"
#include "probe/icmpcore.h"

#include <QTest>

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>

using hostaddress::HostAddress;

namespace {

// "4:" and "6:" an address that can be probed, "0:" one that parses but names no single host,
// "name:" the name the resolver gets, "-" nothing.
QString described(const HostAddress& a)
{
    char text[INET6_ADDRSTRLEN] = {};
    switch (a.form) {
    case HostAddress::Form::IPv4:
    case HostAddress::Form::IPv6: {
        const bool v6 = a.form == HostAddress::Form::IPv6;
        ::inet_ntop(v6 ? AF_INET6 : AF_INET, a.bytes.data(), text, sizeof text);
        return (a.oneHost ? (v6 ? QStringLiteral("6:") : QStringLiteral("4:")) : QStringLiteral("0:")) +
               QString::fromLatin1(text) + (a.scope ? QStringLiteral("%") + QString::number(a.scope) : QString());
    }
    case HostAddress::Form::Name:
        return QStringLiteral("name:") + QString::fromLatin1(a.name);
    case HostAddress::Form::Invalid:
        break;
    }
    return QStringLiteral("-");
}

QStringList strings(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* i : items)
        out.append(QString::fromUtf8(i));
    return out;
}

} // namespace

class tst_HostAddress : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void forms_data();
    void forms();
    void sortOrder_data();
    void sortOrder();
};

void tst_HostAddress::forms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("form");
    const QString scope = QStringLiteral("%") + QString::number(::if_nametoindex("lo"));
    const auto row = [](const char* name, const QString& text, const char* form) {
        QTest::newRow(name) << text << QString::fromLatin1(form);
    };
    row("dotted", QStringLiteral("192.0.2.1"), "4:192.0.2.1");
    row("two parts", QStringLiteral("10.1"), "4:10.0.0.1");
    row("three parts", QStringLiteral("127.0.3"), "4:127.0.0.3");
    row("hex and octal", QStringLiteral("0x7f.010.0.1"), "4:127.8.0.1");
    row("one number", QStringLiteral("3221225985"), "4:192.0.2.1");
    row("a small number", QStringLiteral("10"), "4:0.0.0.10");
    row("any address", QStringLiteral("0.0.0.0"), "0:0.0.0.0");
    row("broadcast", QStringLiteral("255.255.255.255"), "0:255.255.255.255");
    // The IPv4 rules come first: a number that is too big is a bad address, never a name.
    row("bad IPv4", QStringLiteral("1.2.3.256"), "-");
    row("five parts", QStringLiteral("1.2.3.4.5"), "-");
    row("bad octal", QStringLiteral("010.09.0.1"), "-");
    row("IPv4 with a trailing dot", QStringLiteral("127.0.0.1."), "-");
    row("IPv6 loopback", QStringLiteral("::1"), "6:::1");
    row("IPv6 long form", QStringLiteral("2001:DB8:0:0:0:0:0:1"), "6:2001:db8::1");
    row("IPv4-mapped IPv6", QStringLiteral("::ffff:192.0.2.1"), "6:::ffff:192.0.2.1");
    QTest::newRow("link-local with interface") << QStringLiteral("fe80::1%lo") << (QStringLiteral("6:fe80::1") + scope);
    row("IPv6 unspecified", QStringLiteral("::"), "0:::");
    row("IPv6 in brackets", QStringLiteral("[::1]"), "-");
    row("too many groups", QStringLiteral("1:2:3:4:5:6:7:8:9"), "-");
    row("a port is no address", QStringLiteral("gw.example:80"), "-");
    row("single label", QStringLiteral("gateway"), "name:gateway");
    row("trailing dot", QStringLiteral("gw.example.lan."), "name:gw.example.lan.");
    row("digits first", QStringLiteral("1und1.example"), "name:1und1.example");
    row("underscore", QStringLiteral("_srv.example"), "name:_srv.example");
    row("international",
        QString::fromUtf8("b\xc3\xbc"
                          "cher.example"),
        "name:xn--bcher-kva.example");
    QTest::newRow("253 characters") << (QStringLiteral("a.").repeated(126) + QStringLiteral("a"))
                                    << (QStringLiteral("name:") + QStringLiteral("a.").repeated(126) +
                                        QStringLiteral("a"));
    row("254 characters", QStringLiteral("a.").repeated(126) + QStringLiteral("ab"), "-");
    row("64-character label", QStringLiteral("a").repeated(64) + QStringLiteral(".example"), "-");
    row("hyphen at the end of a label", QStringLiteral("gw-.example"), "-");
    row("empty label", QStringLiteral("gw..example"), "-");
    row("all-digit last label", QStringLiteral("host.123"), "-");
    row("slash", QStringLiteral("gw/24"), "-");
    row("empty", QString(), "-");
    row("embedded NUL", QStringLiteral("gw") + QChar(0) + QStringLiteral(".example"), "-");
}

// Both the engine and the list's check must give the same answer for every form; a text the
// list lets through that the engine refuses would sit in the list failing every sweep.
void tst_HostAddress::forms()
{
    QFETCH(QString, text);
    QFETCH(QString, form);
    const HostAddress parsed = hostaddress::parse(text);
    QCOMPARE(described(parsed), form);

    using mdlPing::detail::Target;
    const Target target = mdlPing::detail::classifyAddress(text);
    const bool probed = form.startsWith(u'4') || form.startsWith(u'6');
    QCOMPARE(target.form == Target::Form::Address, probed);
    if (probed)
        QCOMPARE(target.address.bytes, parsed.bytes);
    QCOMPARE(target.form == Target::Form::Name, parsed.form == HostAddress::Form::Name);
    QCOMPARE(target.name, parsed.name);

    QCOMPARE(hostlist::addressProblem(text).isEmpty(), probed || parsed.form == HostAddress::Form::Name);
}

void tst_HostAddress::sortOrder_data()
{
    QTest::addColumn<QStringList>("column");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("IPv4 by value, not text")
        << strings({"127.0.1.101", "127.0.1.10", "127.0.1.2", "127.0.1.100", "9.0.0.1"})
        << strings({"9.0.0.1", "127.0.1.2", "127.0.1.10", "127.0.1.100", "127.0.1.101"});
    QTest::newRow("no wrap at the top bit") << strings({"255.255.255.254", "128.0.0.1", "127.255.255.255"})
                                            << strings({"127.255.255.255", "128.0.0.1", "255.255.255.254"});
    QTest::newRow("short IPv4 forms by value")
        << strings({"10.0.0.2", "10.1", "0x0a.0.0.3"}) << strings({"10.1", "10.0.0.2", "0x0a.0.0.3"});
    QTest::newRow("IPv6 by value, not text")
        << strings({"2001:db8::10", "2001:db8::9", "fe80::1", "::1", "2001:DB8::A"})
        << strings({"::1", "2001:db8::9", "2001:DB8::A", "2001:db8::10", "fe80::1"});
    QTest::newRow("IPv4, then IPv6, then names")
        << strings({"router", "::1", "10.0.0.1", "Alpha.example", "", "1.2.3.4", "bad:address"})
        << strings({"1.2.3.4", "10.0.0.1", "::1", "", "Alpha.example", "bad:address", "router"});
    QTest::newRow("names case-blind") << strings({"beta", "Alpha", "alpha2", "ALPHA1"})
                                      << strings({"Alpha", "ALPHA1", "alpha2", "beta"});
}

void tst_HostAddress::sortOrder()
{
    QFETCH(QStringList, column);
    QFETCH(QStringList, expected);
    std::stable_sort(column.begin(), column.end(), [](const QString& a, const QString& b) {
        return hostaddress::sortKey(a) < hostaddress::sortKey(b);
    });
    QCOMPARE(column, expected);
}

QTEST_GUILESS_MAIN(tst_HostAddress)
#include "tst_hostaddress.moc"
