#pragma once

#include "monitor/hoststats.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <deque>
#include <memory>
#include <vector>

class QProcess;
class QTimer;

namespace monitor {

// Runs the user's command once for each host's change of state, without a shell: the command line
// is split like a shell's words and the host is told through TIVANE_* variables only, so nothing a
// list file or a name server says can become part of a command. A few run at once, the rest wait;
// none may hold up the window or run forever.
class CommandHook : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxRunning = 4;
    static constexpr int MaxQueued = 1000;
    static constexpr int DefaultTimeLimitMs = 30000;

    explicit CommandHook(QObject* parent = nullptr);
    ~CommandHook() override;

    // Empty turns the hook off; commands already started finish, the queue is dropped.
    void setCommand(const QString& commandLine);
    QString command() const { return m_commandLine; }
    void setTimeLimit(int ms) { m_timeLimitMs = ms; }
    void setZone(const QTimeZone& zone) { m_zone = zone; }

    // The batch of one sweep: one run for each change worth telling (as notifications have them).
    // stats, when given, adds the host's latest round trip and recent loss.
    void changed(const QVector<StateChange>& changes, const HostMonitor* stats = nullptr);

    // The words of a command line as a POSIX shell splits them: blanks separate, '...' keeps all,
    // "..." keeps all but \\ \" \$ \` escapes, a backslash outside quotes keeps the next character.
    // No expansion of any kind. Empty for an unterminated quote or a line without words.
    static QStringList splitWords(const QString& commandLine);

    // What a command is given for one change, on top of the program's own environment.
    static QProcessEnvironment environmentFor(const StateChange& change, const HostStats* stats, const QTimeZone& zone,
                                              const QProcessEnvironment& base);

    int running() const { return int(m_running.size()); }
    int queued() const { return int(m_queue.size()); }

Q_SIGNALS:
    // Something went wrong: a command that cannot start, exits non-zero or is ended after the time
    // limit is told once per command line; a full queue once until it empties again.
    void problem(const QString& message);
    // A run is over, however it ended (for tests and for the window's idle checks).
    void finished();

private:
    struct Job
    {
        QProcessEnvironment environment;
    };
    struct Run
    {
        QProcess* process = nullptr;
        QString line; // the command line it was started from, for its report
        bool timedOut = false;
    };

    void startNext();
    void ended(QProcess* process);
    void report(const QString& message);

    QString m_commandLine;
    QString m_program;
    QStringList m_arguments;
    int m_timeLimitMs = DefaultTimeLimitMs;
    QTimeZone m_zone;
    std::deque<Job> m_queue;
    std::vector<Run> m_running;
    QSet<QString> m_reported; // command lines already reported as failing
    bool m_overflowTold = false;
};

} // namespace monitor
