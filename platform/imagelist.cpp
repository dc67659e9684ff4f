#include "platform/imagelist.h"

namespace platform {

int ImageList::add(const QIcon& picture, const QString& key)
{
    m_pictures.append(picture);
    m_keys.append(key);
    return count();
}

QIcon ImageList::picture(int index) const
{
    if (index < 1 || index > count())
        return {};
    return m_pictures.at(index - 1);
}

QString ImageList::key(int index) const
{
    if (index < 1 || index > count())
        return {};
    return m_keys.at(index - 1);
}

} // namespace platform
