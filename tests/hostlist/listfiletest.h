#pragma once

// Scaffolding for the suites that change list.txt through HostListFile alone.
#include "hostlist/hostlistfile.h"

#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>
#include <QVector>

// The keys of the entries a load handed out, in file order.
inline QVector<hostlist::EntryKey> loadKeys(hostlist::HostListFile& file)
{
    QVector<hostlist::EntryKey> keys;
    for (const hostlist::KeyedHostLine& entry : file.load().entries)
        keys.append(entry.key);
    return keys;
}

// Runs a change; returns the error message, empty on success.
template <typename Change> QString attempt(Change&& change)
{
    try {
        change();
    } catch (const hostlist::HostListError& e) {
        return e.message();
    }
    return {};
}

// A suite whose every test starts without a list.txt at m_path, in a folder of its own.
class ListFileTest : public QObject
{
protected:
    void startWithoutList()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("list.txt"));
        QFile::remove(m_path);
    }

    QTemporaryDir m_dir;
    QString m_path;
};
