// list.txt under faults: a full disk, another process changing it at the same time, another
// owner, a write-only list, a FIFO or a huge file in its place, too little memory. Each test
// names the fault it catches; the second process is hostlist_helper.

#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "platform/reportlist.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using hostlist::HostListError;

namespace {

const QString NoSpace = QStringLiteral("No space left on device");

// Lines "1|seed<i>|10.0.<i/256>.<i%256>" CR LF, numbered from 0.
QByteArray seedLines(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "1|seed" + QByteArray::number(i) + "|10.0." + QByteArray::number(i / 256) + '.' +
               QByteArray::number(i % 256) + "\r\n";
    return out;
}

// A valid list of exactly size bytes (at least 16), ending in CR LF.
QByteArray listOfSize(int size)
{
    QByteArray out;
    for (int i = 0; out.size() + 40 < size; ++i)
        out += "1|h" + QByteArray::number(i) + "|10.0." + QByteArray::number(i / 256 % 256) + '.' +
               QByteArray::number(i % 256) + "\r\n";
    QByteArray last = "2|pad";
    while (out.size() + last.size() + 12 < size)
        last += 'x';
    last += "|10.1.1.1";
    while (out.size() + last.size() + 2 < size)
        last += '1';
    return out + last + "\r\n";
}

// The message of the HostListError work throws, or "(no error)".
template <typename Work> QString errorOf(Work&& work)
{
    try {
        work();
    } catch (const HostListError& e) {
        return e.message();
    }
    return QStringLiteral("(no error)");
}

// Loads the list at path and removes its entry number index (1-based); the message of the
// HostListError, or "(no error)".
QString removeEntry(const QString& path, int index)
{
    return errorOf([&] {
        hostlist::HostListFile file(path);
        const hostlist::LoadedHostList loaded = file.load();
        if (index < 1 || index > loaded.entries.size())
            throw HostListError(QStringLiteral("no entry %1 in the list").arg(index), path);
        file.remove(loaded.entries.at(index - 1).key);
    });
}

struct HelperResult
{
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

// Runs hostlist_helper with args and waits at most ms; kills it when it takes longer.
HelperResult runHelper(const QStringList& args, int ms)
{
    QProcess p;
    p.start(QStringLiteral(HOSTLIST_HELPER), args);
    HelperResult r;
    if (!p.waitForStarted(5000))
        return r;
    r.finished = p.waitForFinished(ms);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.exitCode = p.exitCode();
    r.status = p.exitStatus();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString describe(const HelperResult& r)
{
    return QStringLiteral("finished %1, exit %2 (%3), stdout: %4 stderr: %5")
        .arg(r.finished)
        .arg(r.exitCode)
        .arg(r.status == QProcess::NormalExit ? QStringLiteral("normal") : QStringLiteral("crash"), r.out, r.err);
}

// A tmpfs of a few pages mounted on a private temporary folder, which can be filled up.
class SmallDisk
{
public:
    // Empty when it is mounted; otherwise why not.
    QString mount(int bytes)
    {
        if (::geteuid() != 0)
            return QStringLiteral("mounting a tmpfs to fill it up needs root");
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        if (::mount("tivane-test", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.constData()) != 0)
            return QStringLiteral("cannot mount a tmpfs here (%1)").arg(qt_error_string(errno));
        m_mounted = true;
        return {};
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QStringList files() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    // Takes every free byte with a file of its own; true when the disk is then full.
    bool fill()
    {
        const int fd =
            ::open(QFile::encodeName(path(QStringLiteral("filler"))).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const QByteArray page(4096, 'f');
        while (::write(fd, page.constData(), page.size()) > 0) {
        }
        while (::write(fd, page.constData(), 1) > 0) {
        }
        const bool full = errno == ENOSPC;
        ::close(fd);
        struct statvfs vfs;
        return full && ::statvfs(QFile::encodeName(m_dir.path()).constData(), &vfs) == 0 && vfs.f_bavail == 0;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace

class TestHostListSafety : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void removeOnFullDiskKeepsTheFileAndSaysWhy();
    void appendOnFullDiskLeavesNoCutOffLine();
    void concurrentAppendsSurviveRemoves();
    void appendWaitingForTheLockGoesToTheReplacement();
    void lockHeldTooLongGivesUpWithAMessage();
    void removeKeepsOwnerGroupAndMode();
    void removeFollowsASymbolicLink();
    void removeLeavesHardLinksWithTheOldBytes();
    void appendThroughADanglingLinkCreatesItsTarget();
    void appendToWriteOnlyList_data();
    void appendToWriteOnlyList();
    void fifoIsRefusedWithoutHanging_data();
    void fifoIsRefusedWithoutHanging();
    void hugeFileIsRefusedUnread_data();
    void hugeFileIsRefusedUnread();
    void outOfMemoryIsAHostListError();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestHostListSafety::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("list.txt"));
}

// Fault: Qt 6.4's QSaveFile::commit() ignored the failed flush at close and renamed a cut-off
// copy over list.txt, reporting success (a 182-entry list became 0 bytes).
void TestHostListSafety::removeOnFullDiskKeepsTheFileAndSaysWhy()
{
    SmallDisk disk;
    if (const QString why = disk.mount(64 * 1024); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QString path = disk.path(QStringLiteral("list.txt"));
    const QByteArray before = seedLines(300); // about 7 KiB, two pages of the disk
    writeBytes(path, before);
    QVERIFY(disk.fill());

    platform::ReportList list;
    hostlist::HostListFile listFile(path);
    hostlist::LoadList(list, listFile);
    QCOMPARE(list.count(), 300);
    const QString message = errorOf([&] { listFile.remove(list.items()->row(1).key); });
    QVERIFY2(message.contains(NoSpace), qPrintable(message));
    QVERIFY2(message.contains(path), qPrintable(message));
    QCOMPARE(readBytes(path), before);
    // The copy that could not be written is gone too.
    QCOMPARE(disk.files(), (QStringList{QStringLiteral("filler"), QStringLiteral("list.txt")}));
}

// Fault: a failed Append left a partial line ("3|New host|192.168.1") that the next load read as an
// entry with a wrong address, and reported "Unknown error".
void TestHostListSafety::appendOnFullDiskLeavesNoCutOffLine()
{
    SmallDisk disk;
    if (const QString why = disk.mount(64 * 1024); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QString path = disk.path(QStringLiteral("list.txt"));
    // Ten bytes short of a page: the new line starts in the last page and runs out of room.
    const QByteArray before = listOfSize(4096 - 10);
    QCOMPARE(before.size(), 4086);
    writeBytes(path, before);
    QVERIFY(disk.fill());

    const QString message = errorOf(
        [&] { hostlist::AppendHostEntry(path, 3, QStringLiteral("New host"), QStringLiteral("192.168.1.77")); });
    QVERIFY2(message.contains(NoSpace), qPrintable(message));
    QVERIFY2(message.contains(path), qPrintable(message));
    QCOMPARE(readBytes(path), before);
}

// Fault: Remove read the file, then replaced it; a line another process appended in between went
// with the old file (1,000 appends against 500 removes left 460). Both sides said they succeeded.
void TestHostListSafety::concurrentAppendsSurviveRemoves()
{
    constexpr int Appends = 1000;
    constexpr int Removes = 500;
    writeBytes(m_path, seedLines(Removes));

    QProcess appender;
    QProcess remover;
    appender.start(QStringLiteral(HOSTLIST_HELPER), {QStringLiteral("append-many"), m_path, QString::number(Appends)});
    remover.start(QStringLiteral(HOSTLIST_HELPER), {QStringLiteral("remove-seeds"), m_path, QString::number(Removes)});
    const auto stop = qScopeGuard([&] {
        appender.kill();
        remover.kill();
        appender.waitForFinished(5000);
        remover.waitForFinished(5000);
    });
    QVERIFY(appender.waitForStarted(5000));
    QVERIFY(remover.waitForStarted(5000));
    QVERIFY2(appender.waitForFinished(150000), "the appends took longer than 150 s");
    QVERIFY2(remover.waitForFinished(150000), "the removes took longer than 150 s");
    const QByteArray appended = appender.readAllStandardOutput() + appender.readAllStandardError();
    const QByteArray removed = remover.readAllStandardOutput() + remover.readAllStandardError();
    QVERIFY2(appender.exitStatus() == QProcess::NormalExit && appender.exitCode() == 0, appended.constData());
    QVERIFY2(remover.exitStatus() == QProcess::NormalExit && remover.exitCode() == 0, removed.constData());

    // Every appended line exactly once, every seed gone, nothing else.
    const QList<QByteArray> lines = readBytes(m_path).split('\n');
    QVector<int> seen(Appends, 0);
    int seeds = 0;
    int other = 0;
    const QRegularExpression newLine(QStringLiteral("^3\\|new(\\d+)\\|10\\.9\\.\\d+\\.\\d+\\r$"));
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const QRegularExpressionMatch m = newLine.match(QString::fromUtf8(line));
        if (m.hasMatch() && m.captured(1).toInt() < Appends)
            ++seen[m.captured(1).toInt()];
        else if (line.startsWith("1|seed"))
            ++seeds;
        else
            ++other;
    }
    QStringList lost;
    QStringList doubled;
    for (int i = 0; i < Appends; ++i) {
        if (seen[i] == 0)
            lost << QString::number(i);
        else if (seen[i] > 1)
            doubled << QString::number(i);
    }
    QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("%1 appended entries lost: %2")
                                            .arg(lost.size())
                                            .arg(lost.mid(0, 20).join(QLatin1Char(' ')))));
    QVERIFY2(doubled.isEmpty(), qPrintable(doubled.join(QLatin1Char(' '))));
    QCOMPARE(seeds, 0);
    QCOMPARE(other, 0);
}

// Fault: an appender that had opened list.txt just before a Remove renamed a new file over it
// wrote into the old file, which nobody reads again. It must wait for the lock, see that the name
// now means another file, and append there.
void TestHostListSafety::appendWaitingForTheLockGoesToTheReplacement()
{
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(fd >= 0);
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    QCOMPARE(::flock(fd, LOCK_EX), 0);

    QProcess appender;
    appender.start(QStringLiteral(HOSTLIST_HELPER), {QStringLiteral("append"), m_path, QStringLiteral("3"),
                                                     QStringLiteral("new"), QStringLiteral("10.9.9.9")});
    QVERIFY(appender.waitForStarted(5000));
    QVERIFY2(!appender.waitForFinished(1500), "the append did not wait for the lock");
    QCOMPARE(readBytes(m_path), QByteArray("1|a|b\r\n2|c|d\r\n"));

    // What Remove does: a new file renamed over the old one, then the old one's lock let go.
    const QString temp = m_dir->filePath(QStringLiteral(".list.txt.new"));
    writeBytes(temp, "2|c|d\r\n");
    QCOMPARE(::rename(QFile::encodeName(temp).constData(), QFile::encodeName(m_path).constData()), 0);
    closeFd.dismiss();
    ::close(fd);

    QVERIFY(appender.waitForFinished(15000));
    QVERIFY2(appender.exitStatus() == QProcess::NormalExit && appender.exitCode() == 0,
             appender.readAllStandardOutput().constData());
    QCOMPARE(readBytes(m_path), QByteArray("2|c|d\r\n3|new|10.9.9.9\r\n"));
}

// Fault guarded against: a program that keeps the lock must not freeze the window for good; the
// wait ends with a message naming the file, and nothing is written.
void TestHostListSafety::lockHeldTooLongGivesUpWithAMessage()
{
    writeBytes(m_path, "1|a|b\r\n");
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    QCOMPARE(::flock(fd, LOCK_EX), 0);

    QElapsedTimer clock;
    clock.start();
    const QString message =
        errorOf([&] { hostlist::AppendHostEntry(m_path, 2, QStringLiteral("c"), QStringLiteral("d")); });
    QVERIFY2(message.contains(QStringLiteral("in use")), qPrintable(message));
    QVERIFY2(message.contains(m_path), qPrintable(message));
    QVERIFY(clock.elapsed() >= hostlist::LockedHostList::LockWaitMs - 100);
    QVERIFY(clock.elapsed() < hostlist::LockedHostList::LockWaitMs + 5000);
    QCOMPARE(readBytes(m_path), QByteArray("1|a|b\r\n"));
}

// Fault: a root run replaced list.txt with a root-owned file that its user could no longer write.
void TestHostListSafety::removeKeepsOwnerGroupAndMode()
{
    if (::geteuid() != 0)
        QSKIP("giving the list to another user needs root");
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    const QByteArray native = QFile::encodeName(m_path);
    QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    QCOMPARE(::chmod(native.constData(), 0640), 0);

    QCOMPARE(removeEntry(m_path, 1), QStringLiteral("(no error)"));
    QCOMPARE(readBytes(m_path), QByteArray("2|c|d\r\n"));
    struct stat st;
    QCOMPARE(::stat(native.constData(), &st), 0);
    QCOMPARE(st.st_uid, uid_t(65534));
    QCOMPARE(st.st_gid, gid_t(65534));
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
}

// Guards the replacement: a list.txt that is a symbolic link stays one; the file it names changes.
void TestHostListSafety::removeFollowsASymbolicLink()
{
    const QString real = m_dir->filePath(QStringLiteral("real.txt"));
    writeBytes(real, "1|a|b\r\n2|c|d\r\n");
    QVERIFY(QFile::link(real, m_path));
    QCOMPARE(removeEntry(m_path, 2), QStringLiteral("(no error)"));
    QVERIFY(QFileInfo(m_path).isSymLink());
    QCOMPARE(readBytes(real), QByteArray("1|a|b\r\n"));
}

// Documents the choice of an atomic replacement: a second hard link keeps the list as it was,
// while list.txt itself changes (and no partial file is ever seen under either name).
void TestHostListSafety::removeLeavesHardLinksWithTheOldBytes()
{
    const QString other = m_dir->filePath(QStringLiteral("other.txt"));
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    QCOMPARE(::link(QFile::encodeName(m_path).constData(), QFile::encodeName(other).constData()), 0);
    QCOMPARE(removeEntry(m_path, 1), QStringLiteral("(no error)"));
    QCOMPARE(readBytes(m_path), QByteArray("2|c|d\r\n"));
    QCOMPARE(readBytes(other), QByteArray("1|a|b\r\n2|c|d\r\n"));
}

// Guards the new open: a list.txt that is a link to a file not there yet gets that file, as before,
// instead of the append looping or failing on the link.
void TestHostListSafety::appendThroughADanglingLinkCreatesItsTarget()
{
    const QString real = m_dir->filePath(QStringLiteral("real.txt"));
    QVERIFY(QFile::link(real, m_path));
    QCOMPARE(errorOf([&] { hostlist::AppendHostEntry(m_path, 2, QStringLiteral("c"), QStringLiteral("d")); }),
             QStringLiteral("(no error)"));
    QVERIFY(QFileInfo(m_path).isSymLink());
    QCOMPARE(readBytes(real), QByteArray("2|c|d\r\n"));
}

void TestHostListSafety::appendToWriteOnlyList_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    // The last byte cannot be read, so a break always goes first; the empty line it may make is
    // skipped on load.
    QTest::newRow("final break") << QByteArray("1|a|b\r\n") << QByteArray("1|a|b\r\n\r\n2|c|d\r\n");
    QTest::newRow("no final break") << QByteArray("1|a|b") << QByteArray("1|a|b\r\n2|c|d\r\n");
}

// Fault: Append opened list.txt read-write to look at its last byte, so a write-only list
// (mode 0200) could not be appended to.
void TestHostListSafety::appendToWriteOnlyList()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    writeBytes(m_path, before);
    const QByteArray native = QFile::encodeName(m_path);
    QCOMPARE(::chmod(native.constData(), 0200), 0);
    if (::geteuid() == 0) {
        // Root reads anything; the list's owner, a normal user, appends instead.
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0711), 0);
        const HelperResult r = runHelper({QStringLiteral("as-user"), QStringLiteral("65534"), QStringLiteral("append"),
                                          m_path, QStringLiteral("2"), QStringLiteral("c"), QStringLiteral("d")},
                                         30000);
        QVERIFY2(r.finished && r.status == QProcess::NormalExit && r.exitCode == 0, qPrintable(describe(r)));
    } else {
        QCOMPARE(errorOf([&] { hostlist::AppendHostEntry(m_path, 2, QStringLiteral("c"), QStringLiteral("d")); }),
                 QStringLiteral("(no error)"));
        QCOMPARE(::chmod(native.constData(), 0600), 0);
    }
    QCOMPARE(readBytes(m_path), after);
    platform::ReportList list;
    hostlist::HostListFile listFile(m_path);
    hostlist::LoadList(list, listFile);
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.text(2), QStringLiteral("c"));
}

