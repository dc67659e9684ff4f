#pragma once

#include <QByteArray>
#include <QString>

// "Start with the session": an XDG autostart entry, tivane.desktop in the user's autostart
// folder ($XDG_CONFIG_HOME/autostart), that starts the program hidden in the tray.
namespace autostart {

QString entryPath();

// The entry for the given executable. Empty when the path cannot be written into an Exec line
// (it holds a line break).
QByteArray entryText(const QString& program);

// Writes the entry whole or not at all (a full disk leaves the previous state); false with the
// reason in `error`.
bool enable(const QString& program, QString* error);
// Removes the entry; no entry is success too.
bool disable(QString* error);
bool isEnabled();

} // namespace autostart
