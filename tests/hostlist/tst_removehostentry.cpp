#include "hostlist/hostlistfile.h"
#include "tests/hostlist/listfiletest.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

using hostlist::EntryKey;
using hostlist::HostListError;
using hostlist::HostListFile;

namespace {

// Removes the entry; returns the error message, empty on success.
QString removeKey(HostListFile& file, EntryKey key)
{
    return attempt([&] { file.remove(key); });
}

} // namespace

class TestRemoveHostEntry : public ListFileTest
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void removesExactlyThatLine_data();
    void removesExactlyThatLine();
    void entriesRememberTheirPhysicalLine();
    void refusesWhenTheFileChanged_data();
    void refusesWhenTheFileChanged();
    void refusesKeysItDidNotHandOut();
    void entriesBeforeABadLineCanBeRemoved();
    void keepsPermissions();
    void reportsFilesItCannotReadOrWrite();
    void secondRemovalWorksAfterShifting();
};

void TestRemoveHostEntry::init()
{
    startWithoutList();
}

void TestRemoveHostEntry::removesExactlyThatLine_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("row");
    QTest::addColumn<QByteArray>("after");

    const QByteArray three = "1|a|1.1.1.1\r\n2|b|2.2.2.2\r\n3|c|3.3.3.3\r\n";
    QTest::newRow("middle") << three << 2 << QByteArray("1|a|1.1.1.1\r\n3|c|3.3.3.3\r\n");
    QTest::newRow("first") << three << 1 << QByteArray("2|b|2.2.2.2\r\n3|c|3.3.3.3\r\n");
    QTest::newRow("last") << three << 3 << QByteArray("1|a|1.1.1.1\r\n2|b|2.2.2.2\r\n");
    QTest::newRow("only line") << QByteArray("1|a|b\r\n") << 1 << QByteArray();
    QTest::newRow("last without break") << QByteArray("1|a|b\r\n2|c|d") << 2 << QByteArray("1|a|b\r\n");
    QTest::newRow("keeps a missing final break")
        << QByteArray("1|a|b\r\n2|c|d\r\n3|e|f") << 1 << QByteArray("2|c|d\r\n3|e|f");
    QTest::newRow("LF") << QByteArray("1|a|b\n2|c|d\n3|e|f\n") << 2 << QByteArray("1|a|b\n3|e|f\n");
    QTest::newRow("lone CR") << QByteArray("1|a|b\r2|c|d\r3|e|f") << 2 << QByteArray("1|a|b\r3|e|f");
    QTest::newRow("mixed") << QByteArray("1|a|b\n2|c|d\r\n3|e|f\r4|g|h") << 3 << QByteArray("1|a|b\n2|c|d\r\n4|g|h");
    // CR and LF in that order are one break, LF then CR are two (with an empty line between).
    QTest::newRow("LF CR is two breaks") << QByteArray("1|a|b\n\r2|c|d\n\r") << 2 << QByteArray("1|a|b\n\r\r");
    QTest::newRow("empty lines before it")
        << QByteArray("\r\n\r\n1|a|b\r\n\n2|c|d\r\n") << 2 << QByteArray("\r\n\r\n1|a|b\r\n\n");
    QTest::newRow("empty lines after it")
        << QByteArray("1|a|b\r\n2|c|d\r\n\r\n\r\n") << 2 << QByteArray("1|a|b\r\n\r\n\r\n");
    // The copies differ only in their breaks, which shows which one went.
    QTest::newRow("duplicates") << QByteArray("1|a|b\r\n1|a|b\n1|a|b\r\n") << 2 << QByteArray("1|a|b\r\n1|a|b\r\n");
    QTest::newRow("byte order mark stays") << QByteArray("\xEF\xBB\xBF"
                                                         "1|a|b\r\n2|c|d\r\n")
                                           << 1
                                           << QByteArray("\xEF\xBB\xBF"
                                                         "2|c|d\r\n");
    QTest::newRow("undecodable bytes elsewhere stay")
        << QByteArray("1|a\xFF|b\r\n2|c|d\r\n") << 2 << QByteArray("1|a\xFF|b\r\n");
    QTest::newRow("line with undecodable bytes")
        << QByteArray("1|a\xFF|b\r\n2|c|d\r\n") << 1 << QByteArray("2|c|d\r\n");
    QTest::newRow("cut-off character before a break")
        << QByteArray("1|\xE2\x82\r\n2|c|d\r\n3|e|f\r\n") << 2 << QByteArray("1|\xE2\x82\r\n3|e|f\r\n");
    QTest::newRow("hand-made lines") << QByteArray("9|  spaced  |x|y\r\n1|\xC3\xA9t\xC3\xA9|::1\r\n0\r\n") << 3
                                     << QByteArray("9|  spaced  |x|y\r\n1|\xC3\xA9t\xC3\xA9|::1\r\n");
}

