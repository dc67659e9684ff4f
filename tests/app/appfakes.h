#pragma once

#include "app/mainservices.h"

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

    std::optional<hostlist::KeyedHostLine> insertEntry(QWidget*, hostlist::HostListFile& file,
                                                       const platform::ImageList&) override
    {
        ++inserts;
        lastListPath = file.path();
        if (onInsert)
            onInsert(file.path());
        if (!insertAnswer)
            return std::nullopt;
        return hostlist::KeyedHostLine{file.append(*insertAnswer), *insertAnswer};
    }
    std::optional<hostlist::HostLine> showEntry(QWidget*, hostlist::HostListFile& file, const platform::ImageList&,
                                                hostlist::EntryKey key, const QString& name, const QString& address,
                                                int type) override
    {
        lastListPath = file.path();
        edits.append({name, address, type});
        if (!editAnswer)
            return std::nullopt;
        file.replace(key, *editAnswer);
        return editAnswer;
    }
    void about(QWidget*) override { ++abouts; }
    std::optional<QVector<hostlist::HostLine>> importHosts(QWidget*,
                                                           const QVector<hostlist::HostLine>& existing) override
    {
        importedOver = existing;
        return importAnswer;
    }
    std::optional<QVector<hostlist::HostLine>> importAnswer;
    QVector<hostlist::HostLine> importedOver;
    bool openFolder(const QString& folder) override
    {
        opened.append(folder);
        return openWorks;
    }
    QString saveFile(QWidget*, const QString&, const QString& suggestedPath, const QString&) override
    {
        suggested.append(suggestedPath);
        return saveAs;
    }
    bool alerts(QWidget*, AlertSettings& settings) override
    {
        alertsShown.append(settings);
        if (onAlerts)
            return onAlerts(settings);
        return false;
    }

    bool options(QWidget*, ProbeSettings& settings) override
    {
        optionsShown.append(settings.intervalMs);
        return onOptions && onOptions(settings);
    }

    int inserts = 0;
    int abouts = 0;
    QVector<Entry> edits;
    QStringList opened;
    bool openWorks = true;
    QString lastListPath;
    // The save dialog's answer: a path, or empty for Cancel.
    QString saveAs;
    QStringList suggested;
    QVector<AlertSettings> alertsShown;
    QVector<int> optionsShown; // the interval each Options dialog opened with
    std::function<bool(ProbeSettings& settings)> onOptions;
    // Runs inside the Alerts dialog, as if the user changed it; true for OK.
    std::function<bool(AlertSettings& settings)> onAlerts;
    // Runs inside the insert dialog, as if the user filled it in.
    std::function<void(const QString& listPath)> onInsert;
    // What the user "types" into the insert and the edit dialog and confirms; none: Cancel.
    std::optional<hostlist::HostLine> insertAnswer;
    std::optional<hostlist::HostLine> editAnswer;
};

// A notification area that is there or not, as the test says, recording every request.
class ScriptedTray : public TrayPort
{
public:
    int notify(int action, const QIcon& icon, const QString& tip) override
    {
        calls.append({action, tip});
        if (action != 2 && !icon.isNull())
            lastIcon = icon;
        return available ? 1 : 0;
    }
    bool showMessage(const QString& title, const QString& text, bool warning) override
    {
        if (!available)
            return false;
        messages.append({title, text, warning});
        return true;
    }

    struct Message
    {
        QString title;
        QString text;
        bool warning;
    };
    QVector<Message> messages;
    QIcon lastIcon;

    bool available = false;
    QVector<QPair<int, QString>> calls;
};
