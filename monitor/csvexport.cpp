#include "monitor/csvexport.h"

#include "monitor/fdio.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace csv {

QString field(const QString& text)
{
    QString value = text;
    if (!value.isEmpty()) {
        const QChar first = value.front();
        // A negative number is only a number; anything else after the sign may be a formula.
        static const QRegularExpression number(QStringLiteral("^-[0-9]+(\\.[0-9]+)?$"));
        if ((first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' || first == u'\r') &&
            !number.match(value).hasMatch())
            value.prepend(QLatin1Char('\''));
    }
    const bool quote = value.contains(u',') || value.contains(u'"') || value.contains(u'\n') || value.contains(u'\r') ||
                       value.startsWith(u' ') || value.endsWith(u' ');
    if (!quote)
        return value;
    value.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QLatin1Char('"') + value + QLatin1Char('"');
}

QByteArray line(const QStringList& fields)
{
    QString joined;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            joined += QLatin1Char(',');
        joined += field(fields[i]);
    }
    joined += QStringLiteral("\r\n");
    return joined.toUtf8();
}

QByteArray document(const QList<QStringList>& rows)
{
    QByteArray out("\xEF\xBB\xBF");
    for (const QStringList& row : rows)
        out += line(row);
    return out;
}

namespace {

QString milliseconds(qint64 us)
{
    return us < 0 ? QString() : QString::number(double(us) / 1000.0, 'f', 3);
}

} // namespace

QString isoTime(qint64 ms, const QTimeZone& zone)
{
    if (ms <= 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(ms, zone).toString(Qt::ISODate);
}

QStringList statisticsHeader()
{
    return {QStringLiteral("Sent"),    QStringLiteral("Received"), QStringLiteral("Loss %"),
            QStringLiteral("Last ms"), QStringLiteral("Min ms"),   QStringLiteral("Avg ms"),
            QStringLiteral("Max ms"),  QStringLiteral("State"),    QStringLiteral("Since")};
}

QStringList statisticsFields(const monitor::HostStats* s, const QTimeZone& zone)
{
    if (!s || s->sent == 0) {
        QStringList empty;
        for (qsizetype i = 0; i < statisticsHeader().size(); ++i)
            empty.append(QString());
        if (s) {
            empty[0] = QStringLiteral("0");
            empty[1] = QStringLiteral("0");
        }
        return empty;
    }
    return {QString::number(s->sent),   QString::number(s->replies),  QString::number(s->lossPercent(), 'f', 1),
            milliseconds(s->lastRttUs), milliseconds(s->minRttUs),    milliseconds(s->avgRttUs()),
            milliseconds(s->maxRttUs),  monitor::stateText(s->state), isoTime(s->stateSinceMs, zone)};
}

QString writeWholeFile(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    QByteArray temp = QFile::encodeName(folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.constData());
        return qt_error_string(error);
    };
    // mkostemp makes the file private; an export is an ordinary document, and one written over
    // keeps the permissions it had.
    struct stat before;
    const mode_t mode =
        ::stat(QFile::encodeName(info.absoluteFilePath()).constData(), &before) == 0 ? (before.st_mode & 0777) : 0644;
    if (::fchmod(fd, mode) != 0)
        return fail(errno);
    if (const int error = monitor::fdio::writeAll(fd, bytes))
        return fail(error);
    if (::fsync(fd) != 0)
        return fail(errno);
    if (::rename(temp.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0)
        return fail(errno);
    ::close(fd);
    // The export is complete under its name; a folder that cannot be synced leaves it as it is.
    monitor::fdio::syncFolder(folder);
    return {};
}

} // namespace csv
