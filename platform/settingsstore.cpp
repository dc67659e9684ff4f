#include "settingsstore.h"

#include <QSettings>
#include <QStringList>
#include <cmath>
#include <limits>

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
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tivane"),
                                             QStringLiteral("Tivane")))
{
}

SettingsStore::SettingsStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

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

bool SettingsStore::sync()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

} // namespace platform
