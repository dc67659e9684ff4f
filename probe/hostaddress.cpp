#include "probe/hostaddress.h"

#include <QUrl>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace hostaddress {

QByteArray asciiHostName(const QString& text)
{
    QByteArray ascii;
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; }))
        ascii = text.toLatin1();
    else
        ascii = QUrl::toAce(text, QUrl::AceTransitionalProcessing);
    const QByteArray name = ascii.endsWith('.') ? ascii.chopped(1) : ascii;
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
    if (std::all_of(last.cbegin(), last.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    return ascii;
}

HostAddress parse(const QString& text)
{
    HostAddress result;
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || bytes.contains('\0'))
        return result;
    in_addr v4{};
    if (::inet_aton(bytes.constData(), &v4) != 0) {
        result.form = HostAddress::Form::IPv4;
        result.oneHost = v4.s_addr != 0 && v4.s_addr != INADDR_NONE;
        std::memcpy(result.bytes.data(), &v4.s_addr, sizeof v4.s_addr);
        return result;
    }
    if (bytes.contains(':')) {
        // A numeric lookup, unlike inet_pton, also takes the interface ("%eth0").
        addrinfo hints{};
        hints.ai_family = AF_INET6;
        hints.ai_flags = AI_NUMERICHOST;
        addrinfo* found = nullptr;
        if (::getaddrinfo(bytes.constData(), nullptr, &hints, &found) != 0 || !found)
            return result;
        sockaddr_in6 v6{};
        std::memcpy(&v6, found->ai_addr, std::min<std::size_t>(sizeof v6, found->ai_addrlen));
        ::freeaddrinfo(found);
        result.form = HostAddress::Form::IPv6;
        result.oneHost = !IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr);
        std::memcpy(result.bytes.data(), &v6.sin6_addr, 16);
        result.scope = v6.sin6_scope_id;
        return result;
    }
    result.name = asciiHostName(text);
    if (!result.name.isEmpty())
        result.form = HostAddress::Form::Name;
    return result;
}

QByteArray sortKey(const QString& text)
{
    const HostAddress address = parse(text);
    QByteArray key;
    switch (address.form) {
    case HostAddress::Form::IPv4:
        key.append('\1');
        key.append(reinterpret_cast<const char*>(address.bytes.data()), 4);
        return key;
    case HostAddress::Form::IPv6: {
        key.append('\2');
        key.append(reinterpret_cast<const char*>(address.bytes.data()), 16);
        // Big-endian, so that byte order is number order.
        const std::uint32_t scope = htonl(address.scope);
        key.append(reinterpret_cast<const char*>(&scope), sizeof scope);
        return key;
    }
    case HostAddress::Form::Name:
    case HostAddress::Form::Invalid:
        break;
    }
    // UTF-8 orders as code points do, so folded texts compare as a case-blind text comparison.
    key.append('\3');
    key.append(text.toCaseFolded().toUtf8());
    return key;
}

} // namespace hostaddress
