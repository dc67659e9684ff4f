#pragma once

#include "platform/messagebox.h"
#include "platform/soundplayer.h"
#include "platform/toolbar.h"
#include "probe/prober.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

// Records every message box and answers at once with a queued or default answer.
class RecordingMessageBox : public platform::MessageBox
{
public:
    struct Shown
    {
        QString text;
        int style;
        QString title;
    };
    int show(const QString& text, int style, const QString& title) override;
    void queueAnswer(int answer) { m_answers.append(answer); }
    QVector<Shown> shown;
    // Runs inside show(), as if the user acted while the modal box was up.
    std::function<void(const Shown&)> onShow;

private:
    QVector<int> m_answers;
};

// Records the files the program asked to play.
class RecordingSoundPlayer : public platform::SoundPlayer
{
public:
    void play(const QString& file) override { played.append(file); }
    QStringList played;
};

// A probe engine whose outcomes are scripted per address.
class ScriptedProber : public Prober
{
public:
    struct Outcome
    {
        std::int32_t status = 0;
        std::int32_t rtt = 0;
        mdlPing::Failure failure = mdlPing::Failure::None;
    };
    bool SocketsStartup() override;
    void SocketsCleanup() override { ++cleanups; }
    mdlPing::Outcome probe(const QString& address) override;

    void set(const QString& address, std::int32_t status, std::int32_t rtt = 0,
             mdlPing::Failure failure = mdlPing::Failure::None)
    {
        outcomes.insert(address, Outcome{status, rtt, failure});
    }

    // Answers through startProbe after this many milliseconds, as a real engine does, instead of
    // at the next turn of the event loop; -1 for the next turn.
    int answerAfterMs = -1;
    // Reports probes even after they were cancelled, like a reply that was already on its way.
    bool reportCancelled = false;
    quint64 startProbe(const QString& address) override;
    void cancelProbe(quint64 id) override;
    void cancelAll() override;
    int inFlight() const { return int(m_pending.size()); }
    int maxInFlight = 0;

    QHash<QString, Outcome> outcomes; // addresses not listed answer 0 with 1 ms
    bool startupResult = true;
    int startups = 0;
    int cleanups = 0;
    QStringList probed;
    // Runs after each probe, as if the user acted while the probe was running.
    std::function<void(const QString& address)> onProbe;

private:
    QSet<quint64> m_pending;
    quint64 m_lastDelayedId = 0;
};

// The window's toolbar without pictures: every button at the position the sweep and the commands
// address (tb::), with the drop-down menus' items, and Stop disabled as at the window's start.
void addWindowButtons(platform::ToolBar& toolbar);
