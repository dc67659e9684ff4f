#pragma once

#include "mainservices.h"

#include <QPair>
#include <QStringList>
#include <QVector>
#include <functional>

// Records the dialogs the window asks for instead of opening them.
class RecordingDialogs : public MainDialogs
{
public:
    struct Entry
    {
        QString name;
        QString address;
        int type;
    };

    void insertEntry(QWidget*, const QString& listPath, const platform::ImageList&) override
    {
        ++inserts;
        lastListPath = listPath;
        if (onInsert)
            onInsert(listPath);
    }
    void showEntry(QWidget*, const QString& listPath, const platform::ImageList&, const QString& name,
                   const QString& address, int type) override
    {
        lastListPath = listPath;
        edits.append({name, address, type});
    }
    void about(QWidget*) override { ++abouts; }
    bool openFolder(const QString& folder) override
    {
        opened.append(folder);
        return openWorks;
    }

    int inserts = 0;
    int abouts = 0;
    QVector<Entry> edits;
    QStringList opened;
    bool openWorks = true;
    QString lastListPath;
    // Runs inside the insert dialog, as if the user filled it in.
    std::function<void(const QString& listPath)> onInsert;
};

// A notification area that is there or not, as the test says, recording every request.
class ScriptedTray : public TrayPort
{
public:
    int notify(int action, const QIcon&, const QString& tip) override
    {
        calls.append({action, tip});
        return available ? 1 : 0;
    }

    bool available = false;
    QVector<QPair<int, QString>> calls;
};
