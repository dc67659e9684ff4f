#include "hostlist/lockedhostlist.h"

#include "hostlist/hostlistfile_p.h"
#include "monitor/fdio.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace hostlist {

using namespace detail;

HostListError::HostListError(const QString& message, const QString& path, int line)
    : std::runtime_error(message.toStdString()), m_message(message), m_path(path), m_line(line)
{
}

QString detail::shownPath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

namespace {

[[noreturn]] void throwWriteError(const QString& path, const QString& reason)
{
    throw HostListError(QStringLiteral("The host list could not be written: %1 (%2)").arg(shownPath(path), reason),
                        path);
}

QString reasonOf(int error)
{
    return qt_error_string(error);
}

[[noreturn]] void throwOpenError(const QString& path, int error)
{
    if (error == ENOENT)
        throw HostListError(QStringLiteral("The host list was not found: %1").arg(shownPath(path)), path);
    throw HostListError(
        QStringLiteral("The host list could not be opened: %1 (%2)").arg(shownPath(path), reasonOf(error)), path);
}

[[noreturn]] void throwReadError(const QString& path, int error)
{
    throw HostListError(
        QStringLiteral("The host list could not be read: %1 (%2)").arg(shownPath(path), reasonOf(error)), path);
}

[[noreturn]] void throwTooLarge(const QString& path, qint64 size)
{
    throw HostListError(QStringLiteral("The host list is too large to be read: %1 (%2 bytes; a list may take at "
                                       "most %3 MiB, far more than its %4 entries need)")
                            .arg(shownPath(path), QString::number(size), QString::number(MaxFileBytes / (1024 * 1024)),
                                 QString::number(MaxEntries)),
                        path);
}

// Opening a FIFO blocks until a writer comes, opening a device may act on it; only a regular file
// is a list.
void requireRegular(const QString& path, mode_t mode)
{
    if (S_ISREG(mode))
        return;
    QString kind;
    if (S_ISDIR(mode))
        kind = QStringLiteral("a directory");
    else if (S_ISFIFO(mode))
        kind = QStringLiteral("a named pipe (FIFO)");
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        kind = QStringLiteral("a device");
    else if (S_ISSOCK(mode))
        kind = QStringLiteral("a socket");
    else
        kind = QStringLiteral("something else");
    throw HostListError(QStringLiteral("The host list is not a regular file: %1 is %2.").arg(shownPath(path), kind),
                        path);
}

enum class LockResult
{
    Locked,
    TimedOut,
    Unsupported
};

// Polls instead of blocking, so that a program holding the lock forever cannot freeze the window.
LockResult lockFile(int fd, int operation, const QDeadlineTimer& deadline, const QString& path)
{
    int pauseMs = 1;
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return LockResult::Locked;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL)
            return LockResult::Unsupported;
        if (error != EWOULDBLOCK)
            throwOpenError(path, error);
        if (deadline.hasExpired())
            return LockResult::TimedOut;
        const qint64 remaining = deadline.remainingTime();
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<qint64>(pauseMs, std::max<qint64>(remaining, 1))));
        pauseMs = std::min(pauseMs * 2, 4);
    }
}

} // namespace

HostListError HostListError::outOfMemory(const QString& path)
{
    return HostListError(QStringLiteral("The host list does not fit in the memory available: %1").arg(shownPath(path)),
                         path);
}

LockedHostList::LockedHostList(const QString& path, Access access) : m_path(path), m_access(access)
{
    open();
}

LockedHostList::~LockedHostList()
{
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
}

