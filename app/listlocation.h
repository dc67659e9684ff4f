#pragma once

#include <QByteArray>
#include <QString>

// Which list.txt the program uses. A list beside the program wins, so a portable copy keeps
// its own; otherwise each user has one in their data folder, started from the example list the
// first time it is needed. An existing list is never replaced.
struct ListLocation
{
    enum Origin
    {
        BesideProgram,      // <program folder>/list.txt exists
        ProgramFolderOnly,  // no user data folder is known: the program folder is the only place
        UserFolder,         // the user's list exists
        CreatedFromExample, // the user's list was created just now
        Unavailable,        // the user's list neither exists nor could be created
    };

    QString path; // the list to read and write; set for every origin
    Origin origin = Unavailable;
    QString problem; // for Unavailable: what went wrong, for the user
};

// The user's data folder for the list ($XDG_DATA_HOME/Tivane, usually ~/.local/share/Tivane);
// empty when the system names none.
QString userListFolder();

// Finds the list, creating <dataFolder>/list.txt from `example` when neither list exists. The new
// file appears whole or not at all (written aside and linked into place), and never over a list
// that appeared meanwhile. An empty dataFolder leaves the program folder as the only place.
ListLocation locateHostList(const QString& programFolder, const QString& dataFolder, const QByteArray& example);
