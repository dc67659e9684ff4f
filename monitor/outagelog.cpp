#include "monitor/outagelog.h"

#include "monitor/csvexport.h"
#include "monitor/fdio.h"
#include "probe/mdlping.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

OutageLog::OutageLog(const QString& path, const QTimeZone& zone) : m_path(path), m_zone(zone) {}

QByteArray OutageLog::header()
{
    return csv::line({QStringLiteral("time"), QStringLiteral("name"), QStringLiteral("address"),
                      QStringLiteral("state"), QStringLiteral("status"), QStringLiteral("text")});
}

QByteArray OutageLog::lines(const QVector<monitor::StateChange>& changes) const
{
    using monitor::HostState;
    QByteArray out;
    for (const monitor::StateChange& c : changes) {
        if (c.from == HostState::Unknown && c.to == HostState::Up)
            continue;
        QString text;
        if (c.to == HostState::Down) {
            text = c.status == -1 ? QStringLiteral("No request could be sent") : mdlPing::GetStatusText(c.status);
        } else if (c.to == HostState::Degraded) {
            text = QStringLiteral("Degraded");
        } else if (c.to == HostState::Up) {
            const qint64 outage = c.previousDurationMs();
            text = c.from == HostState::Down && outage >= 0
                       ? QStringLiteral("Up again after %1").arg(monitor::formatDuration(outage))
                   : c.from == HostState::Degraded && outage >= 0
                       ? QStringLiteral("No longer degraded after %1").arg(monitor::formatDuration(outage))
                       : QStringLiteral("First reply");
        }
        const QString state = monitor::stateName(c.to);
        out += csv::line({csv::isoTime(c.sinceMs, m_zone), c.name, c.address, state, QString::number(c.status), text});
    }
    return out;
}

namespace {

QString reason(int error)
{
    return qt_error_string(error);
}

QString failed(const QString& path, int error)
{
    return QStringLiteral("The outage log could not be written: %1 (%2)")
        .arg(QDir::toNativeSeparators(path), reason(error));
}

// Holds the descriptor; closing it lets go of the lock.
struct Fd
{
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

QByteArray OutageLog::monitoringLine(Monitoring what, qint64 atMs, const QTimeZone& zone)
{
    const bool started = what == Monitoring::Started;
    return csv::line({csv::isoTime(atMs, zone), QString(), QString(),
                      started ? QStringLiteral("started") : QStringLiteral("stopped"), QString(),
                      started ? QStringLiteral("Monitoring started") : QStringLiteral("Monitoring stopped")});
}

QString OutageLog::appendMonitoring(Monitoring what, qint64 atMs) const
{
    return appendBytes(monitoringLine(what, atMs, m_zone));
}

QString OutageLog::appendCommandProblem(const QString& text, qint64 atMs) const
{
    return appendBytes(
        csv::line({csv::isoTime(atMs, m_zone), QString(), QString(), QStringLiteral("command"), QString(), text}));
}

QString OutageLog::append(const QVector<monitor::StateChange>& changes) const
{
    return appendBytes(lines(changes));
}

QString OutageLog::appendBytes(const QByteArray& body) const
{
    if (body.isEmpty())
        return {};
    const QByteArray native = QFile::encodeName(m_path);
    // O_NONBLOCK: a FIFO put in the log's place must not hang the window; fstat refuses it below.
    const auto notAFile = [this] {
        return QStringLiteral("The outage log is not a regular file: %1").arg(QDir::toNativeSeparators(m_path));
    };
    struct stat st;
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return notAFile();
    // Readable as well where allowed, to see how the file ends.
    constexpr int common = O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    Fd file;
    bool created = false;
    bool readable = true;
    file.fd = ::open(native.constData(), O_RDWR | common);
    if (file.fd < 0 && errno == EACCES) {
        file.fd = ::open(native.constData(), O_WRONLY | common);
        readable = false;
    }
    if (file.fd < 0 && errno == ENOENT) {
        file.fd = ::open(native.constData(), O_RDWR | common | O_CREAT | O_EXCL, 0644);
        created = file.fd >= 0;
        if (file.fd < 0 && errno == EEXIST)
            file.fd = ::open(native.constData(), O_RDWR | common);
    }
    if (file.fd < 0)
        return failed(m_path, errno);
    if (::fstat(file.fd, &st) != 0)
        return failed(m_path, errno);
    if (!S_ISREG(st.st_mode))
        return notAFile();
    const int flags = ::fcntl(file.fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);
    // Another copy writing at the same moment would make the size taken below wrong, and with it
    // the place a failed write is cut back to. Where locks are not supported, go on without.
    // Polled and bounded, so that a program holding the lock forever cannot freeze the window.
    for (int attempt = 0; ::flock(file.fd, LOCK_EX | LOCK_NB) != 0; ++attempt) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        if (attempt >= 100)
            return QStringLiteral("The outage log is in use by another program: %1")
                .arg(QDir::toNativeSeparators(m_path));
        ::usleep(10000);
    }
    if (::fstat(file.fd, &st) != 0)
        return failed(m_path, errno);
    const off_t before = st.st_size;

    QByteArray bytes;
    if (before == 0) {
        bytes = header();
    } else {
        // A last line without its break (an editor's, or a crash's) would swallow our first one.
        // Where the end cannot be read, a break is written anyway: an empty line harms nobody.
        char last = 0;
        if (!readable || ::pread(file.fd, &last, 1, before - 1) != 1 || last != '\n')
            bytes = "\r\n";
    }
    bytes += body;
    // One write for all lines, so a reader never sees half a line from us.
    int error = monitor::fdio::writeAll(file.fd, bytes);
    if (error == 0 && ::fdatasync(file.fd) != 0)
        error = errno;
    if (error == 0 && created)
        error = monitor::fdio::syncFolder(QFileInfo(m_path).absolutePath());
    if (error == 0)
        return {};
    if (created && before == 0) {
        // It was not there before this write, so as it was is not there at all.
        ::unlink(native.constData());
        return failed(m_path, error);
    }
    if (::ftruncate(file.fd, before) != 0) {
        const int cutError = errno;
        return QStringLiteral("The outage log could not be written: %1 (%2). It may now end in a cut-off line, "
                              "which could not be taken out again (%3).")
            .arg(QDir::toNativeSeparators(m_path), reason(error), reason(cutError));
    }
    ::fdatasync(file.fd);
    return failed(m_path, error);
}