void LockedHostList::open()
{
    const QByteArray native = QFile::encodeName(m_path);
    const QDeadlineTimer deadline(LockWaitMs);
    const auto busy = [this] {
        return HostListError(QStringLiteral("The host list is in use by another program: %1. Try again in a moment.")
                                 .arg(shownPath(m_path)),
                             m_path);
    };
    for (;;) {
        struct stat before;
        bool exists = true;
        if (::stat(native.constData(), &before) == 0) {
            requireRegular(m_path, before.st_mode);
        } else if (errno == ENOENT && m_access == Access::Append) {
            exists = false;
        } else {
            throwOpenError(m_path, errno);
        }

        // O_NONBLOCK: should a FIFO take the file's place after the check above, the open still
        // returns at once and the fstat below refuses it.
        constexpr int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        int fd = -1;
        bool created = false;
        bool readable = true;
        if (!exists) {
            fd = ::open(native.constData(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | common, 0666);
            if (fd < 0 && errno == EEXIST) {
                struct stat link;
                if (::lstat(native.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) {
                    if (deadline.hasExpired())
                        throw busy();
                    continue; // someone else created it first; use theirs
                }
                // A link to a file not there yet: create the file it names, as an editor would.
                fd = ::open(native.constData(), O_RDWR | O_APPEND | O_CREAT | common, 0666);
            }
            if (fd < 0)
                throwWriteError(m_path, reasonOf(errno));
            created = true;
        } else {
            switch (m_access) {
            case Access::Read:
                fd = ::open(native.constData(), O_RDONLY | common);
                break;
            case Access::Change:
                fd = ::open(native.constData(), O_RDWR | common);
                break;
            case Access::Append:
                fd = ::open(native.constData(), O_RDWR | O_APPEND | common);
                if (fd < 0 && errno == EACCES) {
                    // A write-only list can still take a line.
                    fd = ::open(native.constData(), O_WRONLY | O_APPEND | common);
                    readable = false;
                }
                break;
            }
            if (fd < 0) {
                if (errno == ENOENT && m_access == Access::Append && !deadline.hasExpired())
                    continue; // replaced or removed between the stat and the open
                const int error = errno;
                if (m_access == Access::Append)
                    throwWriteError(m_path, reasonOf(error));
                throwOpenError(m_path, error);
            }
        }

        struct stat held;
        if (::fstat(fd, &held) != 0) {
            const int error = errno;
            ::close(fd);
            throwOpenError(m_path, error);
        }
        if (!S_ISREG(held.st_mode)) {
            ::close(fd);
            requireRegular(m_path, held.st_mode);
        }
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

        LockResult locked = LockResult::Unsupported;
        try {
            locked = lockFile(fd, m_access == Access::Read ? LOCK_SH : LOCK_EX, deadline, m_path);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (locked == LockResult::TimedOut) {
            ::close(fd);
            throw busy();
        }

        // The lock is on the file that was opened. If list.txt was replaced or removed while this
        // waited, the lock guards a file nobody will read again: start over on the one there now.
        struct stat now;
        if (::stat(native.constData(), &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino) {
            ::close(fd);
            if (deadline.hasExpired())
                throw busy();
            continue; // a list that is gone now is reported by the stat at the top
        }

        m_fd = fd;
        m_created = created;
        m_readable = m_access != Access::Append || readable;
        refresh();
        return;
    }
}

void LockedHostList::refresh()
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        throwOpenError(m_path, errno);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_uid = st.st_uid;
    m_gid = st.st_gid;
    m_mode = st.st_mode;
}

qint64 LockedHostList::size() const
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        throwReadError(m_path, errno);
    return st.st_size;
}

QByteArray LockedHostList::readAll() const
{
    if (!m_readable)
        throwOpenError(m_path, EACCES);
    const qint64 expected = size();
    if (expected > MaxFileBytes)
        throwTooLarge(m_path, expected);
    // One read and an in-memory parse: line-by-line device reads cost far more than the parse.
    QByteArray data;
    data.resize(expected + 1); // the spare byte shows the end without a second buffer
    qint64 got = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > MaxFileBytes)
                throwTooLarge(m_path, got);
            data.resize(std::min<qint64>(got + 65536, MaxFileBytes + 1));
        }
        const ssize_t n = ::pread(m_fd, data.data() + got, static_cast<size_t>(data.size() - got), got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwReadError(m_path, errno);
        }
        if (n == 0)
            break;
        got += n;
    }
    data.truncate(got);
    return data;
}

