#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Lists from older tools: telling UTF-8 from a code page, and the code page both ways.
namespace hostlist {

// Lists written on Windows in the code page of the seed's own texts.
inline constexpr char DefaultLegacyEncoding[] = "windows-1251";

// True when data is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool isUtf8(QByteArrayView data);
// True when a list file is not UTF-8 as a whole (no byte order mark, not valid UTF-8). Such a file
// is still read line by line: a line that is valid UTF-8 is UTF-8, any other is in the legacy code
// page. Lines added or changed are written in the legacy code page while this holds.
bool isLegacyText(QByteArrayView data);
// Windows-1251 from a table of our own, so that the result does not depend on how Qt was built.
// The one byte the code page leaves undefined (0x98) stands for U+0098, as browsers read it, so
// that every byte reads back as itself.
QString decodeWindows1251(QByteArrayView bytes);
// Nothing when text holds a character Windows-1251 cannot hold.
std::optional<QByteArray> encodeWindows1251(QStringView text);
// The code page named by encoding (empty: DefaultLegacyEncoding); a name Qt does not know falls
// back to Windows-1251.
QString decodeLegacy(QByteArrayView bytes, const QByteArray& encoding);
std::optional<QByteArray> encodeLegacy(QStringView text, const QByteArray& encoding);

} // namespace hostlist