void TestRemoveHostEntry::removesExactlyThatLine()
{
    QFETCH(QByteArray, before);
    QFETCH(int, row);
    QFETCH(QByteArray, after);

    writeBytes(m_path, before);
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);
    QVERIFY(row <= keys.size());

    QCOMPARE(removeKey(file, keys.at(row - 1)), QString());
    QCOMPARE(readBytes(m_path), after);
    QCOMPARE(file.count(), keys.size() - 1);
}

void TestRemoveHostEntry::entriesRememberTheirPhysicalLine()
{
    writeBytes(m_path, "\xEF\xBB\xBF\r\n1|a|b\n\n\r2|c|\xE9\r\n");
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);

    QCOMPARE(keys.size(), 2);
    QCOMPARE(file.sourceOf(keys[0]).line, 2);
    QCOMPARE(file.sourceOf(keys[0]).bytes, QByteArray("1|a|b"));
    QCOMPARE(file.sourceOf(keys[1]).line, 5);
    QCOMPARE(file.sourceOf(keys[1]).bytes, QByteArray("2|c|\xE9"));
}

void TestRemoveHostEntry::refusesWhenTheFileChanged_data()
{
    QTest::addColumn<QByteArray>("changedTo"); // empty: the file is deleted
    QTest::addColumn<int>("row");

    QTest::newRow("line edited") << QByteArray("1|a|b\r\n2|c|9\r\n3|e|f\r\n") << 2;
    QTest::newRow("break added to the line") << QByteArray("1|a|b\r\n2|c|d \r\n3|e|f\r\n") << 2;
    QTest::newRow("line inserted above") << QByteArray("0|new|x\r\n1|a|b\r\n2|c|d\r\n3|e|f\r\n") << 2;
    QTest::newRow("empty line inserted above") << QByteArray("\r\n1|a|b\r\n2|c|d\r\n3|e|f\r\n") << 1;
    QTest::newRow("file shortened") << QByteArray("1|a|b\r\n") << 3;
    QTest::newRow("file deleted") << QByteArray() << 1;
}

void TestRemoveHostEntry::refusesWhenTheFileChanged()
{
    QFETCH(QByteArray, changedTo);
    QFETCH(int, row);

    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n3|e|f\r\n");
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);
    if (changedTo.isEmpty())
        QVERIFY(QFile::remove(m_path));
    else
        writeBytes(m_path, changedTo);

    const QString message = removeKey(file, keys.at(row - 1));
    QVERIFY2(message.contains(QStringLiteral("list.txt has changed since it was loaded")), qPrintable(message));
    QVERIFY(message.contains(QStringLiteral("Reload")));
    if (changedTo.isEmpty())
        QVERIFY(!QFile::exists(m_path));
    else
        QCOMPARE(readBytes(m_path), changedTo);
    // No temporary copy is left behind either.
    const QStringList files = changedTo.isEmpty() ? QStringList() : QStringList{QStringLiteral("list.txt")};
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), files);
    // A refused removal forgets nothing: the entry is still known where it was.
    QCOMPARE(file.sourceOf(keys.at(row - 1)).line, row);
}

// A key is good only for the file and the load that handed it out; any other must not hit a line
// that merely sits at the same place now.
void TestRemoveHostEntry::refusesKeysItDidNotHandOut()
{
    const QByteArray bytes = "1|a|b\r\n2|c|d\r\n";
    writeBytes(m_path, bytes);
    HostListFile file(m_path);
    const QVector<EntryKey> before = loadKeys(file);
    const QVector<EntryKey> after = loadKeys(file);
    QCOMPARE(after.size(), 2);
    for (EntryKey key : before)
        QVERIFY(!after.contains(key));

    const QString other = m_dir.filePath(QStringLiteral("other.txt"));
    writeBytes(other, bytes);
    HostListFile otherFile(other);
    const QVector<EntryKey> otherKeys = loadKeys(otherFile);

    // A row that never came from the file has key 0.
    for (EntryKey key : {EntryKey(0), before.at(0), otherKeys.at(0), after.at(1) + 1000}) {
        const QString message = removeKey(file, key);
        QVERIFY2(message.contains(QStringLiteral("Reload")), qPrintable(message));
        QCOMPARE(file.sourceOf(key).line, 0);
    }
    QCOMPARE(readBytes(m_path), bytes);
    QCOMPARE(readBytes(other), bytes);

    // Removed once, a key is gone: a second removal must not take the line that moved up.
    QCOMPARE(removeKey(file, after.at(0)), QString());
    QVERIFY(removeKey(file, after.at(0)).contains(QStringLiteral("Reload")));
    QCOMPARE(readBytes(m_path), QByteArray("2|c|d\r\n"));
}