int LockedHostList::lastByte() const
{
    if (!m_readable)
        return -1;
    const qint64 end = size();
    if (end <= 0)
        return -1;
    unsigned char last = 0;
    for (;;) {
        const ssize_t n = ::pread(m_fd, &last, 1, end - 1);
        if (n == 1)
            return last;
        if (n < 0 && errno == EINTR)
            continue;
        return -1;
    }
}

void LockedHostList::append(QByteArrayView bytes)
{
    const qint64 oldSize = size();
    int error = monitor::fdio::writeAll(m_fd, bytes);
    if (error == 0 && ::fdatasync(m_fd) != 0)
        error = errno;
    if (error == 0 && m_created)
        error = monitor::fdio::syncFolder(QFileInfo(QFileInfo(m_path).canonicalFilePath()).absolutePath());
    if (error == 0)
        return;
    // A line cut off by a full disk would load as an entry with a wrong address.
    if (::ftruncate(m_fd, oldSize) != 0) {
        const int cutError = errno;
        throw HostListError(QStringLiteral("The host list could not be written: %1 (%2). It may now end in a cut-off "
                                           "line, which could not be taken out again (%3).")
                                .arg(shownPath(m_path), reasonOf(error), reasonOf(cutError)),
                            m_path);
    }
    throwWriteError(m_path, reasonOf(error));
}

void LockedHostList::replace(QByteArrayView bytes)
{
    // A symbolic link stays a link; the file it names gets the new bytes.
    const QFileInfo info(m_path);
    QString target = info.canonicalFilePath();
    if (target.isEmpty())
        target = info.absoluteFilePath();
    const QFileInfo targetInfo(target);
    const QString folder = targetInfo.absolutePath();
    QByteArray temp =
        QFile::encodeName(folder + QStringLiteral("/.") + targetInfo.fileName() + QStringLiteral(".tivane-XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        // The list itself may well be writable: say that its folder is what refused.
        const int error = errno;
        throw HostListError(QStringLiteral("The host list could not be changed: its folder %1 refused the temporary "
                                           "file that a safe change writes beside the list (%2). Make the folder "
                                           "writable, or move list.txt into a folder you can write to.")
                                .arg(shownPath(folder), reasonOf(error)),
                            m_path);
    }
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.constData());
        throwWriteError(m_path, reasonOf(error));
    };

    // Owner and group first: a change of owner clears set-ID bits, which the mode then restores.
    // Only root may give a file away; anyone may pick one of their own groups.
    if (::fchown(fd, m_uid, m_gid) != 0) {
        if (errno != EPERM)
            fail(errno);
        (void)::fchown(fd, static_cast<uid_t>(-1), m_gid);
    }
    if (::fchmod(fd, m_mode & 07777) != 0)
        fail(errno);
    if (const int error = monitor::fdio::writeAll(fd, bytes))
        fail(error);
    if (::fsync(fd) != 0)
        fail(errno);
    // Locked before it gets the name, so that it is never list.txt unlocked while this object lives.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != ENOSYS &&
        errno != EINVAL)
        fail(errno);
    if (::rename(temp.constData(), QFile::encodeName(target).constData()) != 0)
        fail(errno);

    // Waiters on the old file wake up, see the new one under the name and wait for it instead.
    ::close(m_fd);
    m_fd = fd;
    m_readable = true;
    m_created = false;
    refresh();

    if (const int error = monitor::fdio::syncFolder(folder)) {
        throw HostListError(QStringLiteral("The host list was changed, but the change may not be safe on the disk: "
                                           "%1 (%2)")
                                .arg(shownPath(m_path), reasonOf(error)),
                            m_path);
    }
}

} // namespace hostlist
