#pragma once

#include "probe/hoststats.h"

#include <QByteArray>
#include <QString>
#include <QTimeZone>
#include <QVector>

// A CSV file that gets one line per state change, appended and never rewritten:
//
//   time,name,address,state,status,text
//   2026-12-07T12:03:07+01:00,mail server,10.0.0.1,down,11010,Request Timed Out
//   2026-12-07T12:07:15+01:00,mail server,10.0.0.1,up,0,Up again after 4 min
//
// The time is when the new state began. A new or empty file starts with the header line.
class OutageLog
{
public:
    explicit OutageLog(const QString& path, const QTimeZone& zone = monitor::localZone());

    QString path() const { return m_path; }

    // The lines for these changes.
    QByteArray lines(const QVector<monitor::StateChange>& changes) const;

    // Appends the lines of these changes in one write and syncs them to the disk. Nothing is
    // ever cut from what the file held before; when the write fails, what it had added is taken
    // out again so that no half line stays. Empty on success, otherwise a sentence saying why.
    QString append(const QVector<monitor::StateChange>& changes) const;

    static QByteArray header();

private:
    QString m_path;
    QTimeZone m_zone;
};
