#include "hostlist/legacytext.h"

#include "hostlist/hostlistfile_p.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <iterator>

namespace hostlist {

using namespace detail;

namespace {

// Windows-1251 from 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in order.
constexpr char16_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

bool isWindows1251(const QByteArray& encoding)
{
    const QByteArray name = encoding.toLower();
    return name.isEmpty() || name == "windows-1251" || name == "cp1251" || name == "cp-1251";
}

} // namespace

bool isUtf8(QByteArrayView data)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
            least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
            least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
            least = 0x10000;
        } else {
            return false;
        }
        if (n - i <= more)
            return false;
        for (int k = 1; k <= more; ++k) {
            const unsigned char next = p[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

bool isLegacyText(QByteArrayView data)
{
    return !data.startsWith(ByteOrderMark) && !isUtf8(data);
}

QString decodeWindows1251(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        if (c < 0x80)
            *out++ = QChar(char16_t(c));
        else if (c < 0xC0)
            *out++ = QChar(Cp1251High[c - 0x80]);
        else
            *out++ = QChar(char16_t(0x0410 + (c - 0xC0)));
    }
    return text;
}

std::optional<QByteArray> encodeWindows1251(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            bytes += char(u);
        } else if (u >= 0x0410 && u <= 0x044F) {
            bytes += char(0xC0 + (u - 0x0410));
        } else {
            const char16_t* const end = std::end(Cp1251High);
            const char16_t* at = std::find(std::begin(Cp1251High), end, u);
            if (at == end)
                return std::nullopt;
            bytes += char(0x80 + (at - std::begin(Cp1251High)));
        }
    }
    return bytes;
}

QString decodeLegacy(QByteArrayView bytes, const QByteArray& encoding)
{
    if (!isWindows1251(encoding)) {
        QStringDecoder decoder(encoding.constData(), QStringDecoder::Flag::Stateless);
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return decodeWindows1251(bytes);
}

std::optional<QByteArray> encodeLegacy(QStringView text, const QByteArray& encoding)
{
    if (!isWindows1251(encoding)) {
        QStringEncoder encoder(encoding.constData(), QStringEncoder::Flag::Stateless);
        if (encoder.isValid()) {
            QByteArray bytes = encoder.encode(text);
            // Some converters put a substitute in silently; reading back shows it.
            if (encoder.hasError() || decodeLegacy(bytes, encoding) != text)
                return std::nullopt;
            return bytes;
        }
    }
    return encodeWindows1251(text);
}

} // namespace hostlist
