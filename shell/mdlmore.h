#pragma once

#include "platform/soundplayer.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <limits>
#include <memory>

class QDBusConnection;
class QMenu;
class QSoundEffect;

// The wrappers round the sound player and the notification-area icon.
namespace mdlMore {

// Length in milliseconds of a wave file as its header tells it (data size / byte rate, the data size
// capped at the bytes really present), or -1 when the file is no RIFF wave in a format we hand over.
qint64 waveDurationMs(const QString& file);

// Decides whether a new sound may start. A sound counts as playing until its expected length has
// passed, even when the engine says it stopped (it does at once on some systems without an output).
// The engine's own "playing" holds the gate a little longer, for a late start, but not beyond
// EngineGraceMs: without a device QSoundEffect can claim to play forever, which would silence the program.
// Pure: the caller supplies the clock and the engine state, so the rule is testable without audio.
class PlaybackGate
{
public:
    static constexpr qint64 EngineGraceMs = 1000;

    bool isBusy(qint64 nowMs, bool enginePlaying = false) const
    {
        return nowMs < m_until || (enginePlaying && nowMs - EngineGraceMs < m_until);
    }
    // Accepts a sound of the given length when idle and returns true; refuses it otherwise.
    bool tryStart(qint64 nowMs, qint64 durationMs, bool enginePlaying = false);

private:
    qint64 m_until = std::numeric_limits<qint64>::min();
};

// Plays wave files with QSoundEffect: returns at once, silent when the file is missing or
// unreadable or no audio device exists, and refuses a request while a sound is still playing.
class WavePlayer : public QObject, public platform::SoundPlayer
{
    Q_OBJECT
public:
    explicit WavePlayer(QObject* parent = nullptr);
    ~WavePlayer() override;
    void play(const QString& file) override;
    bool isPlaying() const;

    // Requests handed to the sound engine so far.
    int acceptedCount() const { return m_accepted; }
    // Replaces the "is there an audio output" question; tests use it to act as if a device existed.
    void setOutputProbe(std::function<bool()> hasOutput) { m_hasOutput = std::move(hasOutput); }

private:
    std::unique_ptr<QSoundEffect> m_effect;
    std::function<bool()> m_hasOutput;
    PlaybackGate m_gate;
    QElapsedTimer m_clock;
    int m_accepted = 0;
};

// Plays the named file through the given player.
void PlayWave(platform::SoundPlayer& player, const QString& file);

// Tray mouse event codes, as the tray handler numbers them.
enum TrayEvent : int
{
    TrayMouseMove = 512,
    TrayLeftDown = 513,
    TrayLeftUp = 514,
    TrayLeftDoubleClick = 515,
    TrayRightDown = 516,
    TrayRightUp = 517,
};

// Longest tip a notification-area icon carries.
inline constexpr int MaxTrayTipLength = 63;

// The tip cut to MaxTrayTipLength characters, never splitting a surrogate pair.
QString trayTip(const QString& tip);

// The event code for an activation, 0 for one the program ignores. A StatusNotifier host sends
// only single activations, so there a single activation stands for the double click that shows the window.
int trayEventCode(QSystemTrayIcon::ActivationReason reason, bool statusNotifierHost);

// The pictures of `pixmaps` under the icon theme's name `themeName`, so that a tray host that
// draws icons by name finds ours; the pictures alone when the theme has no such icon.
QIcon namedIcon(const QIcon& pixmaps, const QString& themeName);

// The one notification-area icon of the program. Reports the user's actions on it as event codes.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // True while an icon is really shown in a notification area.
    bool isShown() const;
    QString toolTip() const;
    QSystemTrayIcon* native() const { return m_icon.get(); }

    // Where the tray host draws menus itself (a StatusNotifierItem host), the menu is handed to
    // it over D-Bus, and the icon's context request is left to the host. Elsewhere the owner
    // pops it up on TrayRightUp, as before.
    void setMenu(QMenu* menu);
    bool menuExported() const { return m_menuExported; }
    // True when the icon is a StatusNotifierItem: its host's coming and going is signalled by
    // availabilityChanged(), and nobody need ask.
    bool followsHost() const { return m_statusNotifier; }

    // Used by NotifyTrayIcon.
    bool add(const QIcon& icon, const QString& tip);
    // Updates the shown icon (a null icon keeps the current one) and tip; false when none is shown.
    bool modify(const QIcon& icon, const QString& tip);
    // True when an icon was shown and now is not.
    bool remove();
    // A notification from the icon: a balloon, or the desktop's notification where the tray
    // passes it on. A warning carries the warning sign. False, showing nothing, when no icon is
    // shown: a message without its icon would come from nowhere.
    bool showMessage(const QString& title, const QString& text, bool warning, int timeoutMs = 10000);

    // True when the session bus has a StatusNotifier watcher, i.e. the tray host speaks that protocol.
    static bool statusNotifierHost();
    static bool statusNotifierHost(const QDBusConnection& bus);

Q_SIGNALS:
    // One of TrayEvent: a double click (515) or a right-button release (517), among others.
    void mouseEvent(int code);
    // A StatusNotifierItem host appeared or went away.
    void availabilityChanged();

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    std::unique_ptr<QSystemTrayIcon> m_icon;
    bool m_statusNotifier = false;
    bool m_menuExported = false;
};

enum TrayAction : int
{
    NIM_ADD = 0,
    NIM_MODIFY = 1,
    NIM_DELETE = 2
};

// Adds (action 0), modifies (1) or removes (2) the icon. The tip is cut to 63 characters.
// Returns non-zero when the request succeeded and, for an add, the icon is really shown.
int NotifyTrayIcon(int action, TrayIcon& tray, const QIcon& icon, const QString& tip);

} // namespace mdlMore
