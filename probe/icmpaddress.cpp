#include "probe/icmpcore.h"
#include "probe/icmpsocket_p.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QUrl>

// Addresses and names: what a text in the address column is, and how a name is looked up.
namespace mdlPing::detail {

std::optional<std::uint32_t> parseAddress(const QString& address)
{
    // inet_addr keeps the classic forms ("10.1", octal, hex) that saved host lists use.
    const QByteArray text = address.toUtf8();
    if (text.contains('\0'))
        return std::nullopt;
    const in_addr_t destination = ::inet_addr(text.constData());
    if (destination == INADDR_NONE || destination == 0)
        return std::nullopt;
    return destination;
}

IpAddress IpAddress::v4(std::uint32_t networkOrder)
{
    IpAddress address;
    address.family = AF_INET;
    std::memcpy(address.bytes.data(), &networkOrder, sizeof networkOrder);
    return address;
}

IpAddress IpAddress::v6(const std::array<std::uint8_t, 16>& bytes, std::uint32_t scope)
{
    IpAddress address;
    address.family = AF_INET6;
    address.bytes = bytes;
    address.scope = scope;
    return address;
}

std::uint32_t IpAddress::v4Address() const
{
    std::uint32_t networkOrder;
    std::memcpy(&networkOrder, bytes.data(), sizeof networkOrder);
    return networkOrder;
}

QString IpAddress::toString() const
{
    char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    if (family != AF_INET && family != AF_INET6)
        return {};
    if (!::inet_ntop(family, bytes.data(), text, sizeof text))
        return {};
    QString result = QString::fromLatin1(text);
    if (isV6() && scope != 0) {
        char name[IF_NAMESIZE] = {};
        result +=
            QLatin1Char('%') + (::if_indextoname(scope, name) ? QString::fromLatin1(name) : QString::number(scope));
    }
    return result;
}

namespace {

// A host name as the resolver takes it: at most 253 characters, dot-separated labels of
// 1..63 letters, digits, hyphens (not at either end) and underscores, the last one not
// all digits (that is a mistyped address). International names are taken in their ASCII form.
QByteArray hostName(const QString& text)
{
    QByteArray ascii;
    bool plain = true;
    for (const QChar c : text)
        plain = plain && c.unicode() < 0x80;
    if (plain) {
        ascii = text.toLatin1();
    } else {
        ascii = QUrl::toAce(text, QUrl::AceTransitionalProcessing);
        if (ascii.isEmpty())
            return {};
    }
    QByteArray name = ascii.endsWith('.') ? ascii.chopped(1) : ascii;
    if (name.isEmpty() || name.size() > 253)
        return {};
    const QList<QByteArray> labels = name.split('.');
    for (const QByteArray& label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith('-') || label.endsWith('-'))
            return {};
        for (const char c : label) {
            const bool ok =
                (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
            if (!ok)
                return {};
        }
    }
    const QByteArray& last = labels.last();
    if (std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    return ascii;
}

} // namespace

Target classifyAddress(const QString& text)
{
    Target target;
    const QByteArray bytes = text.toUtf8();
    if (bytes.contains('\0') || bytes.isEmpty())
        return target;
    // The classic IPv4 rules first: whatever they accept is an IPv4 address, good or bad.
    in_addr v4{};
    if (::inet_aton(bytes.constData(), &v4) != 0) {
        if (v4.s_addr != 0 && v4.s_addr != INADDR_NONE) {
            target.form = Target::Form::Address;
            target.address = IpAddress::v4(v4.s_addr);
        }
        return target;
    }
    if (bytes.contains(':')) {
        // A numeric lookup also takes the interface of a link-local address ("%eth0").
        addrinfo hints{};
        hints.ai_family = AF_INET6;
        hints.ai_flags = AI_NUMERICHOST;
        addrinfo* found = nullptr;
        if (::getaddrinfo(bytes.constData(), nullptr, &hints, &found) == 0 && found) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
            std::array<std::uint8_t, 16> raw;
            std::memcpy(raw.data(), &a->sin6_addr, 16);
            const std::uint32_t scope = a->sin6_scope_id;
            ::freeaddrinfo(found);
            if (!IN6_IS_ADDR_UNSPECIFIED(reinterpret_cast<const in6_addr*>(raw.data()))) {
                target.form = Target::Form::Address;
                target.address = IpAddress::v6(raw, scope);
            }
        }
        return target;
    }
    target.name = hostName(text);
    if (!target.name.isEmpty())
        target.form = Target::Form::Name;
    return target;
}

std::optional<IpAddress> resolveName(const QByteArray& name, QString* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    // One entry per address: the socket type only keeps the resolver from listing each
    // address once per protocol. The order is the system's own (RFC 6724, gai.conf).
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (result == 0) {
        for (const addrinfo* a = found; a; a = a->ai_next) {
            if (a->ai_family != AF_INET && a->ai_family != AF_INET6)
                continue;
            sockaddr_storage storage{};
            std::memcpy(&storage, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof storage));
            const IpAddress address = sockets::fromSockaddr(storage);
            ::freeaddrinfo(found);
            return address;
        }
        ::freeaddrinfo(found);
    }
    if (error) {
        const QString shown = QString::fromLatin1(name);
        if (result == 0 || result == EAI_NONAME || result == EAI_NODATA)
            *error = QStringLiteral("host name not found: ") + shown;
        else if (result == EAI_SYSTEM)
            *error =
                QStringLiteral("host name lookup failed: ") + shown + QStringLiteral(": ") + qt_error_string(errno);
        else
            *error = QStringLiteral("host name lookup failed: ") + shown + QStringLiteral(": ") +
                     QString::fromLocal8Bit(::gai_strerror(result));
    }
    return std::nullopt;
}

} // namespace mdlPing::detail
