#include "probe/hostaddress.h"
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

// Addresses and names: what a text in the address column is, and how a name is looked up.
namespace mdlPing::detail {

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

Target classifyAddress(const QString& text)
{
    // The one rule the list checks by, so that what it accepts is what gets probed.
    Target target;
    const hostaddress::HostAddress parsed = hostaddress::parse(text);
    switch (parsed.form) {
    case hostaddress::HostAddress::Form::IPv4:
        if (parsed.oneHost) {
            std::uint32_t networkOrder;
            std::memcpy(&networkOrder, parsed.bytes.data(), sizeof networkOrder);
            target.form = Target::Form::Address;
            target.address = IpAddress::v4(networkOrder);
        }
        break;
    case hostaddress::HostAddress::Form::IPv6:
        if (parsed.oneHost) {
            target.form = Target::Form::Address;
            target.address = IpAddress::v6(parsed.bytes, parsed.scope);
        }
        break;
    case hostaddress::HostAddress::Form::Name:
        target.form = Target::Form::Name;
        target.name = parsed.name;
        break;
    case hostaddress::HostAddress::Form::Invalid:
        break;
    }
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
