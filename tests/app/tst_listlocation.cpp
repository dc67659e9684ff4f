// Which list.txt is used: one beside the program wins; otherwise the user's own in their data
// folder, started from the example list once. Nothing a user wrote is ever replaced, and a list
// that cannot be created is explained without touching any file.
#include "app/frmmain.h"
#include "app/listlocation.h"
#include "platform/appinfo.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/toolbar.h"
#include "resources/examplelist.h"
#include "tests/app/windowharness.h"
#include "tests/support/smalldisk.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The main window with the user's data folder set, and fakes for everything it reports.
struct Window : WindowHarness
{
    Window(const QString& programFolder, const QString& dataFolder) : WindowHarness(WithoutList{})
    {
        MainServices s = services();
        s.app.Path = programFolder;
        s.listFolder = dataFolder;
        s.tray = nullptr;
        open(s);
    }
};

} // namespace

class tst_ListLocation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void exampleIsTheShippedOne();
    void listBesideTheProgramWins_data();
    void listBesideTheProgramWins();
    void userListIsCreatedOnceFromTheExample();
    void userListIsNeverReplaced_data();
    void userListIsNeverReplaced();
    void folderThatCannotHoldTheListChangesNothing_data();
    void folderThatCannotHoldTheListChangesNothing();
    void fullDiskLeavesNoPartialList();
    void withoutADataFolderTheProgramFolderIsTheOnlyPlace();

    void windowTellsWhereANewListIs();
    void windowExplainsAListThatCannotBeCreatedAndRecoversOnReload();
    void windowUsesTheResolvedListForChanges();
    void openListFolderShowsTheFolderInUse();
    void outageLogGoesBesideTheListInUse_data();
    void outageLogGoesBesideTheListInUse();

    void wavesComeFromBesideTheProgramElseTheDataFolder();
};

void tst_ListLocation::exampleIsTheShippedOne()
{
    const QByteArray example = examplelist::bytes();
    QCOMPARE(example, readBytes(QStringLiteral(TIVANE_SOURCE_DIR "/resources/list.example.txt")));
    // Only loopback hosts: a new user's first sweep must not reach into anyone's network.
    for (const QByteArray& line : example.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QVERIFY2(line.trimmed().split('|').value(2).startsWith("127."), line.constData());
    }
}

void tst_ListLocation::listBesideTheProgramWins_data()
{
    QTest::addColumn<bool>("symlink");
    QTest::newRow("file") << false;
    // A link whose target is gone is still the user's choice of list, not a reason to switch.
    QTest::newRow("dangling link") << true;
}

void tst_ListLocation::listBesideTheProgramWins()
{
    QFETCH(bool, symlink);
    QTemporaryDir program, data;
    const QString beside = program.filePath(QStringLiteral("list.txt"));
    if (symlink)
        QVERIFY(QFile::link(program.filePath(QStringLiteral("gone.txt")), beside));
    else
        writeBytes(beside, "1|mine|127.0.0.9\n");
    writeBytes(data.filePath(QStringLiteral("list.txt")), "2|user|127.0.0.8\n");

    const ListLocation where = locateHostList(program.path(), data.path(), examplelist::bytes());
    QCOMPARE(where.path, beside);
    QCOMPARE(where.origin, ListLocation::BesideProgram);
    QCOMPARE(readBytes(data.filePath(QStringLiteral("list.txt"))), QByteArray("2|user|127.0.0.8\n"));
    QCOMPARE(entries(program.path()).size(), 1);
}

void tst_ListLocation::userListIsCreatedOnceFromTheExample()
{
    QTemporaryDir program, data;
    // Folders that do not exist yet, as on a first start in a fresh home.
    const QString folder = data.filePath(QStringLiteral("share/Tivane"));
    const QString list = folder + QStringLiteral("/list.txt");
    const mode_t mask = ::umask(022);

    const ListLocation first = locateHostList(program.path(), folder, examplelist::bytes());
    QCOMPARE(first.origin, ListLocation::CreatedFromExample);
    QCOMPARE(first.path, list);
    QVERIFY(first.problem.isEmpty());
    QCOMPARE(readBytes(list), examplelist::bytes());
    QCOMPARE(entries(folder), QStringList{QStringLiteral("list.txt")});
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(list).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0644));
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    ::umask(mask);
    QVERIFY(entries(program.path()).isEmpty());

    writeBytes(list, "1|edited by the user|127.0.0.5\n");
    const ListLocation second = locateHostList(program.path(), folder, examplelist::bytes());
    QCOMPARE(second.origin, ListLocation::UserFolder);
    QCOMPARE(second.path, list);
    QCOMPARE(readBytes(list), QByteArray("1|edited by the user|127.0.0.5\n"));
}

