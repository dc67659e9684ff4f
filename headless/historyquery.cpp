#include "headless/historyquery.h"

#include "monitor/csvexport.h"
#include "monitor/historystore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace headless {

bool parseWhen(const QString& text, qint64 nowMs, qint64* ms, QString* error)
{
    static const QRegularExpression age(QStringLiteral("^([0-9]{1,9})([smhd])$"));
    if (const QRegularExpressionMatch m = age.match(text); m.hasMatch()) {
        static constexpr qint64 unitMs[] = {1000, 60000, 3600000, 86400000};
        const qsizetype unit = QStringLiteral("smhd").indexOf(m.captured(2));
        const qint64 span = m.captured(1).toLongLong() * unitMs[unit];
        // Nine digits of days still fit; before 1970 there is no history to find.
        *ms = std::max<qint64>(nowMs - span, 0);
        return true;
    }
    QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!at.isValid())
        at = QDateTime::fromString(text, Qt::ISODate);
    if (!at.isValid()) {
        if (const QDate day = QDate::fromString(text, Qt::ISODate); day.isValid())
            at = day.startOfDay();
    }
    if (!at.isValid()) {
        *error = QStringLiteral("'%1' is not a time: give ISO 8601 (2026-12-08T09:30, 2026-12-08) or an age "
                                "such as 90s, 10m, 2h or 7d")
                     .arg(text);
        return false;
    }
    *ms = at.toMSecsSinceEpoch();
    return true;
}

QString defaultHistoryFile(const QString& stateDirectory, const QString& xdgStateHome, const QString& home)
{
    const QString service = stateDirectory.section(u':', 0, 0);
    if (QDir::isAbsolutePath(service))
        return QDir(service).filePath(QStringLiteral("history.sqlite"));
    // Relative values are to be ignored, as for every XDG variable.
    const QString base = QDir::isAbsolutePath(xdgStateHome) ? xdgStateHome : home + QStringLiteral("/.local/state");
    return QDir(base).filePath(QStringLiteral("Tivane/monitor-history.sqlite"));
}

QString defaultHistoryFile()
{
    return defaultHistoryFile(qEnvironmentVariable("STATE_DIRECTORY"), qEnvironmentVariable("XDG_STATE_HOME"),
                              QDir::homePath());
}

namespace {
QString resultText(monitor::SampleKind kind)
{
    switch (kind) {
    case monitor::SampleKind::Reply:
        return QStringLiteral("reply");
    case monitor::SampleKind::TimedOut:
        return QStringLiteral("timed out");
    case monitor::SampleKind::Failed:
        return QStringLiteral("failed");
    case monitor::SampleKind::NotSent:
        return QStringLiteral("not sent");
    }
    return {};
}
} // namespace

int printHistory(const QString& file, const QString& host, qint64 fromMs, qint64 toMs, std::FILE* out, std::FILE* err)
{
    if (!QFileInfo(file).isFile()) {
        std::fprintf(err, "tivane-monitor: no history at %s\n", qPrintable(file));
        return 1;
    }
    const std::unique_ptr<monitor::HistoryStore> opened = monitor::HistoryStore::openForReading(file);
    const monitor::HistoryStore& store = *opened;
    if (!store.isOpen()) {
        std::fprintf(err, "tivane-monitor: %s cannot be opened: %s\n", qPrintable(file), qPrintable(store.openError()));
        return 1;
    }
    struct Line
    {
        qint64 atMs;
        QStringList fields;
    };
    std::vector<Line> lines;
    bool known = false;
    const QTimeZone zone = QTimeZone::systemTimeZone();
    for (const auto& [name, address] : store.hosts()) {
        if (name != host && address != host)
            continue;
        known = true;
        for (const monitor::HistoryPoint& p : store.samples(name, address, fromMs, toMs)) {
            lines.push_back(
                {p.atMs,
                 {QDateTime::fromMSecsSinceEpoch(p.atMs, zone).toString(Qt::ISODateWithMs), name, address,
                  resultText(p.kind), p.rttUs < 0 ? QString() : QString::number(double(p.rttUs) / 1000.0, 'f', 3)}});
        }
    }
    if (!known) {
        std::fprintf(err, "tivane-monitor: no host named or at '%s' in %s\n", qPrintable(host), qPrintable(file));
        return 1;
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.atMs < b.atMs; });
    QByteArray text = csv::line({QStringLiteral("time"), QStringLiteral("name"), QStringLiteral("address"),
                                 QStringLiteral("result"), QStringLiteral("rtt_ms")});
    for (const Line& l : lines)
        text += csv::line(l.fields);
    if (std::fwrite(text.constData(), 1, size_t(text.size()), out) != size_t(text.size()) || std::fflush(out) != 0) {
        std::fprintf(err, "tivane-monitor: the samples could not be written out\n");
        return 1;
    }
    return 0;
}

} // namespace headless
