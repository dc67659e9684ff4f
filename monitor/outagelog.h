#pragma once

#include "monitor/hoststats.h"

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
// The time is when the new state began. A host's first state is logged only when it is down: that
// a host answers from the start is no outage. Monitoring starting and stopping get lines of their
// own, without a host, so that two outages in a row are not read as one:
//
//   2026-12-07T12:00:00+01:00,,,started,,Monitoring started
//
// A new or empty file starts with the header line.
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

    enum class Monitoring
    {
        Started,
        Stopped
    };
    static QByteArray monitoringLine(Monitoring what, qint64 atMs, const QTimeZone& zone);
    // Appends the line of monitoring starting or stopping at atMs, as append() does.
    QString appendMonitoring(Monitoring what, qint64 atMs) const;
    // Appends a line about the change command failing, state "command", as append() does.
    QString appendCommandProblem(const QString& text, qint64 atMs) const;

    static QByteArray header();

private:
    QString appendBytes(const QByteArray& body) const;

    QString m_path;
    QTimeZone m_zone;
};
