#pragma once

// The main window over fakes, in a folder of its own that holds its list.txt and settings.ini:
// the scaffolding the window's suites share. A suite with needs of its own derives from it or
// changes services() before open().
#include "app/frmmain.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "tests/app/appfakes.h"
#include "tests/support/fakes.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModel>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

struct WindowHarness
{
    // Three hosts, one of each picture type.
    static QByteArray threeHosts()
    {
        return QByteArrayLiteral("1|srv|127.0.0.1\r\n2|pc|127.0.0.2\r\n3|x|127.0.0.3\r\n");
    }

    explicit WindowHarness(const QByteArray& list = threeHosts()) : WindowHarness(WithoutList{}) { writeList(list); }
    // No list.txt at all, as before the first start.
    struct WithoutList
    {
    };
    explicit WindowHarness(WithoutList) { settings = std::make_unique<platform::SettingsStore>(settingsPath()); }

    QString settingsPath() const { return dir.filePath(QStringLiteral("settings.ini")); }
    void writeList(const QByteArray& bytes) { writeBytes(dir.filePath(QStringLiteral("list.txt")), bytes); }
    QByteArray listBytes() const { return readBytes(dir.filePath(QStringLiteral("list.txt"))); }

    // The fakes below, this folder as the program's, and the program's end recorded.
    MainServices services()
    {
        MainServices s(platform::AppInfo(), messages, *settings, prober, sound, dialogs);
        s.app.Path = dir.path();
        s.tray = &tray;
        s.prevInstance = [this] { return otherCopy; };
        s.endProgram = [this](int code) {
            ++ends;
            exitCode = code;
        };
        return s;
    }

    // A new window in place of the last one, which goes first as a finished run's would.
    frmMain& open(const MainServices& s)
    {
        window.reset();
        window = std::make_unique<frmMain>(s);
        return *window;
    }
    frmMain& open() { return open(services()); }

    // A new window that has loaded its list.
    frmMain& start(const MainServices& s)
    {
        open(s).Form_Load();
        return *window;
    }
    frmMain& start() { return start(services()); }

    // Writes one setting where the next window will read it.
    void store(const QString& section, const QString& key, const QString& value)
    {
        settings->write(section, key, value);
        QVERIFY(settings->sync());
    }

    // Settings as the next run will see them.
    QString stored(const QString& section, const QString& key, const QString& absent = QStringLiteral("<absent>")) const
    {
        platform::SettingsStore reread(settingsPath());
        return reread.read(section, key, absent);
    }

    // Full sweeps of the list, each waited for.
    void sweep(int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            window->PingList();
            QTRY_VERIFY_WITH_TIMEOUT(window->sweep().isIdle(), 10000);
        }
    }

    // The text in row (from 1) under the column headed header.
    QString stat(int row, const QString& header) const
    {
        const QAbstractItemModel* m = window->lstPings->items();
        for (int c = 0; c < m->columnCount(); ++c) {
            if (m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString() == header)
                return m->index(row - 1, c).data().toString();
        }
        return QStringLiteral("<no column %1>").arg(header);
    }

    // The row (from 1) named name; 0 when there is none.
    int rowOf(const QString& name) const
    {
        for (int i = 1; i <= window->lstPings->count(); ++i) {
            if (window->lstPings->text(i) == name)
                return i;
        }
        return 0;
    }

    // The rows' names, top to bottom.
    QStringList names() const
    {
        QStringList out;
        for (int i = 1; i <= window->lstPings->count(); ++i)
            out.append(window->lstPings->text(i));
        return out;
    }

    QTemporaryDir dir;
    std::unique_ptr<platform::SettingsStore> settings;
    RecordingMessageBox messages;
    ScriptedProber prober;
    RecordingSoundPlayer sound;
    RecordingDialogs dialogs;
    ScriptedTray tray;
    bool otherCopy = false; // what prevInstance answers
    int ends = 0;           // calls of endProgram
    int exitCode = -1;      // the latest one's code
    std::unique_ptr<frmMain> window;
};

// Shows the window and gives the list the keyboard, as a user tabbing to it would.
inline void focusList(frmMain& w)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    w.lstPings->setFocus();
    QTRY_VERIFY(w.lstPings->hasFocus());
}

// The middle of row (from 1) in the list's viewport, for mouse events.
inline QPoint rowCenter(frmMain& w, int row)
{
    return w.lstPings->visualRect(w.lstPings->items()->index(row - 1, 0)).center();
}