void tst_ListLocation::userListIsNeverReplaced_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("symlink");
    QTest::newRow("empty list") << QByteArray() << false;
    QTest::newRow("list with entries") << QByteArray("3|x|127.0.0.4\r\n") << false;
    QTest::newRow("dangling link") << QByteArray() << true;
}

void tst_ListLocation::userListIsNeverReplaced()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, symlink);
    QTemporaryDir program, data;
    const QString list = data.filePath(QStringLiteral("list.txt"));
    if (symlink)
        QVERIFY(QFile::link(data.filePath(QStringLiteral("elsewhere.txt")), list));
    else
        writeBytes(list, content);
    const ListLocation where = locateHostList(program.path(), data.path(), examplelist::bytes());
    QCOMPARE(where.origin, ListLocation::UserFolder);
    QCOMPARE(where.path, list);
    if (symlink) {
        QVERIFY(QFileInfo(list).isSymLink());
        QVERIFY(!QFile::exists(data.filePath(QStringLiteral("elsewhere.txt"))));
    } else {
        QCOMPARE(readBytes(list), content);
    }
}

void tst_ListLocation::folderThatCannotHoldTheListChangesNothing_data()
{
    QTest::addColumn<QString>("blocker"); // what stands in the way, relative to a temporary folder
    QTest::addColumn<QString>("folder");  // the data folder asked for, likewise
    QTest::newRow("file in the folder's place") << QStringLiteral("Tivane") << QStringLiteral("Tivane");
    QTest::newRow("file in a parent's place") << QStringLiteral("share") << QStringLiteral("share/Tivane");
    QTest::newRow("folder that cannot be written") << QString() << QStringLiteral("locked/Tivane");
}

