#pragma once

#include <QIcon>
#include <QString>
#include <QVector>

namespace platform {

// Pictures addressed by 1-based index; 0 and indices past the end give a null icon.
class ImageList
{
public:
    int add(const QIcon& picture, const QString& key = {}); // returns the new 1-based index
    int count() const { return static_cast<int>(m_pictures.size()); }
    QIcon picture(int index) const;
    QString key(int index) const;

private:
    QVector<QIcon> m_pictures;
    QVector<QString> m_keys;
};

} // namespace platform
