#include "appinfo.h"

#include <QCoreApplication>
#include <QDir>

namespace platform {

AppInfo AppInfo::current()
{
    AppInfo info;
    info.Path = QCoreApplication::applicationDirPath();
    info.FileDescription = QStringLiteral("Ping monitor");
    info.LegalCopyright = QStringLiteral("2026 Tivane authors");
    info.LegalTrademarks = QStringLiteral("Free to use and to share.");
    return info;
}

QString AppInfo::file(const QString& name) const
{
    return QDir::cleanPath(Path + QDir::separator() + name);
}

QString AppInfo::versionText() const
{
    return QString::number(Major) + u'.' + QString::number(Minor) + u'.' + QString::number(Revision);
}

} // namespace platform
