#pragma once

#include "app/alertsdialog.h"
#include "app/optionsdialog.h"
#include "hostlist/hostlistfile.h"
#include "platform/appinfo.h"

#include <QIcon>
#include <QString>
#include <functional>
#include <optional>
#include <utility>

class DesktopNotifier;
class Prober;
class QMenu;
class QWidget;

namespace platform {
class ImageList;
class MessageBox;
class SettingsStore;
class SoundPlayer;
} // namespace platform

// The dialogs the main window opens, each modal over the owner; tests script their own.
class MainDialogs
{
public:
    virtual ~MainDialogs() = default;
    // The entry dialog for a new entry, appended through file on OK: the entry written and its key
    // in file, or nothing.
    virtual std::optional<hostlist::KeyedHostLine> insertEntry(QWidget* owner, hostlist::HostListFile& file,
                                                               const platform::ImageList& pictures) = 0;
    // The entry dialog for the entry key of file; type 1..3 selects that picture option. OK
    // rewrites the entry's line: the entry as stored, or nothing.
    virtual std::optional<hostlist::HostLine> showEntry(QWidget* owner, hostlist::HostListFile& file,
                                                        const platform::ImageList& pictures, hostlist::EntryKey key,
                                                        const QString& name, const QString& address, int type) = 0;
    virtual void about(QWidget* owner) = 0;
    // The import dialog over the owner: the hosts to add, or nothing when cancelled. None: always
    // cancelled.
    virtual std::optional<QVector<hostlist::HostLine>> importHosts(QWidget* owner,
                                                                   const QVector<hostlist::HostLine>& existing)
    {
        Q_UNUSED(owner);
        Q_UNUSED(existing);
        return std::nullopt;
    }
    // Shows a folder in the desktop's file manager; false when none could.
    virtual bool openFolder(const QString& folder) = 0;
    // Asks where to save a file, starting at suggestedPath; empty when the user cancelled. None:
    // always cancelled.
    virtual QString saveFile(QWidget* owner, const QString& title, const QString& suggestedPath, const QString& filter)
    {
        Q_UNUSED(owner);
        Q_UNUSED(title);
        Q_UNUSED(suggestedPath);
        Q_UNUSED(filter);
        return {};
    }
    // The Alerts dialog over the owner, changing settings on OK; false when cancelled. None:
    // always cancelled.
    virtual bool alerts(QWidget* owner, AlertSettings& settings)
    {
        Q_UNUSED(owner);
        Q_UNUSED(settings);
        return false;
    }
    // The Options dialog, likewise.
    virtual bool options(QWidget* owner, ProbeSettings& settings)
    {
        Q_UNUSED(owner);
        Q_UNUSED(settings);
        return false;
    }
};

// The program's icon in the notification area, as the window drives it; tests script their own.
// The icon's clicks reach the window through frmMain::pctTrayIcon_MouseMove.
class TrayPort
{
public:
    virtual ~TrayPort() = default;
    // Adds (NIM_ADD), changes (NIM_MODIFY; a null icon keeps the current one) or removes
    // (NIM_DELETE) the icon. Non-zero when it succeeded and an icon is really shown.
    virtual int notify(int action, const QIcon& icon, const QString& tip) = 0;
    // A notification from the icon (a warning for bad news); false when none could be shown.
    // None: the tray shows no notifications.
    virtual bool showMessage(const QString& title, const QString& text, bool warning)
    {
        Q_UNUSED(title);
        Q_UNUSED(text);
        Q_UNUSED(warning);
        return false;
    }
    // The tray menu, for a tray that shows menus itself (a StatusNotifierItem host draws the
    // exported menu). None: the window pops the menu up on the icon's right-button release.
    virtual void setMenu(QMenu* menu) { Q_UNUSED(menu); }
    // True when the tray reports its coming and going itself, so the window need not look.
    virtual bool reportsChanges() const { return false; }
};

// Everything the main window uses from outside. The references are required; the rest may be
// left as they are, with the behaviour their comments give.
struct MainServices
{
    MainServices(platform::AppInfo info, platform::MessageBox& messageBox, platform::SettingsStore& store,
                 Prober& probe, platform::SoundPlayer& player, MainDialogs& dialogBoxes)
        : app(std::move(info)), messages(messageBox), settings(store), prober(probe), sound(player),
          dialogs(dialogBoxes)
    {
    }

    platform::AppInfo app;
    platform::MessageBox& messages;
    platform::SettingsStore& settings;
    Prober& prober;
    platform::SoundPlayer& sound;
    MainDialogs& dialogs;
    // Plays the sounds of hosts going down and coming back, apart from the per-failure alert
    // so that neither cuts the other off; none: the player above.
    platform::SoundPlayer* stateSound = nullptr;
    // The notification area; none: the window is never hidden in it.
    TrayPort* tray = nullptr;
    // The desktop's notification server; none, or no server on the bus: the tray's balloons.
    DesktopNotifier* notifier = nullptr;
    // The user's own folder for list.txt, used when none lies beside the program; empty keeps
    // the list beside the program only.
    QString listFolder;
    // True when another copy of the program is already running; none: never.
    std::function<bool()> prevInstance;
    // Ends the program after the window has unloaded, with the exit code (non-zero when the
    // settings could not be saved); none: the window only unloads.
    std::function<void(int exitCode)> endProgram;
};
