#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <stdexcept>
#include <utility>

// A stored value that cannot be turned into what the control needs.
class PropertyBagError : public std::runtime_error
{
public:
    PropertyBagError(const QString& key, const QString& reason);
    QString key() const { return m_key; }

private:
    QString m_key;
};

// The saved state of one control. Keys compare without regard to case; they keep the order of
// their first write so a saved bag reads in the order the control wrote it.
class PropertyBag
{
public:
    QVariant read(const QString& key, const QVariant& defaultValue = {}) const;
    // A value equal to its default is not stored; an entry written earlier under the key goes away,
    // so a reader falls back to the same default.
    void write(const QString& key, const QVariant& value, const QVariant& defaultValue = {});
    bool contains(const QString& key) const { return indexOf(key) >= 0; }
    void remove(const QString& key);
    QStringList keys() const;
    qsizetype count() const { return m_entries.size(); }

private:
    qsizetype indexOf(const QString& key) const;

    QList<std::pair<QString, QVariant>> m_entries;
};
