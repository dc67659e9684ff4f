#include "shell/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// Every test runs with a runtime folder and a temp folder of its own (XDG_RUNTIME_DIR and TMPDIR
// point into a fresh temporary folder), so it never touches the real ones and the names below are
// the program's real default names. The second copies that matter run as separate processes: this
// program started again with "--child".

namespace {

QString uid()
{
    return QString::number(::geteuid());
}

// The socket name the program used to listen on, shared by every user of the temp folder.
QString oldSharedSocket()
{
    return QDir::tempPath() + QStringLiteral("/tivane-") + uid();
}

// The lock the program used to take when there was no runtime folder, shared by every user.
QString oldSharedLock()
{
    return QDir::tempPath() + QStringLiteral("/tivane.lock");
}

// Where the program now keeps lock and socket when the runtime folder cannot be used.
QString fallbackFolder()
{
    return QDir::tempPath() + QStringLiteral("/tivane-runtime-") + uid();
}

bool makeFolder(const QString& path, mode_t mode)
{
    const QByteArray encoded = QFile::encodeName(path);
    return ::mkdir(encoded.constData(), 0700) == 0 && ::chmod(encoded.constData(), mode) == 0;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// This program started again as another copy of Tivane, in the given environment.
class Child
{
public:
    Child(const QString& mode, const QProcessEnvironment& environment)
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode});
    }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // Waits for the child to print the line (without running this process's event loop).
    bool waitForLine(const QByteArray& line)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            while (m_process.canReadLine()) {
                if (m_process.readLine().trimmed() == line)
                    return true;
            }
            if (m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
        }
        return false;
    }
    // Waits for the end while this process's event loop runs, so that a copy of ours living here
    // can answer the child. -1 for a crash or a timeout.
    int exitCode()
    {
        QElapsedTimer timer;
        timer.start();
        while (m_process.state() != QProcess::NotRunning && timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            m_process.waitForFinished(10);
        }
        if (m_process.state() != QProcess::NotRunning || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
};

// Exit codes of "--child second".
enum
{
    NotifiedTheRunningCopy = 0,
    FoundNoRunningCopy = 3
};

// A copy started in this process finds the running one, whose window is then asked up once.
void aNewCopyFindsIt(const QSignalSpy& shown)
{
    SingleInstance next;
    QVERIFY(next.PrevInstance());
    QVERIFY(next.notifyRunning());
    QTRY_COMPARE(shown.size(), 1);
}

// A second start of the program, as a process of its own, finds the running copy and asks it up.
void aSecondStartFindsIt(const QSignalSpy& shown,
                         const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    Child second(QStringLiteral("second"), environment);
    QCOMPARE(second.exitCode(), int(NotifiedTheRunningCopy));
    QTRY_COMPARE(shown.size(), 1);
}

// The copy of the program a second start is: finds the running copy and asks it to show itself,
// or, with "run", starts and ends at once; "hold" keeps the lock until killed; "sleep" is a live
// process of this program that holds nothing.
int childMain(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argv[2];
    if (mode == "sleep") {
        std::puts("up");
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    SingleInstance instance;
    if (mode == "second") {
        if (!instance.PrevInstance())
            return FoundNoRunningCopy;
        return instance.notifyRunning(5000) ? NotifiedTheRunningCopy : 2;
    }
    if (mode == "run")
        return instance.PrevInstance() ? 1 : 0;
    if (mode == "hold") {
        if (instance.PrevInstance())
            return 1;
        std::puts("held");
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    return 99;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_base;
    QString m_runtime;
    QString m_temp;
    QByteArray m_savedRuntime;
    QByteArray m_savedTemp;
    bool m_hadRuntime = false;
    bool m_hadTemp = false;

    QString folder(const QString& name) const { return m_base->filePath(name); }

    // The environment of this process with some variables replaced (an empty value removes one).
    static QProcessEnvironment environmentWith(const QList<std::pair<QString, QString>>& changes)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [key, value] : changes) {
            if (value.isEmpty())
                environment.remove(key);
            else
                environment.insert(key, value);
        }
        return environment;
    }

    // No runtime folder at all: XDG_RUNTIME_DIR unset and Qt's own substitute under the temp
    // folder taken by somebody else, as when another user made it first.
    bool withoutRuntimeFolder()
    {
        qunsetenv("XDG_RUNTIME_DIR");
        const passwd* user = ::getpwuid(::geteuid());
        if (!user || !makeFolder(m_temp + QStringLiteral("/runtime-") + QString::fromLocal8Bit(user->pw_name), 0777))
            return false;
        return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).isEmpty();
    }

private Q_SLOTS:
    void init()
    {
        m_hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        m_hadTemp = qEnvironmentVariableIsSet("TMPDIR");
        m_savedTemp = qgetenv("TMPDIR");
        m_base = std::make_unique<QTemporaryDir>();
        QVERIFY(m_base->isValid());
        m_runtime = folder(QStringLiteral("run"));
        m_temp = folder(QStringLiteral("tmp"));
        QVERIFY(makeFolder(m_runtime, 0700));
        QVERIFY(makeFolder(m_temp, 01777));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
        qputenv("TMPDIR", QFile::encodeName(m_temp));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), m_runtime);
    }

    void cleanup()
    {
        if (m_hadRuntime)
            qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
        if (m_hadTemp)
            qputenv("TMPDIR", m_savedTemp);
        else
            qunsetenv("TMPDIR");
        m_base.reset();
    }

    // Fault: the lock lived in the runtime folder but the socket in the temp folder, so a second
    // start with another TMPDIR (a terminal of its own, a launcher) found the lock but not the
    // socket, and the window hidden in the tray was never shown.
    void secondCopyInAnotherProcessIsNotified_data()
    {
        QTest::addColumn<bool>("otherTemp");
        QTest::newRow("same environment") << false;
        QTest::newRow("other temp folder") << true;
    }
    void secondCopyInAnotherProcessIsNotified()
    {
        QFETCH(bool, otherTemp);
        const QString otherTempFolder = folder(QStringLiteral("othertmp"));
        QVERIFY(makeFolder(otherTempFolder, 01777));

        SingleInstance first;
        QVERIFY(!first.PrevInstance());
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        aSecondStartFindsIt(shown, environmentWith({{QStringLiteral("TMPDIR"), otherTemp ? otherTempFolder : m_temp}}));
    }

    // Fault: the socket had a predictable name in the shared temp folder. Another user's socket
    // under it (which the victim cannot remove from a sticky /tmp; here it is put there once the
    // first copy runs, the same state) got the victim's requests, and the victim's exit removed it.
    void plantedSocketUnderOldNameIsNotUsed()
    {
        auto first = std::make_unique<SingleInstance>();
        QVERIFY(!first->PrevInstance());
        QSignalSpy shown(first.get(), &SingleInstance::showRequested);

        QFile::remove(oldSharedSocket());
        QLocalServer squatter;
        QVERIFY2(squatter.listen(oldSharedSocket()), qPrintable(squatter.errorString()));
        int squatterCalls = 0;
        connect(&squatter, &QLocalServer::newConnection, this, [&squatterCalls] { ++squatterCalls; });

        SingleInstance second;
        QVERIFY(second.PrevInstance());
        QVERIFY(second.notifyRunning());
        QTRY_COMPARE(shown.size(), 1);
        QTest::qWait(100);
        QCOMPARE(squatterCalls, 0);
        QVERIFY(!second.serverName().startsWith(QDir::tempPath() + u'/'));

        first.reset();
        QVERIFY2(QFileInfo(oldSharedSocket()).exists(), "the exit removed a socket that was not this copy's");
    }

    // Fault: a copy started with another runtime folder ran beside the first and on exit deleted the
    // first copy's socket, so a window hidden in the tray could no longer be brought back. A copy
    // that lost the lock must leave the socket alone as well.
    void exitOfAnotherCopyLeavesTheSocket_data()
    {
        QTest::addColumn<bool>("otherRuntime");
        QTest::addColumn<int>("childExit");
        QTest::newRow("same runtime folder, lock lost") << false << 1;
        QTest::newRow("other runtime folder") << true << 0;
    }
    void exitOfAnotherCopyLeavesTheSocket()
    {
        QFETCH(bool, otherRuntime);
        QFETCH(int, childExit);
        const QString otherRuntimeFolder = folder(QStringLiteral("otherrun"));
        QVERIFY(makeFolder(otherRuntimeFolder, 0700));

        SingleInstance first;
        QVERIFY(!first.PrevInstance());
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        const QString socket = first.serverName();
        QVERIFY(QFileInfo(socket).exists());

        Child other(QStringLiteral("run"), environmentWith({{QStringLiteral("XDG_RUNTIME_DIR"),
                                                             otherRuntime ? otherRuntimeFolder : m_runtime}}));
        QCOMPARE(other.exitCode(), childExit);

        QVERIFY2(QFileInfo(socket).exists(), "the other copy removed the first copy's socket");
        aNewCopyFindsIt(shown);
    }

    // Fault: exit removed the socket and the lock by name. When the folder was emptied under a
    // running copy (the runtime folder is cleared at logout) and the next copy had started, the old
    // copy's exit removed the new copy's socket and lock.
    void exitLeavesTheNextCopysFilesAlone()
    {
        auto old = std::make_unique<SingleInstance>();
        QVERIFY(!old->PrevInstance());
        QFile::remove(old->lockPath());
        QFile::remove(old->serverName());

        SingleInstance next;
        QVERIFY(!next.PrevInstance());
        QSignalSpy shown(&next, &SingleInstance::showRequested);
        old.reset();

        QVERIFY2(QFileInfo(next.lockPath()).exists(), "the old copy removed the new copy's lock");
        QVERIFY2(QFileInfo(next.serverName()).exists(), "the old copy removed the new copy's socket");
        aNewCopyFindsIt(shown);
    }

    // Fault: a running copy whose lock file somebody removed was taken for dead; the next start
    // removed its socket and ran beside it.
    void copyThatLostItsLockFileIsStillFound()
    {
        SingleInstance first;
        QVERIFY(!first.PrevInstance());
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        QVERIFY(QFile::remove(first.lockPath()));

        aSecondStartFindsIt(shown);
        QVERIFY(QFileInfo(first.serverName()).exists());
    }

    // Fault: without a runtime folder the lock was the shared <tmp>/tivane.lock and the socket
    // <tmp>/tivane-<uid>, names any local user could take first. Now both live in a 0700 folder
    // of the user's own under the temp folder.
    void fallbackFolderIsPrivate()
    {
        QVERIFY(withoutRuntimeFolder());
        SingleInstance first;
        QVERIFY(!first.PrevInstance());
        QSignalSpy shown(&first, &SingleInstance::showRequested);

        QCOMPARE(QFileInfo(first.lockPath()).absolutePath(), fallbackFolder());
        QCOMPARE(QFileInfo(first.serverName()).absolutePath(), fallbackFolder());
        struct stat st = {};
        QCOMPARE(::lstat(QFile::encodeName(fallbackFolder()).constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_uid, ::geteuid());
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QVERIFY(!QFileInfo::exists(oldSharedLock()));
        QVERIFY(!QFileInfo::exists(oldSharedSocket()));

        aSecondStartFindsIt(shown);
    }

    // Fault: another user's lock planted at the shared <tmp>/tivane.lock, naming a live process of
    // the program, made the victim refuse to start.
    void plantedSharedLockDoesNotBlock()
    {
        QVERIFY(withoutRuntimeFolder());
        Child planter(QStringLiteral("sleep"), QProcessEnvironment::systemEnvironment());
        QVERIFY(planter.waitForLine("up"));

        QByteArray content;
        {
            QLockFile model(folder(QStringLiteral("model.lock")));
            QVERIFY(model.tryLock(0));
            QFile f(folder(QStringLiteral("model.lock")));
            QVERIFY(f.open(QIODevice::ReadOnly));
            content = f.readAll();
        }
        content.replace(0, content.indexOf('\n'), QByteArray::number(planter.pid()));
        QFile planted(oldSharedLock());
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write(content);
        planted.close();

        SingleInstance victim;
        QVERIFY2(!victim.PrevInstance(), "a lock planted by somebody else stopped the start");
        QFile check(oldSharedLock());
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), content);
    }

    // Fault: the fallback place was used whoever owned it and whatever its mode, so another user
    // could put a lock or socket where the victim looks. A folder that is not the user's own and
    // private is refused: the copy runs without the check and says so, and puts nothing there or
    // under any shared name.
    void unsafeFallbackFolderIsRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("group-writable") << QStringLiteral("group");
        QTest::newRow("world-writable") << QStringLiteral("world");
        QTest::newRow("owned by nobody (root only)") << QStringLiteral("foreign");
        QTest::newRow("symbolic link to a private folder") << QStringLiteral("link");
        QTest::newRow("a file") << QStringLiteral("file");
        QTest::newRow("temp folder writable by all, not sticky") << QStringLiteral("loose parent");
    }
    void unsafeFallbackFolderIsRefused()
    {
        QFETCH(QString, kind);
        if (kind == QStringLiteral("foreign") && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QVERIFY(withoutRuntimeFolder());
        const QString target = folder(QStringLiteral("target"));
        QVERIFY(makeFolder(target, 0700));
        const QByteArray fallback = QFile::encodeName(fallbackFolder());
        if (kind == QStringLiteral("group")) {
            QVERIFY(makeFolder(fallbackFolder(), 0770));
        } else if (kind == QStringLiteral("world")) {
            QVERIFY(makeFolder(fallbackFolder(), 0777));
        } else if (kind == QStringLiteral("foreign")) {
            QVERIFY(makeFolder(fallbackFolder(), 0700));
            QCOMPARE(::chown(fallback.constData(), 65534, 65534), 0);
        } else if (kind == QStringLiteral("link")) {
            QVERIFY(QFile::link(target, fallbackFolder()));
        } else if (kind == QStringLiteral("file")) {
            QFile file(fallbackFolder());
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QCOMPARE(::chmod(QFile::encodeName(m_temp).constData(), 0777), 0);
        }
        const QStringList tempBefore = entries(m_temp);

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Running without the single-copy check")));
        SingleInstance first;
        QVERIFY(!first.PrevInstance());
        QVERIFY(first.lockPath().isEmpty() && first.serverName().isEmpty());

        if (kind != QStringLiteral("file"))
            QCOMPARE(entries(fallbackFolder()), QStringList());
        QCOMPARE(entries(target), QStringList());
        QStringList tempAfter = entries(m_temp);
        if (kind == QStringLiteral("loose parent"))
            tempAfter.removeOne(QFileInfo(fallbackFolder()).fileName()); // made, examined, left empty
        QCOMPARE(tempAfter, tempBefore);
        QVERIFY(!QFileInfo::exists(oldSharedLock()));
    }

    // Fault: a lock whose process id had since gone to another running process of the program
    // (the fallback lock outlives a reboot on a disk-backed /tmp) was taken as held, and Tivane
    // refused to start until that process ended. A killed holder's lock is taken over too.
    void staleLockIsTakenOver_data()
    {
        QTest::addColumn<bool>("pidReused");
        QTest::newRow("holder killed") << false;
        QTest::newRow("process id reused by a running copy") << true;
    }
    void staleLockIsTakenOver()
    {
        QFETCH(bool, pidReused);
        const QString lock = m_runtime + QStringLiteral("/tivane.lock");
        std::unique_ptr<Child> reuser;
        if (pidReused) {
            QByteArray content;
            {
                QLockFile model(folder(QStringLiteral("model.lock")));
                QVERIFY(model.tryLock(0));
                QFile f(folder(QStringLiteral("model.lock")));
                QVERIFY(f.open(QIODevice::ReadOnly));
                content = f.readAll();
            }
            reuser = std::make_unique<Child>(QStringLiteral("sleep"), QProcessEnvironment::systemEnvironment());
            QVERIFY(reuser->waitForLine("up"));
            content.replace(0, content.indexOf('\n'), QByteArray::number(reuser->pid()));
            QFile f(lock);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        } else {
            Child holder(QStringLiteral("hold"), QProcessEnvironment::systemEnvironment());
            QVERIFY(holder.waitForLine("held"));
            holder.kill();
        }
        QVERIFY(QFileInfo::exists(lock));

        SingleInstance next;
        QVERIFY2(!next.PrevInstance(), "the lock of a dead copy stopped the start");
        QSignalSpy shown(&next, &SingleInstance::showRequested);
        aNewCopyFindsIt(shown);
    }

    void secondCopyInThisProcessFindsTheFirst()
    {
        {
            SingleInstance first;
            QVERIFY(!first.PrevInstance());
            QVERIFY(QFile::exists(first.lockPath()));
            SingleInstance second;
            QVERIFY(second.PrevInstance());
            QSignalSpy shown(&first, &SingleInstance::showRequested);
            QVERIFY(second.notifyRunning());
            QTRY_COMPARE(shown.size(), 1);
        }
        SingleInstance next;
        QVERIFY(!next.PrevInstance());
    }

    void notifyWithoutRunningCopyFails()
    {
        SingleInstance lonely;
        QVERIFY(!lonely.notifyRunning(200));
    }

    void strayClientsAreIgnored()
    {
        SingleInstance running;
        QVERIFY(!running.PrevInstance());
        QSignalSpy shown(&running, &SingleInstance::showRequested);

        QLocalSocket stranger;
        stranger.connectToServer(running.serverName());
        QVERIFY(stranger.waitForConnected(1000));
        stranger.write("hello there");
        QVERIFY(stranger.waitForBytesWritten(1000) || stranger.bytesToWrite() == 0);

        // A real request after the stray one still gets through.
        QVERIFY(SingleInstance().notifyRunning());
        QTRY_COMPARE(shown.size(), 1);
        QTest::qWait(100);
        QCOMPARE(shown.size(), 1);
    }
};

int main(int argc, char* argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
