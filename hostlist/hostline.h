#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QVector>

#include <optional>

// One line of list.txt as an entry, a whole file's bytes as entries, and whether an address can be
// probed at all.
namespace hostlist {

// One entry of list.txt: "<type digit>|<name>|<address>".
struct HostLine
{
    int type = 0; // small icon index: 0 none, 1..3
    QString name;
    QString address;

    friend bool operator==(const HostLine&, const HostLine&) = default;
};

// The most entries one list can hold. It bounds what one load keeps in memory and how long one
// sweep through every host takes; a longer file is refused at the first entry past it.
inline constexpr int MaxEntries = 32767;

// Reads one line (without its line break). Position 1 holds the type digit, position 2 a
// separator that is skipped unseen, then the name up to the first "|" and the address after it.
// Returns nothing when the line does not start with an ASCII digit, which includes an empty line.
std::optional<HostLine> parseHostLine(QStringView line);

// What the bytes of a list file hold: the entries before the first line that cannot be read.
struct ParsedHostList
{
    QVector<HostLine> entries;
    int errorLine = 0;  // 1-based; 0 when every line was read
    QString errorCause; // plain words; empty when errorLine is 0
};

// Splits at CR LF, lone CR and lone LF, decodes the text (see isLegacyText), skips empty lines and
// stops at the first bad line or at entry MaxEntries + 1. legacyEncoding names the code page for a
// file that is not UTF-8; empty means DefaultLegacyEncoding.
ParsedHostList parseHostList(QByteArrayView data, const QByteArray& legacyEncoding = {});

// Why address can never be probed, in words for the user; empty when it can be. Accepts IPv4
// addresses in every form inet_aton(3) reads except 0.0.0.0 and 255.255.255.255, IPv6 literals
// (with a zone after "%"), and host names: labels of letters, digits, hyphens and underscores, at
// most 63 characters each and 253 in all, not starting or ending in a hyphen, the last one not
// all digits (that would be an IPv4 address gone wrong, like 10.0.0.300); names in other scripts
// are checked in their ASCII form. The one rule for the entry dialog and any import.
QString addressProblem(const QString& address);

} // namespace hostlist
