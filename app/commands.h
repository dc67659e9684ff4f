#pragma once

#include <QString>
#include <functional>

class Sweep;
struct SweepContext;

// What a command needs from the window that owns it. A hook left empty makes its
// drop-down item answer with a message box showing the item's key.
struct CommandHooks
{
    std::function<void()> loadList;  // fill the (already emptied) list from the file, reporting failures
    std::function<void()> showAbout; // the about dialog, modal
    std::function<void()> unload;    // close the main window and end the program
    std::function<void()> addIp;
    std::function<void()> editIp;
    std::function<void()> removeIp;
    std::function<void()> openListFolder;   // show the folder of the list in use
    std::function<void()> startWithSession; // toggle starting with the desktop session
    std::function<void()> alwaysOnTop;
    std::function<void()> saveWndPos;
    std::function<void()> hideUnselected;
    std::function<void()> viewChanged; // after a view toggle, so check marks can follow
};

// Turns toolbar clicks and drop-down items into commands.
class Commands
{
public:
    Commands(Sweep& sweep, const SweepContext& context) : m_sweep(sweep), m_ctx(context) {}

    void tblTivane_ButtonClick(int index);
    void tblTivane_ButtonMenuClick(const QString& key);
    // Stop any sweep or run, then reload the list from its file.
    void reload();

    CommandHooks hooks;

private:
    void byKeyOrMessage(const std::function<void()>& hook, const QString& key);

    Sweep& m_sweep;
    const SweepContext& m_ctx;
};
