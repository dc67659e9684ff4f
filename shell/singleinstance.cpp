#include "shell/singleinstance.h"

#include <QByteArrayView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView showMessage("show");
// A client that connects and says nothing must not hold a socket for the life of the program.
constexpr int silentClientMs = 2000;
// Anything longer than a word is no copy of ours talking.
constexpr qint64 maxMessage = 64;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString modeText(mode_t mode)
{
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

// Why path is no folder that only this user can change, or an empty text when it is one. The
// folder itself is looked at without following a symbolic link; its parent must not let anybody
// but its owner (and root) rename the folder away and put another in its place.
QString privateFolderProblem(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st = {};
    if (::lstat(encoded.constData(), &st) != 0)
        return QStringLiteral("cannot be examined (%1)").arg(errnoText(errno));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("is not a folder");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("belongs to user %1, not to user %2").arg(st.st_uid).arg(::geteuid());
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QStringLiteral("gives rights to group or others (mode %1, wanted 0700)").arg(modeText(st.st_mode));
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        return QStringLiteral("is not open to its owner (mode %1, wanted 0700)").arg(modeText(st.st_mode));

    const QString parent = QFileInfo(path).absolutePath();
    struct stat up = {};
    if (::stat(QFile::encodeName(parent).constData(), &up) != 0)
        return QStringLiteral("lies in %1, which cannot be examined (%2)").arg(parent, errnoText(errno));
    if (up.st_uid != 0 && up.st_uid != ::geteuid())
        return QStringLiteral("lies in %1, which belongs to user %2").arg(parent).arg(up.st_uid);
    if ((up.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (up.st_mode & S_ISVTX) == 0)
        return QStringLiteral("lies in %1, which others may write to without the sticky bit (mode %2)")
            .arg(parent, modeText(up.st_mode));
    return {};
}

// The runtime folder when it is private to this user; otherwise a folder of the user's own under
// the temp folder, made here when missing; otherwise none.
QString choosePrivateFolder(const QString& name)
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) {
        const QString problem = privateFolderProblem(runtime);
        if (problem.isEmpty())
            return runtime;
        qWarning("Not using the runtime folder %s for the single-copy check: it %s.", qPrintable(runtime),
                 qPrintable(problem));
    }

    const QString fallback =
        QDir::tempPath() + u'/' + name + QStringLiteral("-runtime-") + QString::number(::geteuid());
    // Made with no rights for anybody else from the start; an existing one is examined instead.
    if (::mkdir(QFile::encodeName(fallback).constData(), 0700) != 0 && errno != EEXIST) {
        qWarning("Running without the single-copy check: cannot make the folder %s (%s).", qPrintable(fallback),
                 qPrintable(errnoText(errno)));
        return {};
    }
    const QString problem = privateFolderProblem(fallback);
    if (problem.isEmpty())
        return fallback;
    qWarning("Running without the single-copy check: %s %s, so another user could reach into it. "
             "Remove it to restore the check.",
             qPrintable(fallback), qPrintable(problem));
    return {};
}

// True when a process accepts connections on the socket at path.
bool somebodyListens(const QByteArray& path)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof(addr.sun_path)))
        return false;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()) + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    // A listener whose queue is full is alive too.
    const bool alive = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return alive;
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), m_name(name), m_folder(choosePrivateFolder(name))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close(); // removes only the temporary name the socket was bound to, long renamed
    if (m_ownsSocket) {
        // Still holding the lock, so no other copy of this folder can have put its socket here since
        // the check; a file that is no longer ours (the folder was cleared and refilled) stays.
        const QByteArray path = QFile::encodeName(serverName());
        struct stat st = {};
        if (::lstat(path.constData(), &st) == 0 && quint64(st.st_dev) == m_socketDev &&
            quint64(st.st_ino) == m_socketIno)
            ::unlink(path.constData());
    }
    // Closing ends the lock. The lock file stays: removing it would let a copy lock a file that is
    // about to vanish while another locks its successor.
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleInstance::lockPath() const
{
    return m_folder.isEmpty() ? QString() : m_folder + u'/' + m_name + QStringLiteral(".lock");
}