void TestHostListSafety::fifoIsRefusedWithoutHanging_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("load") << QStringList{QStringLiteral("load")};
    QTest::newRow("append") << QStringList{QStringLiteral("append"), QStringLiteral("2"), QStringLiteral("c"),
                                           QStringLiteral("d")};
    // Loaded while list.txt was a file; the FIFO takes its place before the removal.
    QTest::newRow("remove") << QStringList{QStringLiteral("remove"), QStringLiteral("1"), QStringLiteral("fifo")};
}

// Fault: a FIFO named list.txt hung start-up in open() (and an append wrote into the pipe).
void TestHostListSafety::fifoIsRefusedWithoutHanging()
{
    QFETCH(QStringList, command);
    if (command.first() == QStringLiteral("remove")) {
        writeBytes(m_path, "1|a|b\r\n");
        command.last() = m_dir->filePath(command.last());
        QCOMPARE(::mkfifo(QFile::encodeName(command.last()).constData(), 0600), 0);
    } else {
        QCOMPARE(::mkfifo(QFile::encodeName(m_path).constData(), 0600), 0);
    }
    command.insert(1, m_path);
    QElapsedTimer clock;
    clock.start();
    const HelperResult r = runHelper(command, 10000);
    QVERIFY2(r.finished, "hung on the FIFO");
    QVERIFY2(clock.elapsed() < 9000, qPrintable(describe(r)));
    QVERIFY2(r.status == QProcess::NormalExit && r.exitCode == 2, qPrintable(describe(r)));
    QVERIFY2(r.out.contains(QStringLiteral("not a regular file")), qPrintable(r.out));
    QVERIFY2(r.out.contains(m_path), qPrintable(r.out));
}

