#include "app/listlocation.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString ListName = QStringLiteral("list.txt");

// A dangling symbolic link counts too: it is the user's, and writing through it must not happen
// behind their back.
bool present(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Creates `path` holding `bytes`, or leaves nothing behind. Returns 0, EEXIST when a file of
// that name appeared meanwhile, or the error that stopped it.
int createWhole(const QString& folder, const QString& path, const QByteArray& bytes)
{
    QByteArray pattern = QFile::encodeName(folder + QStringLiteral("/.list.txt.XXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return errno;
    int error = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    // The new list is the user's own file, as if they had made it themselves.
    if (error == 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, 0666 & ~mask) != 0)
            error = errno;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    // link(2), unlike rename(2), refuses to take the place of a list created in the meantime.
    if (error == 0 && ::link(pattern.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    ::unlink(pattern.constData());
    return error;
}

// mkdir -p, keeping the reason of a failure. New folders are private (0700): a user's data
// folder is nobody else's to read.
int makeFolder(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
    for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? path : path.left(end);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (end < 0)
            break;
    }
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

} // namespace

QString userListFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return QDir::cleanPath(base + QStringLiteral("/Tivane"));
}

ListLocation locateHostList(const QString& programFolder, const QString& dataFolder, const QByteArray& example)
{
    ListLocation where;
    const QString beside = QDir::cleanPath(programFolder + u'/' + ListName);
    if (present(beside)) {
        where.path = beside;
        where.origin = ListLocation::BesideProgram;
        return where;
    }
    if (dataFolder.isEmpty()) {
        where.path = beside;
        where.origin = ListLocation::ProgramFolderOnly;
        return where;
    }
    const QString folder = QDir::cleanPath(dataFolder);
    where.path = folder + u'/' + ListName;
    if (present(where.path)) {
        where.origin = ListLocation::UserFolder;
        return where;
    }

    where.origin = ListLocation::Unavailable;
    if (const int error = makeFolder(folder); error != 0) {
        where.problem = QStringLiteral("The folder for your host list could not be created: %1 (%2).")
                            .arg(folder, errnoText(error));
        return where;
    }
    const int error = createWhole(folder, where.path, example);
    if (error == EEXIST) {
        where.origin = ListLocation::UserFolder;
    } else if (error != 0) {
        where.problem =
            QStringLiteral("Your host list could not be created: %1 (%2).").arg(where.path, errnoText(error));
    } else {
        where.origin = ListLocation::CreatedFromExample;
    }
    return where;
}
