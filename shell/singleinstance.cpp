#include "singleinstance.h"

#include <QByteArrayView>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr QByteArrayView showMessage("show");
// A client that connects and says nothing must not hold a socket for the life of the program.
constexpr int silentClientMs = 2000;
// Anything longer than a word is no copy of ours talking.
constexpr qint64 maxMessage = 64;

QString userId()
{
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), m_name(name) {}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_lock)
        m_lock->unlock();
}

QString SingleInstance::lockPath() const
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + u'/' + m_name + QStringLiteral(".lock");
}

QString SingleInstance::serverName() const
{
    // Local server names are global on some systems; the user id keeps two users' copies apart.
    return m_name + u'-' + userId();
}

bool SingleInstance::PrevInstance()
{
    if (m_lock)
        return false;
    auto lock = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: only a holder that is no longer running gives the lock up.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError)
            return true;
        // We cannot tell whether another copy runs; refusing to start at all would be worse.
        qWarning("Cannot create the instance lock %s", qPrintable(lockPath()));
        return false;
    }
    m_lock = std::move(lock);

    // Holding the lock makes any socket left under this name a leftover of a crashed copy.
    QLocalServer::removeServer(serverName());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!m_server->listen(serverName()))
        qWarning("Cannot listen on %s: %s", qPrintable(serverName()), qPrintable(m_server->errorString()));
    return false;
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
