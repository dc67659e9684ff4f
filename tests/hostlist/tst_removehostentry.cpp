#include "hostlistfile.h"
#include "reportlist.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

using hostlist::HostListError;

namespace {

// Removes the line row `index` of the list came from; returns the error message, empty on success.
QString removeRow(const platform::ReportList& list, const QString& path, int index)
{
    const platform::ReportListModel::Row& row = list.items()->row(index);
    try {
        hostlist::RemoveHostEntry(path, row.sourceLine, row.sourceBytes);
    } catch (const HostListError& e) {
        return e.message();
    }
    return {};
}

} // namespace

class TestRemoveHostEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void removesExactlyThatLine_data();
    void removesExactlyThatLine();
    void rowsRememberTheirPhysicalLine();
    void refusesWhenTheFileChanged_data();
    void refusesWhenTheFileChanged();
    void keepsPermissions();
    void reportsFilesItCannotReadOrWrite();
    void secondRemovalWorksAfterShifting();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TestRemoveHostEntry::init()
{
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("list.txt"));
    QFile::remove(m_path);
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
    platform::ReportList list;
    hostlist::LoadList(list, m_path);
    QVERIFY(row <= list.count());

    QCOMPARE(removeRow(list, m_path, row), QString());
    QCOMPARE(readBytes(m_path), after);
}

void TestRemoveHostEntry::rowsRememberTheirPhysicalLine()
{
    writeBytes(m_path, "\xEF\xBB\xBF\r\n1|a|b\n\n\r2|c|\xE9\r\n");
    platform::ReportList list;
    hostlist::LoadList(list, m_path);

    QCOMPARE(list.count(), 2);
    QCOMPARE(list.items()->row(1).sourceLine, 2);
    QCOMPARE(list.items()->row(1).sourceBytes, QByteArray("1|a|b"));
    QCOMPARE(list.items()->row(2).sourceLine, 5);
    QCOMPARE(list.items()->row(2).sourceBytes, QByteArray("2|c|\xE9"));
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
    platform::ReportList list;
    hostlist::LoadList(list, m_path);
    if (changedTo.isEmpty())
        QVERIFY(QFile::remove(m_path));
    else
        writeBytes(m_path, changedTo);

    const QString message = removeRow(list, m_path, row);
    QVERIFY2(message.contains(QStringLiteral("list.txt has changed since it was loaded")), qPrintable(message));
    QVERIFY(message.contains(QStringLiteral("Reload")));
    if (changedTo.isEmpty())
        QVERIFY(!QFile::exists(m_path));
    else
        QCOMPARE(readBytes(m_path), changedTo);
    // No temporary copy is left behind either.
    const QStringList files = changedTo.isEmpty() ? QStringList() : QStringList{QStringLiteral("list.txt")};
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), files);

    // A row that never came from the file has nothing to point at.
    QVERIFY_THROWS_EXCEPTION(HostListError, hostlist::RemoveHostEntry(m_path, 0, {}));
}

void TestRemoveHostEntry::keepsPermissions()
{
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    const QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(m_path, perms));
    platform::ReportList list;
    hostlist::LoadList(list, m_path);

    QCOMPARE(removeRow(list, m_path, 1), QString());
    QCOMPARE(readBytes(m_path), QByteArray("2|c|d\r\n"));
    QCOMPARE(QFile::permissions(m_path) & ~(QFile::ReadUser | QFile::WriteUser), perms);
}

void TestRemoveHostEntry::reportsFilesItCannotReadOrWrite()
{
    // A folder in the list's place cannot be read.
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("list.txt")));
    try {
        hostlist::RemoveHostEntry(m_path, 1, "1|a|b");
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
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY_THROWS_EXCEPTION(HostListError, hostlist::RemoveHostEntry(path, 1, "1|a|b"));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(readBytes(path), QByteArray("1|a|b\r\n2|c|d\r\n"));
}

void TestRemoveHostEntry::secondRemovalWorksAfterShifting()
{
    writeBytes(m_path, "1|a|b\r\n\r\n2|c|d\r\n3|e|f\r\n1|g|h\r\n");
    platform::ReportList list;
    hostlist::LoadList(list, m_path);
    QCOMPARE(list.count(), 4);

    // Removes the way the window does: the file, then the row, then the positions below it.
    const auto remove = [&](int index) {
        const int line = list.items()->row(index).sourceLine;
        QCOMPARE(removeRow(list, m_path, index), QString());
        list.removeAt(index);
        hostlist::shiftSourceLines(list, line);
    };
    remove(2);
    QCOMPARE(readBytes(m_path), QByteArray("1|a|b\r\n\r\n3|e|f\r\n1|g|h\r\n"));
    remove(2);
    QCOMPARE(readBytes(m_path), QByteArray("1|a|b\r\n\r\n1|g|h\r\n"));
    remove(1);
    remove(1);
    QCOMPARE(readBytes(m_path), QByteArray("\r\n"));

    // Rows above the removed line keep their numbers.
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    hostlist::LoadList(list, m_path);
    hostlist::shiftSourceLines(list, 2);
    QCOMPARE(list.items()->row(1).sourceLine, 1);
    QCOMPARE(list.items()->row(2).sourceLine, 2);
}

QTEST_MAIN(TestRemoveHostEntry)
#include "tst_removehostentry.moc"
