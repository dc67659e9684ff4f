#include "app/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace autostart {

namespace {

// One Exec argument, quoted the way desktop entries require: inside double quotes a
// backslash goes before " ` $ and \; then, as the value is a string, every backslash is doubled
// again; a percent sign is written %% so that it is not taken for a field code.
QString execArgument(const QString& argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) +
           QStringLiteral("/autostart/tivane.desktop");
}

QByteArray entryText(const QString& program)
{
    if (program.contains(u'\n') || program.contains(u'\r'))
        return {};
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tivane\n"
                          "Comment=Starts Tivane with the session, hidden in the notification area\n"
                          "Exec=%1 --minimized\n"
                          "Icon=tivane\n"
                          "Terminal=false\n")
        .arg(execArgument(program))
        .toUtf8();
}

bool enable(const QString& program, QString* error)
{
    const QByteArray text = entryText(program);
    const QString path = entryPath();
    // A path that is not valid UTF-8 reaches us empty or with replacement characters; an entry
    // for it would start nothing.
    if (!QDir::isAbsolutePath(program) || program.contains(QChar::ReplacementCharacter)) {
        *error = QStringLiteral("The program's path is not valid UTF-8 or could not be found (%1), so a session "
                                "entry could not start it. Move the program into a folder whose name is valid "
                                "UTF-8, then turn this on again.")
                     .arg(program.isEmpty() ? QStringLiteral("no path") : program);
        return false;
    }
    if (text.isEmpty()) {
        *error = QStringLiteral("The program's path cannot be written into a session entry: %1").arg(program);
        return false;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("The folder %1 could not be created.").arg(folder);
        return false;
    }
    errno = 0;
    QSaveFile file(path);
    // Flushed and synced before commit(): Qt 6.4's commit() overlooks a flush that fails at close
    // (a full disk) and would put a cut-off entry in place of the old one.
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush()) {
        const int reason = errno;
        *error = QStringLiteral("%1 could not be written: %2.")
                     .arg(path, reason ? QString::fromLocal8Bit(std::strerror(reason)) : file.errorString());
        return false; // the unfinished copy goes with `file`
    }
    if (::fsync(file.handle()) != 0 || !file.commit()) {
        *error = QStringLiteral("%1 could not be written: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool disable(QString* error)
{
    const QString path = entryPath();
    QFile file(path);
    if (!QFileInfo(path).isSymLink() && !file.exists())
        return true;
    if (!file.remove()) {
        *error = QStringLiteral("%1 could not be removed: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool isEnabled()
{
    return QFileInfo::exists(entryPath());
}

} // namespace autostart
