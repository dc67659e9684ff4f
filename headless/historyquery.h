#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdio>

namespace headless {

// A point in time as written on the command line: ISO 8601 ("2026-12-08T09:30", local time
// without an offset; a date alone is its midnight), or an age before nowMs: "90s", "10m", "2h",
// "7d". False with a sentence in *error for anything else.
bool parseWhen(const QString& text, qint64 nowMs, qint64* ms, QString* error);

// The file the monitor keeps its history in unless told otherwise. Under systemd the service's
// own state folder (stateDirectory, the first of a colon-separated list); otherwise the user's
// state folder (xdgStateHome, or home/.local/state), never the window's file: the two would
// write the same hosts twice.
QString defaultHistoryFile(const QString& stateDirectory, const QString& xdgStateHome, const QString& home);
QString defaultHistoryFile();

// Writes to out, as CSV, the samples in [fromMs, toMs) of every host of the file whose name or
// address is host, oldest first; reasons to err. Returns the exit status. Needs a
// QCoreApplication (the SQL driver is a plugin).
int printHistory(const QString& file, const QString& host, qint64 fromMs, qint64 toMs, std::FILE* out, std::FILE* err);

} // namespace headless
