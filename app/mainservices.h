#pragma once

#include "appinfo.h"

#include <QIcon>
#include <QString>
#include <functional>
#include <utility>

class Prober;
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
    // The entry dialog for a new entry, appended to the list file at listPath on OK.
    virtual void insertEntry(QWidget* owner, const QString& listPath, const platform::ImageList& pictures) = 0;
    // The entry dialog showing an existing entry; type 1..3 selects that picture option.
    virtual void showEntry(QWidget* owner, const QString& listPath, const platform::ImageList& pictures,
                           const QString& name, const QString& address, int type) = 0;
    virtual void about(QWidget* owner) = 0;
    // Shows a folder in the desktop's file manager; false when none could.
    virtual bool openFolder(const QString& folder) = 0;
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
    // The notification area; none: the window is never hidden in it.
    TrayPort* tray = nullptr;
    // The user's own folder for list.txt, used when none lies beside the program; empty keeps
    // the list beside the program only.
    QString listFolder;
    // True when another copy of the program is already running; none: never.
    std::function<bool()> prevInstance;
    // Ends the program after the window has unloaded, with the exit code (non-zero when the
    // settings could not be saved); none: the window only unloads.
    std::function<void(int exitCode)> endProgram;
};