void TestHostListSafety::hugeFileIsRefusedUnread_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("just over the limit") << hostlist::MaxFileBytes + 1;
}

// Fault: a list far beyond the 32,767-entry limit was read whole into memory (and one that did
// not fit aborted the program). A sparse file: its size costs no disk.
void TestHostListSafety::hugeFileIsRefusedUnread()
{
    QFETCH(qint64, size);
    writeBytes(m_path, "1|a|b\r\n");
    // Loaded while it was small, removed from once it has grown.
    hostlist::HostListFile grown(m_path);
    const hostlist::LoadedHostList before = grown.load();
    QCOMPARE(before.entries.size(), 1);
    QVERIFY(QFile::resize(m_path, size));

    QElapsedTimer clock;
    clock.start();
    platform::ReportList list;
    hostlist::HostListFile listFile(m_path);
    const QString loadMessage = errorOf([&] { hostlist::LoadList(list, listFile); });
    const QString removeMessage = errorOf([&] { grown.remove(before.entries.at(0).key); });
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    for (const QString& message : {loadMessage, removeMessage}) {
        QVERIFY2(message.contains(QStringLiteral("too large")), qPrintable(message));
        QVERIFY2(message.contains(m_path), qPrintable(message));
    }
    QCOMPARE(list.count(), 0);
    QCOMPARE(QFileInfo(m_path).size(), size);
}

// Fault: a list.txt that did not fit in memory let std::bad_alloc out of LoadList, which ended the
// program ("terminate ... std::bad_alloc"). Here the helper may map only 48 MiB more than it has,
// and reads a 40 MiB list (of zero bytes, under the size limit) that takes twice that decoded.
void TestHostListSafety::outOfMemoryIsAHostListError()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves its shadow memory at start-up; an address-space limit cannot be used");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("AddressSanitizer reserves its shadow memory at start-up; an address-space limit cannot be used");
#endif
#endif
    writeBytes(m_path, QByteArray());
    QVERIFY(QFile::resize(m_path, qint64(40) * 1024 * 1024));
    const HelperResult r =
        runHelper({QStringLiteral("memory-limit"), QStringLiteral("48"), QStringLiteral("load"), m_path}, 60000);
    QVERIFY2(r.finished && r.status == QProcess::NormalExit && r.exitCode == 2, qPrintable(describe(r)));
    QVERIFY2(r.out.contains(QStringLiteral("memory")), qPrintable(r.out));
    QVERIFY2(r.out.contains(m_path), qPrintable(r.out));
}

QTEST_MAIN(TestHostListSafety)
#include "tst_hostlistsafety.moc"
