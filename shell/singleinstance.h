#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLockFile;
class QLocalServer;

// Lets one copy of the program run per user. The lock lives in the user's runtime folder and
// is taken over when the copy that held it has died. The running copy listens on a local
// socket so that a second start can ask it to show its window before the second copy ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // name: the lock and socket name, unique per user (tests pass their own).
    explicit SingleInstance(const QString& name = QStringLiteral("tivane"), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another copy holds the lock. When it does not, this copy now holds it and listens.
    bool PrevInstance();
    // Asks the running copy to show its window. Returns true when the request was delivered.
    bool notifyRunning(int timeoutMs = 1000);
    QString lockPath() const;
    // The local socket the running copy listens on: the name plus the user id.
    QString serverName() const;

Q_SIGNALS:
    // A second copy asked the running one to show itself.
    void showRequested();

private:
    void onNewConnection();

    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
