#include "platform/appinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace platform {

AppInfo AppInfo::current()
{
    AppInfo info;
    info.Path = QCoreApplication::applicationDirPath();
    info.DataPath = QDir::cleanPath(info.Path + QStringLiteral("/" TIVANE_DATA_FROM_BIN));
    info.FileDescription = QStringLiteral("Ping monitor");
    info.LegalCopyright = QStringLiteral("2026 Tivane authors");
    info.LegalTrademarks = QStringLiteral("Free to use and to share.");
    return info;
}

QString AppInfo::file(const QString& name) const
{
    const QString beside = QDir::cleanPath(Path + QDir::separator() + name);
    if (DataPath.isEmpty() || QFileInfo::exists(beside))
        return beside;
    const QString installed = QDir::cleanPath(DataPath + QDir::separator() + name);
    return QFileInfo::exists(installed) ? installed : beside;
}

QString AppInfo::versionText() const
{
    return QString::number(Major) + u'.' + QString::number(Minor) + u'.' + QString::number(Revision);
}

} // namespace platform
