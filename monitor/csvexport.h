#pragma once

#include "monitor/hoststats.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

// CSV for spreadsheets and scripts: RFC 4180 quoting, UTF-8, CRLF line ends.
namespace csv {

// One field. Quoted when it holds a comma, a quote, a line break or spaces at either end; a
// field starting with = + - @ (or a tab or carriage return) gets a leading apostrophe, so that a
// spreadsheet shows it as text instead of running it as a formula.
QString field(const QString& text);
// The fields joined, with CRLF.
QByteArray line(const QStringList& fields);
// A whole document: a UTF-8 byte order mark (spreadsheets guess the encoding without it), then
// one line per row.
QByteArray document(const QList<QStringList>& rows);

// The statistics columns of an export, after the window's own columns.
QStringList statisticsHeader();
// A host's statistics for those columns, in units a spreadsheet can compute with: counts, loss in
// percent, round trips in ms with three decimals, the state and the ISO 8601 time it began.
// Empty fields for a null host.
QStringList statisticsFields(const monitor::HostStats* stats, const QTimeZone& zone = monitor::localZone());

// ISO 8601 with the zone's offset: "2026-12-07T12:03:07+01:00".
QString isoTime(qint64 ms, const QTimeZone& zone = monitor::localZone());

// Writes the whole file or leaves whatever was there before: the bytes go to a temporary file
// beside it, which takes the name only once it is complete on the disk. Empty on success,
// otherwise why it failed.
QString writeWholeFile(const QString& path, const QByteArray& bytes);

} // namespace csv
