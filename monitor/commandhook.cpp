#include "monitor/commandhook.h"

#include "probe/mdlping.h"

#include <QDateTime>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace monitor {

CommandHook::CommandHook(QObject* parent) : QObject(parent), m_zone(localZone()) {}

CommandHook::~CommandHook()
{
    // A command left running would outlive the program as an orphan nobody waits for.
    for (Run& r : m_running) {
        r.process->disconnect(this);
        r.process->kill();
        r.process->waitForFinished(1000);
    }
}

void CommandHook::setCommand(const QString& commandLine)
{
    if (commandLine == m_commandLine)
        return;
    m_commandLine = commandLine;
    const QStringList words = splitWords(commandLine);
    if (words.isEmpty() && !commandLine.trimmed().isEmpty())
        report(QStringLiteral("The command \"%1\" has a quote that is not closed; it is not run").arg(commandLine));
    m_program = words.value(0);
    m_arguments = words.mid(1);
    m_queue.clear();
}

QStringList CommandHook::splitWords(const QString& line)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
        } else if (c == u'\'') {
            const qsizetype end = line.indexOf(u'\'', i + 1);
            if (end < 0)
                return {};
            word += line.mid(i + 1, end - i - 1);
            i = end;
            inWord = true;
        } else if (c == u'"') {
            qsizetype j = i + 1;
            for (; j < line.size() && line.at(j) != u'"'; ++j) {
                if (line.at(j) == u'\\' && j + 1 < line.size() && QStringLiteral("\\\"$`").contains(line.at(j + 1)))
                    ++j;
                word += line.at(j);
            }
            if (j >= line.size())
                return {};
            i = j;
            inWord = true;
        } else if (c == u'\\') {
            if (i + 1 < line.size())
                word += line.at(++i);
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

QProcessEnvironment CommandHook::environmentFor(const StateChange& c, const HostStats* stats, const QTimeZone& zone,
                                                const QProcessEnvironment& base)
{
    QProcessEnvironment env = base;
    env.insert(QStringLiteral("TIVANE_NAME"), c.name);
    env.insert(QStringLiteral("TIVANE_ADDRESS"), c.address);
    env.insert(QStringLiteral("TIVANE_STATE"), stateName(c.to));
    env.insert(QStringLiteral("TIVANE_PREVIOUS_STATE"), stateName(c.from));
    env.insert(QStringLiteral("TIVANE_STATUS"), QString::number(c.status));
    env.insert(QStringLiteral("TIVANE_STATUS_TEXT"),
               c.status == -1 ? QStringLiteral("No request could be sent") : mdlPing::GetStatusText(c.status));
    const qint64 rtt = stats && c.status == 0 ? stats->lastRttUs : -1;
    env.insert(QStringLiteral("TIVANE_RTT_MS"), rtt < 0 ? QString() : QString::number(double(rtt) / 1000.0, 'f', 3));
    const double loss = stats ? stats->recentLossPercent() : -1.0;
    env.insert(QStringLiteral("TIVANE_LOSS_PERCENT"), loss < 0 ? QString() : QString::number(loss, 'f', 1));
    env.insert(QStringLiteral("TIVANE_SINCE"),
               QDateTime::fromMSecsSinceEpoch(c.sinceMs, zone).toString(Qt::ISODateWithMs));
    return env;
}

void CommandHook::changed(const QVector<StateChange>& changes, const HostMonitor* stats)
{
    if (m_program.isEmpty())
        return;
    const QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    for (const StateChange& c : changes) {
        if (!c.notable())
            continue;
        if (int(m_queue.size()) >= MaxQueued) {
            m_queue.pop_front();
            if (!m_overflowTold) {
                m_overflowTold = true;
                report(QStringLiteral("Too many state changes wait for the command \"%1\": the oldest are dropped")
                           .arg(m_commandLine));
            }
        }
        m_queue.push_back(Job{environmentFor(c, stats ? stats->stats(c.key) : nullptr, m_zone, base)});
        startNext();
    }
}

void CommandHook::startNext()
{
    while (int(m_running.size()) < MaxRunning && !m_queue.empty()) {
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        auto* process = new QProcess(this);
        process->setProcessEnvironment(job.environment);
        process->setProgram(m_program);
        process->setArguments(m_arguments);
        // Its output is of no use to the window, and unread pipes could stall it.
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        auto* limit = new QTimer(process);
        limit->setSingleShot(true);
        const QString line = m_commandLine;
        connect(limit, &QTimer::timeout, this, [this, process] {
            for (Run& r : m_running) {
                if (r.process == process)
                    r.timedOut = true;
            }
            process->kill();
        });
        connect(process, &QProcess::finished, this, [this, process] { ended(process); });
        connect(process, &QProcess::errorOccurred, this, [this, process, line](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            if (!m_reported.contains(line)) {
                m_reported.insert(line);
                report(QStringLiteral("The command \"%1\" could not be started: %2").arg(line, process->errorString()));
            }
            ended(process);
        });
        m_running.push_back(Run{process, line, false});
        limit->start(m_timeLimitMs);
        process->start();
    }
    if (m_queue.empty())
        m_overflowTold = false;
}

void CommandHook::ended(QProcess* process)
{
    const auto it =
        std::find_if(m_running.begin(), m_running.end(), [process](const Run& r) { return r.process == process; });
    if (it == m_running.end())
        return;
    const bool timedOut = it->timedOut;
    const QString line = it->line;
    m_running.erase(it);
    if (process->error() != QProcess::FailedToStart && !m_reported.contains(line)) {
        QString why;
        if (timedOut)
            why = QStringLiteral("was ended after %1 s").arg(m_timeLimitMs / 1000.0);
        else if (process->exitStatus() == QProcess::CrashExit)
            why = QStringLiteral("ended abnormally");
        else if (process->exitCode() != 0)
            why = QStringLiteral("exited with status %1").arg(process->exitCode());
        if (!why.isEmpty()) {
            m_reported.insert(line);
            report(QStringLiteral("The command \"%1\" %2").arg(line, why));
        }
    }
    process->deleteLater();
    Q_EMIT finished();
    startNext();
}

void CommandHook::report(const QString& message)
{
    Q_EMIT problem(message);
}

} // namespace monitor
