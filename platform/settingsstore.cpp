#include "platform/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStorageInfo>
#include <QStringList>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace platform {

ConversionError::ConversionError(const QString& message) : std::runtime_error(message.toStdString()) {}

QString ConversionError::message() const
{
    return QString::fromStdString(what());
}

namespace {

bool parseNumber(const QString& text, double* out)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

QString quoted(const QString& text)
{
    return u'"' + text + u'"';
}

// The INI layout Qt writes, read and written by us so that a failed write is seen: Qt 6.4
// reports success when its buffered data could not reach the disk (ENOSPC at close) and then
// replaces the good file with a cut-off one. Our writer flushes and checks before QSettings
// commits, so a failure leaves the old file as it was.

// A settings file is a few hundred bytes; anything far larger is no file of ours. Earlier versions
// kept the unticked entries here, up to 4 MiB of them, so such a file is still read (and then
// written small).
constexpr qint64 MaxIniBytes = qint64(8) << 20;

// Why the latest write failed, for the message at exit. Settings are written on the GUI thread.
QString& lastWriteError()
{
    static QString error;
    return error;
}

// Keys and section names: letters, digits and "_-." as they are; any other code unit below 0x80 as
// %XX and the rest as %UXXXX, so that every UTF-16 text (lone surrogates too) comes back exactly.
// Runs of %XX are read as UTF-8, as an earlier writer encoded every key.
QString unescapeKey(QStringView text)
{
    QString out;
    QByteArray bytes;
    const auto flush = [&] {
        out += QString::fromUtf8(bytes);
        bytes.clear();
    };
    const auto hex = [&](qsizetype from, qsizetype digits, uint* value) {
        if (from + digits > text.size())
            return false;
        bool ok = false;
        *value = text.mid(from, digits).toUInt(&ok, 16);
        for (qsizetype i = from; i < from + digits; ++i)
            ok = ok && isxdigit(text[i].toLatin1()) != 0;
        return ok;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        uint value = 0;
        if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u'U' && hex(i + 2, 4, &value)) {
            flush();
            out += QChar(char16_t(value));
            i += 5;
        } else if (text[i] == u'%' && hex(i + 1, 2, &value)) {
            bytes += char(value);
            i += 2;
        } else {
            flush();
            out += text[i];
        }
    }
    flush();
    return out;
}

QString escapeKey(const QString& key)
{
    QString out;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_' ||
            u == u'-' || u == u'.')
            out += c;
        else if (u < 0x80)
            out += QStringLiteral("%%1").arg(uint(u), 2, 16, QChar(u'0')).toUpper();
        else
            out += QStringLiteral("%U%1").arg(uint(u), 4, 16, QChar(u'0')).toUpper();
    }
    return out;
}

QString unescapeValue(QStringView text)
{
    const QStringView t = text.trimmed();
    if (!t.startsWith(u'"'))
        return t.toString();
    QString out;
    qsizetype i = 1;
    for (; i < t.size() && t[i] != u'"'; ++i) {
        if (t[i] != u'\\' || i + 1 >= t.size()) {
            out += t[i];
            continue;
        }
        const QChar c = t[++i];
        if (c == u'n') {
            out += u'\n';
        } else if (c == u'r') {
            out += u'\r';
        } else if (c == u't') {
            out += u'\t';
        } else if (c == u'x') {
            char16_t unit = 0;
            int digits = 0;
            while (digits < 4 && i + 1 < t.size() && isxdigit(t[i + 1].toLatin1())) {
                unit = char16_t(unit * 16 + QStringView(t.mid(++i, 1)).toUInt(nullptr, 16));
                ++digits;
            }
            out += QChar(unit);
        } else {
            out += c;
        }
    }
    // Text after the closing quote is kept as written rather than dropped.
    if (i + 1 < t.size())
        out += t.mid(i + 1);
    return out;
}

QString escapeValue(const QString& value)
{
    bool plain = !value.startsWith(u'@') && value.trimmed().size() == value.size();
    for (const QChar c : value) {
        if (c == u'"' || c == u'\\' || c == u';' || c == u',' || c == u'=' || c.unicode() < 0x20 || c.isSurrogate())
            plain = false;
    }
    if (plain)
        return value;
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        if (c == u'"' || c == u'\\')
            out += u'\\' + QString(c);
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.isSurrogate())
            // Always four digits: the reader takes up to four, so a shorter escape followed by a
            // hex digit would read as another character.
            out += QStringLiteral("\\x%1").arg(uint(c.unicode()), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out + u'"';
}

bool readIni(QIODevice& device, QSettings::SettingsMap& map)
{
    if (device.size() > MaxIniBytes)
        return false;
    const QString text = QString::fromUtf8(device.read(MaxIniBytes));
    QString group;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype end = line.indexOf(u']');
            const QStringView heading = line.mid(1, end < 0 ? -1 : end - 1).trimmed();
            // Qt keeps keys without a section under [General], and a real "General" as [%General];
            // both are told apart before unescaping, which would read "%Ge" as a byte.
            if (heading == QLatin1String("General"))
                group.clear();
            else if (heading == QLatin1String("%General"))
                group = QStringLiteral("General");
            else
                group = unescapeKey(heading);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = unescapeKey(line.left(eq).trimmed());
        map.insert(group.isEmpty() ? key : group + u'/' + key, unescapeValue(line.mid(eq + 1)));
    }
    return true;
}

