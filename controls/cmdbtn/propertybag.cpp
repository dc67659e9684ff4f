#include "propertybag.h"

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

qsizetype PropertyBag::indexOf(const QString& key) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).first.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}
