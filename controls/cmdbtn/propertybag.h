#pragma once

#include <QFont>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <stdexcept>
#include <utility>
#include <variant>

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

    // Typed reads: a missing key gives the default. Saved bags may come from hand-edited files, so a
    // stored value that is not clearly of the wanted type throws PropertyBagError rather than
    // reading as zero. Whole numbers may be stored as numbers or as text; a double counts when it
    // has no fraction.
    qint32 readInt32(const QString& key, qint32 defaultValue) const;
    // Colours may have been saved as signed 32-bit numbers, so system colours can arrive negative.
    quint32 readColor(const QString& key, quint32 defaultValue) const;
    // true/false as text, or a whole number (zero is false).
    bool readBool(const QString& key, bool defaultValue) const;
    QString readText(const QString& key, const QString& defaultValue) const;
    // Fonts are saved as QFont::toString() text.
    QFont readFont(const QString& key, const QFont& defaultValue) const;
    // A whole number of any size, for the caller to bound; a double keeps its full range.
    double readWholeNumber(const QString& key, double defaultValue) const;
    // Pictures are saved as PNG bytes; an image file's or resource's path is read as well, and a
    // QIcon, QPixmap or QImage kept in the bag is taken as it is. Anything but an icon comes back as
    // a pixmap, null for an empty value; a missing key gives a null icon.
    std::variant<QIcon, QPixmap> readPicture(const QString& key) const;

private:
    qsizetype indexOf(const QString& key) const;

    QList<std::pair<QString, QVariant>> m_entries;
};