bool writeIni(QIODevice& device, const QSettings::SettingsMap& map)
{
    // The map is sorted by key, so each section's keys arrive together.
    QString text;
    QString current;
    bool first = true;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QString& path = it.key();
        const qsizetype slash = path.lastIndexOf(u'/');
        QString group = slash < 0 ? QString() : path.left(slash);
        const QString key = slash < 0 ? path : path.mid(slash + 1);
        if (first || group != current) {
            if (!first)
                text += u'\n';
            const QString heading = group.isEmpty()                     ? QStringLiteral("General")
                                    : group == QLatin1String("General") ? QStringLiteral("%General")
                                                                        : escapeKey(group);
            text += u'[' + heading + QStringLiteral("]\n");
            current = group;
            first = false;
        }
        const QVariant& v = it.value();
        const QString value = v.typeId() == QMetaType::QStringList ? v.toStringList().join(u',') : v.toString();
        text += escapeKey(key) + u'=' + escapeValue(value) + u'\n';
    }
    const QByteArray bytes = text.toUtf8();
    auto* file = qobject_cast<QFileDevice*>(&device);
    // A file the reader refused was never read: writing now would put defaults in its place.
    if (file && QFileInfo(file->fileName()).size() > MaxIniBytes) {
        lastWriteError() = QStringLiteral("the file is larger than %1 MiB and was not read, so it was left as it "
                                          "is; move it away to start with new settings")
                               .arg(MaxIniBytes >> 20);
        return false;
    }
    errno = 0;
    if (device.write(bytes) != bytes.size() || (file && !file->flush())) {
        // QFileDevice keeps only "Unknown error" for a failed flush; the system's reason is in errno.
        const int code = errno;
        lastWriteError() = code != 0 ? QString::fromLocal8Bit(std::strerror(code)) : device.errorString();
        return false;
    }
    return true;
}

QSettings::Format iniFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readIni, writeIni, Qt::CaseSensitive);
    return format;
}

} // namespace

bool toBool(const QString& text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    double v = 0;
    if (parseNumber(t, &v))
        return v != 0;
    throw ConversionError(QStringLiteral("The stored value %1 is not True, False or a number.").arg(quoted(text)));
}

int toInt32(const QString& text)
{
    double v = 0;
    if (!parseNumber(text, &v))
        throw ConversionError(QStringLiteral("The stored value %1 is not a number.").arg(quoted(text)));
    // Whole numbers are what the program writes; fractions round half to even.
    const double r = std::nearbyint(v);
    if (r < std::numeric_limits<int>::min() || r > std::numeric_limits<int>::max())
        throw ConversionError(QStringLiteral("The stored value %1 is out of range.").arg(quoted(text)));
    return static_cast<int>(r);
}

float toSingle(const QString& text)
{
    double v = 0;
    if (!parseNumber(text, &v) || std::fabs(v) > std::numeric_limits<float>::max())
        throw ConversionError(QStringLiteral("The stored value %1 is not a number.").arg(quoted(text)));
    return static_cast<float>(v);
}

QString boolText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(iniFormat(), QSettings::UserScope, QStringLiteral("Tivane"),
                                             QStringLiteral("Tivane")))
{
}

SettingsStore::SettingsStore(const QString& iniPath) : m_settings(std::make_unique<QSettings>(iniPath, iniFormat())) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::read(const QString& section, const QString& key, int defaultValue) const
{
    return read(section, key, QString::number(defaultValue));
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QVariant v = m_settings->value(section + u'/' + key);
    if (!v.isValid())
        return defaultValue;
    // The INI reader splits a text with commas into a list; the stored text is what we want.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(u',');
    return v.toString();
}

void SettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    m_settings->setValue(section + u'/' + key, value);
}

bool SettingsStore::contains(const QString& section, const QString& key) const
{
    return m_settings->contains(section + u'/' + key);
}

void SettingsStore::remove(const QString& section, const QString& key)
{
    m_settings->remove(section + u'/' + key);
}

QString SettingsStore::besidePath(const QString& name) const
{
    return QFileInfo(fileName()).dir().filePath(name);
}

QByteArray SettingsStore::readBeside(const QString& name, qint64 maxBytes) const
{
    QFile file(besidePath(name));
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes)
        return {};
    return file.read(maxBytes);
}

bool SettingsStore::writeBeside(const QString& name, const QByteArray& bytes)
{
    const QString path = besidePath(name);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        m_besideError = QStringLiteral("the folder of %1 could not be created").arg(path);
        return false;
    }
    errno = 0;
    QSaveFile file(path);
    // Flushed and synced before commit(): Qt 6.4's commit() overlooks a flush that fails at close.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
        ::fsync(file.handle()) != 0) {
        const int code = errno;
        m_besideError = QStringLiteral("%1: %2").arg(path, code != 0 ? QString::fromLocal8Bit(std::strerror(code))
                                                                     : file.errorString());
        return false;
    }
    if (!file.commit()) {
        m_besideError = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool SettingsStore::sync()
{
    lastWriteError().clear();
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError) {
        // A file beside it that failed since the last sync fails this one too.
        m_error = m_besideError;
        m_besideError.clear();
        return m_error.isEmpty();
    }
    m_besideError.clear();
    m_error = lastWriteError();
    if (m_error.isEmpty()) {
        // QSettings failed before our writer ran (its lock file or the temporary copy); tell the
        // likeliest cause we can see.
        const QFileInfo info(fileName());
        const QStorageInfo volume(info.absolutePath());
        if (info.isDir())
            m_error = QStringLiteral("a folder stands where the file should be");
        else if (volume.isValid() && volume.bytesAvailable() == 0)
            m_error = QString::fromLocal8Bit(std::strerror(ENOSPC));
        else
            m_error = QStringLiteral("the file or its folder cannot be written");
    }
    return false;
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

} // namespace platform
