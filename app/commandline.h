#pragma once

#include <QString>
#include <QStringList>

// The program's command line. The window takes no arguments; the options only answer questions
// or choose how the window starts.
struct CommandLine
{
    enum Action
    {
        Run,     // start the program
        Help,    // print helpText() and end
        Version, // print versionText() and end
        Error,   // print `error` and the hint to --help, and end with status 2
    };
    Action action = Run;
    bool minimized = false; // start hidden in the notification area, where there is one
    QString error;
};

// Reads the arguments (the program's name first). With `strict` false, anything unknown is passed
// over: before the toolkit has taken its own options out (-platform, -style...), only a request
// for help or the version is looked for, so that these need no display.
CommandLine parseCommandLine(const QStringList& arguments, bool strict);

QString helpText();
QString versionText();