QString SingleInstance::serverName() const
{
    return m_folder.isEmpty() ? QString() : m_folder + u'/' + m_name + QStringLiteral(".socket");
}

bool SingleInstance::PrevInstance()
{
    if (m_lockFd >= 0)
        return false;
    if (m_folder.isEmpty())
        return false; // the reason went to stderr when the folder was chosen

    const QByteArray path = QFile::encodeName(lockPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st = {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = fd < 0 ? errno : EINVAL;
        if (fd >= 0)
            ::close(fd);
        // We cannot tell whether another copy runs; refusing to start at all would be worse.
        qWarning("Running without the single-copy check: cannot use the lock %s (%s).", path.constData(),
                 qPrintable(errnoText(error)));
        return false;
    }
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return true;
        qWarning("Running without the single-copy check: cannot lock %s (%s).", path.constData(),
                 qPrintable(errnoText(error)));
        return false;
    }

    // A copy that still listens although its lock was free lost its lock file (someone removed
    // it); it is running all the same, and its socket is not ours to replace.
    if (somebodyListens(QFile::encodeName(serverName()))) {
        ::close(fd);
        return true;
    }
    m_lockFd = fd;
    // Only for people looking: which process holds the lock. The lock holds whether this is written or not.
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    const bool noted = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    Q_UNUSED(noted);
    listenForOthers();
    return false;
}

void SingleInstance::listenForOthers()
{
    // Bound under a name of this process alone and then renamed into place, so the socket replaces a
    // leftover of a dead copy in one step and the name Qt removes when it closes is never another's.
    const QByteArray finalPath = QFile::encodeName(serverName());
    const QByteArray tempPath = QFile::encodeName(
        m_folder + u'/' + m_name + u'.' + QString::number(QCoreApplication::applicationPid()) + QStringLiteral(".new"));
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (finalPath.size() >= qsizetype(sizeof(addr.sun_path)) || tempPath.size() >= qsizetype(sizeof(addr.sun_path))) {
        qWarning("Cannot listen on %s: the path is too long for a local socket.", finalPath.constData());
        return;
    }
    std::memcpy(addr.sun_path, tempPath.constData(), size_t(tempPath.size()) + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        qWarning("Cannot listen on %s: %s", finalPath.constData(), qPrintable(errnoText(errno)));
        return;
    }
    ::unlink(tempPath.constData()); // a leftover of a dead process that had our process id
    struct stat st = {};
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, 16) != 0 ||
        ::lstat(tempPath.constData(), &st) != 0 || ::rename(tempPath.constData(), finalPath.constData()) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(tempPath.constData());
        qWarning("Cannot listen on %s: %s", finalPath.constData(), qPrintable(errnoText(error)));
        return;
    }
    m_ownsSocket = true;
    m_socketDev = quint64(st.st_dev);
    m_socketIno = quint64(st.st_ino);

    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!m_server->listen(fd)) {
        ::close(fd);
        qWarning("Cannot listen on %s: %s", finalPath.constData(), qPrintable(m_server->errorString()));
    }
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const qint64 available = socket->bytesAvailable();
            if (available < showMessage.size())
                return; // the rest of the word is still on its way
            const QByteArray message = socket->read(maxMessage);
            if (available <= maxMessage && message.startsWith(showMessage))
                Q_EMIT showRequested();
            socket->disconnectFromServer();
        });
        QTimer::singleShot(silentClientMs, socket, &QLocalSocket::abort);
    }
}

bool SingleInstance::notifyRunning(int timeoutMs)
{
    if (m_folder.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    if (socket.write(showMessage.data(), showMessage.size()) != showMessage.size())
        return false;
    // Check before waiting: waitForBytesWritten() reports false when the data already went out.
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs))
            return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}
