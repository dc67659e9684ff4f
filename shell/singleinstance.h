#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Lets one copy of the program run per user.
//
// The lock and the local socket the running copy listens on live together in one folder that
// only this user can write to: the runtime folder (XDG_RUNTIME_DIR, as QStandardPaths reports
// it) when it is a real folder owned by the user with no rights for group or others; otherwise
// "<temp>/<name>-runtime-<uid>", made with mode 0700 and checked the same way. A folder that fails
// the check is never used: the copy then runs without the single-copy check and says so on
// stderr. No name shared between users is ever created, removed or connected to.
//
// The lock is an flock() on "<name>.lock" in that folder, so it ends with the process that held it
// however that process ends; the file itself is never removed. The socket "<name>.socket" is made
// by the lock holder only, and on exit removed only while it is still the one this copy made.
//
// Copies whose runtime folders differ (another XDG_RUNTIME_DIR) do not see each other; each keeps
// to its own folder and leaves the other's files alone.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // name: the base name of the lock, socket and fallback folder (tests pass their own). The
    // folder is chosen here, from the environment as it is now.
    explicit SingleInstance(const QString& name = QStringLiteral("tivane"), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another copy holds the lock. When it does not, this copy now holds it and listens;
    // without a safe folder there is no lock to take and this is false.
    bool PrevInstance();
    // Asks the running copy to show its window. Returns true when the request was delivered.
    bool notifyRunning(int timeoutMs = 1000);

    // The private folder in use; empty when no safe one was found.
    QString folder() const { return m_folder; }
    // Full paths of the lock and of the running copy's local socket; empty without a folder.
    QString lockPath() const;
    QString serverName() const;

Q_SIGNALS:
    // A second copy asked the running one to show itself.
    void showRequested();

private:
    void listenForOthers();
    void onNewConnection();

    QString m_name;
    QString m_folder;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
    // The socket file this copy made, identified by device and inode.
    bool m_ownsSocket = false;
    quint64 m_socketDev = 0;
    quint64 m_socketIno = 0;
};