// The rows before a bad line stay in the list after a failed load, so they must be removable too.
void TestRemoveHostEntry::entriesBeforeABadLineCanBeRemoved()
{
    writeBytes(m_path, "1|a|b\r\nx|bad\r\n2|c|d\r\n");
    HostListFile file(m_path);
    const hostlist::LoadedHostList loaded = file.load();
    QVERIFY(loaded.error.has_value());
    QCOMPARE(loaded.error->line(), 2);
    QCOMPARE(loaded.entries.size(), 1);
    QCOMPARE(removeKey(file, loaded.entries.at(0).key), QString());
    QCOMPARE(readBytes(m_path), QByteArray("x|bad\r\n2|c|d\r\n"));
}

void TestRemoveHostEntry::keepsPermissions()
{
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    const QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(m_path, perms));
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);

    QCOMPARE(removeKey(file, keys.at(0)), QString());
    QCOMPARE(readBytes(m_path), QByteArray("2|c|d\r\n"));
    QCOMPARE(QFile::permissions(m_path) & ~(QFile::ReadUser | QFile::WriteUser), perms);
}

void TestRemoveHostEntry::reportsFilesItCannotReadOrWrite()
{
    // A folder that took the list's place cannot be read.
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);
    QVERIFY(QFile::remove(m_path));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("list.txt")));
    try {
        file.remove(keys.at(0));
        QFAIL("a folder was read as a list");
    } catch (const HostListError& e) {
        QCOMPARE(e.path(), m_path);
        QVERIFY2(e.message().contains(QDir::toNativeSeparators(m_path)), qPrintable(e.message()));
    }
    QVERIFY(QDir(m_dir.path()).rmdir(QStringLiteral("list.txt")));

    if (::geteuid() == 0)
        QSKIP("a read-only folder does not stop root");
    const QString folder = m_dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/list.txt");
    writeBytes(path, "1|a|b\r\n2|c|d\r\n");
    HostListFile locked(path);
    const QVector<EntryKey> lockedKeys = loadKeys(locked);
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    {
        const auto unlock =
            qScopeGuard([&] { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        // The list itself is writable: the message names the folder that refused, and what to do.
        QString message;
        try {
            locked.remove(lockedKeys.at(0));
        } catch (const HostListError& e) {
            message = e.message();
        }
        QVERIFY2(message.contains(QStringLiteral("its folder %1 refused").arg(QDir::toNativeSeparators(folder))) &&
                     message.contains(QLatin1String("Make the folder writable")),
                 qPrintable(message));
    }
    QCOMPARE(readBytes(path), QByteArray("1|a|b\r\n2|c|d\r\n"));
}

void TestRemoveHostEntry::secondRemovalWorksAfterShifting()
{
    writeBytes(m_path, "1|a|b\r\n\r\n2|c|d\r\n3|e|f\r\n1|g|h\r\n");
    HostListFile file(m_path);
    QVector<EntryKey> keys = loadKeys(file);
    QCOMPARE(keys.size(), 4);

    // Removes the way the window does, rows and keys in step, without a reload in between.
    const auto remove = [&](int index) {
        QCOMPARE(removeKey(file, keys.at(index - 1)), QString());
        keys.removeAt(index - 1);
    };
    remove(2);
    QCOMPARE(readBytes(m_path), QByteArray("1|a|b\r\n\r\n3|e|f\r\n1|g|h\r\n"));
    QCOMPARE(file.sourceOf(keys.at(1)).line, 3);
    remove(2);
    QCOMPARE(readBytes(m_path), QByteArray("1|a|b\r\n\r\n1|g|h\r\n"));
    remove(1);
    remove(1);
    QCOMPARE(readBytes(m_path), QByteArray("\r\n"));
    QCOMPARE(file.count(), 0);

    // Entries above the removed line keep their numbers; those below move up by one.
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n3|e|f\r\n");
    keys = loadKeys(file);
    QCOMPARE(removeKey(file, keys.at(1)), QString());
    QCOMPARE(file.sourceOf(keys.at(0)).line, 1);
    QCOMPARE(file.sourceOf(keys.at(2)).line, 2);
    QCOMPARE(file.sourceOf(keys.at(2)).bytes, QByteArray("3|e|f"));
}

QTEST_MAIN(TestRemoveHostEntry)
#include "tst_removehostentry.moc"
