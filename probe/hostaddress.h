#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// What a text typed as a host is, by the one set of rules the engine probes by and the list
// checks by. The classic IPv4 rules come first (inet_aton: "10.1", octal, hex): a text they
// accept is that IPv4 address, never a name. Then IPv6 literals (with the interface of a
// link-local one, "fe80::1%eth0"), then host names, which must be well-formed to be looked up.
namespace hostaddress {

struct HostAddress
{
    enum class Form
    {
        Invalid,
        IPv4,
        IPv6,
        Name,
    };
    Form form = Form::Invalid;
    // False for the texts that parse but name no single host: 0.0.0.0, 255.255.255.255, "::".
    bool oneHost = false;
    // IPv4: the first four bytes, network order; IPv6: all sixteen.
    std::array<std::uint8_t, 16> bytes{};
    std::uint32_t scope = 0; // IPv6: the interface index of a link-local address
    QByteArray name;         // Name: ASCII, as the resolver takes it
};

HostAddress parse(const QString& text);

// A host name as the resolver takes it: at most 253 characters, dot-separated labels of
// 1..63 letters, digits, hyphens (not at either end) and underscores, the last one not all
// digits (that is a mistyped address). International names come back in their ASCII form.
// Empty when the text is no such name.
QByteArray asciiHostName(const QString& text);

// Orders texts as a list of hosts wants them: IPv4 addresses by value, then IPv6 addresses by
// value (and interface), then everything else by text, case-insensitive. Compare keys bytewise.
QByteArray sortKey(const QString& text);

} // namespace hostaddress
