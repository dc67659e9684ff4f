#include "hostlist/hostline.h"

#include "hostlist/hostlistfile_p.h"
#include "probe/hostaddress.h"

#include <algorithm>

namespace hostlist {

using namespace detail;

// A list line's bytes, without its break, in the encoding given; throws when a text cannot be
// written as one line of the list or the encoding cannot hold it.
QByteArray detail::lineBytes(const QString& path, const HostLine& entry, bool legacy, const QByteArray& encoding)
{
    const auto refuse = [&path](const QString& why) {
        return HostListError(QStringLiteral("%1; nothing was written to %2.").arg(why, shownPath(path)), path);
    };
    // A line break inside a text would split the entry over two lines, and the second would
    // stop every later load at itself; a "|" in the name would push the rest into the address.
    const auto hasBreak = [](const QString& text) { return text.contains(u'\r') || text.contains(u'\n'); };
    if (hasBreak(entry.name) || hasBreak(entry.address))
        throw refuse(QStringLiteral("A host name or address cannot hold a line break"));
    if (entry.type < 0 || entry.type > 9)
        throw refuse(QStringLiteral("The type must be a digit"));
    const QString text = QString::number(entry.type) + u'|' + entry.name + u'|' + entry.address;
    if (!legacy)
        return text.toUtf8();
    std::optional<QByteArray> bytes = encodeLegacy(text, encoding);
    if (!bytes)
        throw refuse(QStringLiteral("The list is kept in the %1 code page, which cannot hold every character of "
                                    "\"%2\"")
                         .arg(QString::fromLatin1(encoding.isEmpty() ? QByteArray(DefaultLegacyEncoding) : encoding),
                              entry.name + u' ' + entry.address));
    // Code-page bytes that happen to be valid UTF-8 would be read back as UTF-8, another text;
    // such a line is written in UTF-8, which reads back as written.
    if (isUtf8(*bytes) && QString::fromUtf8(*bytes) != text)
        return text.toUtf8();
    return *bytes;
}

QString addressProblem(const QString& address)
{
    if (address.trimmed().isEmpty())
        return QStringLiteral("The address is empty.");
    if (address.contains(QChar(0)) || address != address.trimmed())
        return QStringLiteral("\"%1\" holds spaces or control characters; an address cannot.").arg(address.trimmed());
    // What the probe would refuse to send to.
    const hostaddress::HostAddress parsed = hostaddress::parse(address);
    using Form = hostaddress::HostAddress::Form;
    if (parsed.form != Form::Invalid)
        return parsed.form == Form::Name || parsed.oneHost
                   ? QString()
                   : QStringLiteral("%1 is not the address of one host.").arg(address);
    if (address.contains(u':'))
        return QStringLiteral("\"%1\" is not an IPv6 address.").arg(address);
    const QString last = address.section(u'.', -1);
    const bool numeric =
        !last.isEmpty() && std::all_of(last.cbegin(), last.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return numeric ? QStringLiteral("\"%1\" is not an IPv4 address.").arg(address)
                   : QStringLiteral("\"%1\" is neither an IP address nor a host name.").arg(address);
}

std::optional<HostLine> parseHostLine(QStringView line)
{
    if (line.isEmpty())
        return std::nullopt;
    // Only ASCII digits: QChar::isDigit() would also let other scripts' digits through.
    const char16_t first = line.front().unicode();
    if (first < u'0' || first > u'9')
        return std::nullopt;

    HostLine entry;
    const int digit = first - u'0';
    entry.type = digit > 2 ? 3 : digit;

    // The separator is one character, which may take two UTF-16 units; splitting a surrogate
    // pair would start the name with half a character.
    qsizetype nameStart = 2;
    if (line.size() > 2 && line[1].isHighSurrogate() && line[2].isLowSurrogate())
        nameStart = 3;
    if (line.size() <= nameStart)
        return entry;

    const QStringView rest = line.sliced(nameStart);
    const qsizetype bar = rest.indexOf(u'|');
    if (bar < 0) {
        entry.name = rest.toString();
        return entry;
    }
    entry.name = rest.first(bar).toString();
    entry.address = rest.sliced(bar + 1).toString();
    return entry;
}

ParsedHostList parseHostList(QByteArrayView data, const QByteArray& legacyEncoding)
{
    ParsedHostList parsed;
    ScanFailure failure = scan(data, isLegacyText(data), legacyEncoding, [&parsed](HostLine&& entry, const RawLines&) {
        parsed.entries.append(std::move(entry));
    });
    parsed.errorLine = failure.line;
    parsed.errorCause = std::move(failure.cause);
    return parsed;
}

} // namespace hostlist
