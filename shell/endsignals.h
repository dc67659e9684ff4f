#pragma once

#include <QList>
#include <QObject>
#include <initializer_list>

class QSocketNotifier;

// Turns the signals that ask a program to end (SIGTERM at logout without a session manager,
// SIGINT from a terminal's Ctrl+C, SIGHUP when the terminal goes away) into a Qt signal on the
// event loop, so that the program can close in order: settings saved, lock released.
class EndSignals : public QObject
{
    Q_OBJECT
public:
    explicit EndSignals(std::initializer_list<int> signalList, QObject* parent = nullptr);
    ~EndSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
    QList<int> m_signals;
};
