#pragma once

#include "monitor/historystore.h"
#include "monitor/hoststats.h"

#include <QRect>
#include <QStringList>
#include <QVector>
#include <utility>

namespace platform {
class SettingsStore;
}

// What the main window keeps between runs, with the values of a first run. A value that is
// absent or cannot be read keeps its default, so one bad entry never stops the start-up.
struct WindowSettings
{
    // The window's outer place and size in twips: x left, y top.
    QRect geometryTwips{120, 120, 7850, 8350};
    // False where the program cannot know its window's place: the stored place is then kept
    // for the next session that can, and only the size is written.
    bool positionKnown = true;
    bool gridLines = false;
    bool checkboxes = true;
    bool alwaysOnTop = false;
    bool saveWndPos = true;
    bool hideUnselected = false;
    bool pingAllAtOnce = false;
    bool startWithSession = false;
    bool resumeMonitoring = false;  // a continuous run starts with the program
    bool closeToTray = false;       // closing the window hides it in the tray
    int soundAlert = 1;             // the Sound Alert button's value: 1 pressed
    bool statistics = true;         // the statistics columns are shown
    bool outageLog = false;         // state changes are appended to the outage log
    monitor::AlertRules alertRules; // [Alerts]: when a host counts as down, up or degraded
    int probeIntervalMs = 1000;     // [Probe] IntervalMs: between the starts of a continuous run's sweeps
    int probeTimeoutMs = 1000;      // [Probe] TimeoutMs: how long a request waits for its reply
    int probePayloadBytes = 5;      // [Probe] PayloadBytes: the data in each request
    // [History] RawDays, MinuteDays, HourDays, MaxMegabytes: how long the history file keeps
    // raw samples, minutes and hours, and how large it may grow.
    monitor::HistoryLimits historyLimits;
    bool runCommand = false; // alertCommand runs on each change
    QString alertCommand;
    // The list's column widths in pixels, left to right; empty keeps the built-in ones.
    QVector<int> columnWidths;
    // The entries the user unticked, each as entryIdentity() gives it; kept in a file of their
    // own beside the settings file.
    QStringList unticked;

    // What names an entry between runs, since list.txt has no room for a tick: its name and its
    // address. Two entries alike in both share their tick.
    static QString entryIdentity(const QString& name, const QString& address);
    // The unticked entries after a look at the rows on show (identity, ticked): theirs as shown,
    // first, then the remembered ones of entries not on show (another list was showing).
    static QStringList keepUnticked(const QStringList& remembered, const QVector<std::pair<QString, bool>>& shown);

    // Everything but the geometry, which is read only when the window is first activated.
    static WindowSettings load(const platform::SettingsStore& store);
    // True under a compositor that places windows itself (Wayland): a program can neither read
    // nor set where its window is.
    static bool compositorPlacesWindows();
    // The stored geometry, clamped to what any desktop could show; a negative position becomes 120.
    static QRect loadGeometry(const platform::SettingsStore& store);
    // Writes every value (the geometry only while saveWndPos) and syncs; false when the file
    // could not be written (the store knows why).
    bool save(platform::SettingsStore& store) const;
};