void tst_ListLocation::folderThatCannotHoldTheListChangesNothing()
{
    QFETCH(QString, blocker);
    QFETCH(QString, folder);
    QTemporaryDir program, data;
    if (!blocker.isEmpty())
        writeBytes(data.filePath(blocker), "not a folder");
    QString target = data.filePath(folder);
    if (blocker.isEmpty()) {
        if (::geteuid() == 0) {
            // Root writes through permission bits; a folder of the kernel's own refuses it too.
            target = QStringLiteral("/proc/self/Tivane");
        } else {
            QVERIFY(QDir().mkpath(data.filePath(QStringLiteral("locked"))));
            QVERIFY(QFile::setPermissions(data.filePath(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner));
        }
    }
    const QStringList before = entries(data.path());

    const ListLocation where = locateHostList(program.path(), target, examplelist::bytes());
    QCOMPARE(where.origin, ListLocation::Unavailable);
    QCOMPARE(where.path, QDir::cleanPath(target) + QStringLiteral("/list.txt"));
    // Clear: what failed, where, and why.
    QVERIFY2(where.problem.contains(target), qPrintable(where.problem));
    QVERIFY2(where.problem.contains(u'(') && where.problem.endsWith(QStringLiteral(").")), qPrintable(where.problem));
    QCOMPARE(entries(data.path()), before);
    if (!blocker.isEmpty())
        QCOMPARE(readBytes(data.filePath(blocker)), QByteArray("not a folder"));
    QVERIFY(entries(program.path()).isEmpty());
    QFile::setPermissions(data.filePath(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void tst_ListLocation::fullDiskLeavesNoPartialList()
{
    SmallDisk disk(64);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    QVERIFY(QDir().mkpath(disk.filePath(QStringLiteral("Tivane"))));
    QVERIFY(disk.fill());
    QTemporaryDir program;
    const QByteArray big(16 * 1024, 'x'); // more than any block tmpfs can still find
    const ListLocation where = locateHostList(program.path(), disk.filePath(QStringLiteral("Tivane")), big);
    QCOMPARE(where.origin, ListLocation::Unavailable);
    QVERIFY2(where.problem.contains(QStringLiteral("list.txt")), qPrintable(where.problem));
    QVERIFY(entries(disk.filePath(QStringLiteral("Tivane"))).isEmpty());

    // Room again: the next start creates it whole.
    QVERIFY(QFile::remove(disk.filePath(QStringLiteral(".ballast"))));
    const ListLocation later = locateHostList(program.path(), disk.filePath(QStringLiteral("Tivane")), big);
    QCOMPARE(later.origin, ListLocation::CreatedFromExample);
    QCOMPARE(readBytes(later.path), big);
}

void tst_ListLocation::withoutADataFolderTheProgramFolderIsTheOnlyPlace()
{
    QTemporaryDir program;
    const ListLocation where = locateHostList(program.path(), QString(), examplelist::bytes());
    QCOMPARE(where.origin, ListLocation::ProgramFolderOnly);
    QCOMPARE(where.path, program.filePath(QStringLiteral("list.txt")));
    QVERIFY(entries(program.path()).isEmpty());
}

void tst_ListLocation::windowTellsWhereANewListIs()
{
    QTemporaryDir program, data;
    const QString folder = data.filePath(QStringLiteral("Tivane"));
    {
        Window w(program.path(), folder);
        QVERIFY(w.window->Form_Load());
        QCOMPARE(w.window->listPath(), folder + QStringLiteral("/list.txt"));
        QCOMPARE(w.window->lstPings->count(), 3);
        // Said over the window once it is on the screen, not on an empty desktop before it.
        QVERIFY(w.messages.shown.isEmpty());
        bool windowShown = false;
        w.messages.onShow = [&](const RecordingMessageBox::Shown&) { windowShown = w.window->isVisible(); };
        w.window->showAtStart(false);
        QTRY_COMPARE(w.messages.shown.size(), 1);
        QVERIFY(windowShown);
        QVERIFY2(w.messages.shown.first().text.contains(folder + QStringLiteral("/list.txt")),
                 qPrintable(w.messages.shown.first().text));
        QCOMPARE(w.messages.shown.first().style, int(platform::MsgInformation));
        w.window->Form_Unload();
    }
    {
        // The next start uses it quietly.
        Window w(program.path(), folder);
        QVERIFY(w.window->Form_Load());
        QCOMPARE(w.window->lstPings->count(), 3);
        QVERIFY(w.messages.shown.isEmpty());
        w.window->Form_Unload();
    }
}

void tst_ListLocation::windowExplainsAListThatCannotBeCreatedAndRecoversOnReload()
{
    QTemporaryDir program, data;
    const QString folder = data.filePath(QStringLiteral("Tivane"));
    writeBytes(folder, "in the way");
    Window w(program.path(), folder);
    QVERIFY(w.window->Form_Load());
    QCOMPARE(w.window->lstPings->count(), 0);
    QCOMPARE(w.messages.shown.size(), 1);
    const QString text = w.messages.shown.first().text;
    QVERIFY2(text.contains(folder) && text.contains(QStringLiteral("No file was changed")) &&
                 text.contains(program.path()),
             qPrintable(text));
    QCOMPARE(w.messages.shown.first().style, int(platform::MsgExclamation));
    QCOMPARE(readBytes(folder), QByteArray("in the way"));
    QVERIFY(entries(program.path()).isEmpty());

    // The user clears the way and reloads: the list is created then, and said so.
    QVERIFY(QFile::remove(folder));
    w.window->show();
    w.window->tblTivane->clickMenuItem(QStringLiteral("mnuReload"));
    QCOMPARE(w.window->lstPings->count(), 3);
    QCOMPARE(w.messages.shown.size(), 2);
    QVERIFY(w.messages.shown.last().text.contains(folder + QStringLiteral("/list.txt")));

    // A list dropped beside the program afterwards takes over at the next Reload.
    writeBytes(program.filePath(QStringLiteral("list.txt")), "1|portable|127.0.0.1\n");
    w.window->tblTivane->clickMenuItem(QStringLiteral("mnuReload"));
    QCOMPARE(w.window->lstPings->count(), 1);
    QCOMPARE(w.window->listPath(), program.filePath(QStringLiteral("list.txt")));
    w.window->Form_Unload();
}

void tst_ListLocation::windowUsesTheResolvedListForChanges()
{
    QTemporaryDir program, data;
    writeBytes(data.filePath(QStringLiteral("list.txt")), "1|a|127.0.0.1\n2|b|127.0.0.2\n");
    Window w(program.path(), data.path());
    QVERIFY(w.window->Form_Load());
    QCOMPARE(w.window->lstPings->count(), 2);
    w.window->lstPings->select(1);
    w.messages.queueAnswer(platform::MsgResultYes);
    w.window->mnuDelete_Click();
    QCOMPARE(readBytes(data.filePath(QStringLiteral("list.txt"))), QByteArray("2|b|127.0.0.2\n"));
    QVERIFY(entries(program.path()).isEmpty());
    w.window->Form_Unload();
}

void tst_ListLocation::outageLogGoesBesideTheListInUse_data()
{
    QTest::addColumn<bool>("portable");
    QTest::newRow("list beside the program") << true;
    QTest::newRow("the user's own list") << false;
}

void tst_ListLocation::outageLogGoesBesideTheListInUse()
{
    QFETCH(bool, portable);
    QTemporaryDir program, data;
    const QDir inUse(portable ? program.path() : data.path());
    const QDir other(portable ? data.path() : program.path());
    writeBytes(inUse.filePath(QStringLiteral("list.txt")), "1|a|127.0.0.1\n");
    Window w(program.path(), data.path());
    w.settings->write(QStringLiteral("Alerts"), QStringLiteral("OutageLog"), QStringLiteral("True"));
    w.settings->write(QStringLiteral("Alerts"), QStringLiteral("DownAfter"), QStringLiteral("1"));
    QVERIFY(w.settings->sync());
    QVERIFY(w.window->Form_Load());
    QCOMPARE(w.window->outageLogPath(), inUse.filePath(QStringLiteral("outages.csv")));
    w.prober.set(QStringLiteral("127.0.0.1"), 11010);
    w.window->PingList();
    QTRY_VERIFY(w.window->sweep().isIdle());
    QVERIFY(readBytes(inUse.filePath(QStringLiteral("outages.csv"))).contains(",a,127.0.0.1,down,"));
    QVERIFY(!other.exists(QStringLiteral("outages.csv")));
    w.window->Form_Unload();
}

void tst_ListLocation::openListFolderShowsTheFolderInUse()
{
    QTemporaryDir program, data;
    writeBytes(data.filePath(QStringLiteral("list.txt")), "1|a|127.0.0.1\n");
    Window w(program.path(), data.path());
    QVERIFY(w.window->Form_Load());
    w.window->tblTivane->clickMenuItem(QStringLiteral("mnuOpenList"));
    QCOMPARE(w.dialogs.opened, QStringList{data.path()});
    QVERIFY(w.messages.shown.isEmpty());

    // No file manager: the path itself is the answer.
    w.dialogs.openWorks = false;
    w.window->tblTivane->clickMenuItem(QStringLiteral("mnuOpenList"));
    QCOMPARE(w.messages.shown.size(), 1);
    QVERIFY(w.messages.shown.first().text.contains(data.filePath(QStringLiteral("list.txt"))));
    w.window->Form_Unload();
}

void tst_ListLocation::wavesComeFromBesideTheProgramElseTheDataFolder()
{
    QTemporaryDir program, data;
    platform::AppInfo app;
    app.Path = program.path();
    app.DataPath = data.path();
    const QString beside = program.filePath(QStringLiteral("Notify.wav"));
    const QString installed = data.filePath(QStringLiteral("Notify.wav"));
    // Neither: the place beside the program, so a failure names the usual place.
    QCOMPARE(app.file(QStringLiteral("Notify.wav")), beside);
    writeBytes(installed, "RIFF");
    QCOMPARE(app.file(QStringLiteral("Notify.wav")), installed);
    writeBytes(beside, "RIFF");
    QCOMPARE(app.file(QStringLiteral("Notify.wav")), beside);
    app.DataPath.clear();
    QVERIFY(QFile::remove(beside));
    QCOMPARE(app.file(QStringLiteral("Notify.wav")), beside);
}

QTEST_MAIN(tst_ListLocation)
#include "tst_listlocation.moc"
