#include "controls/cmdbtn/propertybag.h"

#include <QImage>
#include <cmath>
#include <limits>

namespace {

// Below this every whole double is exact and fits in 64 bits.
constexpr double ExactWholeLimit = 1e15;

qint64 toInteger(const QVariant& value, const QString& key)
{
    const int type = value.typeId();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::trunc(number) && std::abs(number) < ExactWholeLimit)
            return static_cast<qint64>(number);
    } else if (type == QMetaType::QString || type == QMetaType::QByteArray) {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        if (ok)
            return number;
    } else {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        if (ok)
            return number;
    }
    throw PropertyBagError(key, QStringLiteral("not a whole number"));
}

} // namespace

PropertyBagError::PropertyBagError(const QString& key, const QString& reason)
    : std::runtime_error(QString(key + QStringLiteral(": ") + reason).toStdString()), m_key(key)
{
}

QVariant PropertyBag::read(const QString& key, const QVariant& defaultValue) const
{
    const qsizetype i = indexOf(key);
    return i < 0 ? defaultValue : m_entries.at(i).second;
}

void PropertyBag::write(const QString& key, const QVariant& value, const QVariant& defaultValue)
{
    const qsizetype i = indexOf(key);
    if (value == defaultValue) {
        if (i >= 0)
            m_entries.removeAt(i);
        return;
    }
    if (i >= 0)
        m_entries[i].second = value;
    else
        m_entries.append({key, value});
}

void PropertyBag::remove(const QString& key)
{
    const qsizetype i = indexOf(key);
    if (i >= 0)
        m_entries.removeAt(i);
}

QStringList PropertyBag::keys() const
{
    QStringList result;
    result.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        result.append(entry.first);
    return result;
}

qint32 PropertyBag::readInt32(const QString& key, qint32 defaultValue) const
{
    if (!contains(key))
        return defaultValue;
    const qint64 number = toInteger(read(key), key);
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
        throw PropertyBagError(key, QStringLiteral("out of range"));
    return static_cast<qint32>(number);
}

quint32 PropertyBag::readColor(const QString& key, quint32 defaultValue) const
{
    if (!contains(key))
        return defaultValue;
    const qint64 number = toInteger(read(key), key);
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<quint32>::max())
        throw PropertyBagError(key, QStringLiteral("not a colour"));
    return static_cast<quint32>(number);
}

bool PropertyBag::readBool(const QString& key, bool defaultValue) const
{
    if (!contains(key))
        return defaultValue;
    const QVariant value = read(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    try {
        return toInteger(value, key) != 0;
    } catch (const PropertyBagError&) {
        throw PropertyBagError(key, QStringLiteral("not a truth value"));
    }
}

QString PropertyBag::readText(const QString& key, const QString& defaultValue) const
{
    if (!contains(key))
        return defaultValue;
    const QVariant value = read(key);
    if (!value.canConvert<QString>())
        throw PropertyBagError(key, QStringLiteral("not text"));
    return value.toString();
}

QFont PropertyBag::readFont(const QString& key, const QFont& defaultValue) const
{
    if (!contains(key))
        return defaultValue;
    const QVariant value = read(key);
    if (value.typeId() == QMetaType::QFont)
        return value.value<QFont>();
    QFont font;
    if (value.typeId() == QMetaType::QString && font.fromString(value.toString()))
        return font;
    throw PropertyBagError(key, QStringLiteral("not a font description"));
}

double PropertyBag::readWholeNumber(const QString& key, double defaultValue) const
{
    if (!contains(key))
        return defaultValue;
    const QVariant value = read(key);
    const int type = value.typeId();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::trunc(number))
            return number;
        throw PropertyBagError(key, QStringLiteral("not a whole number"));
    }
    return static_cast<double>(toInteger(value, key));
}

std::variant<QIcon, QPixmap> PropertyBag::readPicture(const QString& key) const
{
    const QVariant value = read(key);
    QPixmap pixmap;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QIcon();
    case QMetaType::QIcon:
        return value.value<QIcon>();
    case QMetaType::QPixmap:
        return value.value<QPixmap>();
    case QMetaType::QImage:
        return QPixmap::fromImage(value.value<QImage>());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        if (!bytes.isEmpty() && !pixmap.loadFromData(bytes))
            throw PropertyBagError(key, QStringLiteral("not a readable image"));
        return pixmap;
    }
    case QMetaType::QString: {
        const QString path = value.toString();
        if (!path.isEmpty() && !pixmap.load(path))
            throw PropertyBagError(key, QStringLiteral("no readable image at ") + path);
        return pixmap;
    }
    default:
        throw PropertyBagError(key, QStringLiteral("not a picture"));
    }
}

qsizetype PropertyBag::indexOf(const QString& key) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).first.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}
