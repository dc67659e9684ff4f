#include "monitor/csvexport.h"
#include "monitor/hoststats.h"
#include "monitor/outagelog.h"
#include "tests/support/smalldisk.h"
#include "tests/support/testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <sys/stat.h>
#include <unistd.h>

using namespace monitor;

namespace {

const QTimeZone kZone(3600);
const qint64 kNoon = QDateTime(QDate(2026, 12, 7), QTime(12, 3, 7), kZone).toMSecsSinceEpoch();
const QString kNoSpace = qt_error_string(ENOSPC);

StateChange change(const QString& name, HostState from, HostState to, qint64 since, qint64 previous, int status)
{
    StateChange c;
    c.key = 1;
    c.name = name;
    c.address = QStringLiteral("10.0.0.1");
    c.from = from;
    c.to = to;
    c.sinceMs = since;
    c.previousSinceMs = previous;
    c.status = status;
    return c;
}

QVector<StateChange> downAndBack()
{
    return {change(QStringLiteral("mail server"), HostState::Up, HostState::Down, kNoon, kNoon - 60000, 11010),
            change(QStringLiteral("mail server"), HostState::Down, HostState::Up, kNoon + 4 * 60000 + 8000, kNoon, 0)};
}

} // namespace

class TestOutageLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fieldQuoting_data();
    void fieldQuoting();
    void documentIsUtf8WithCrlf();
    void statisticsFieldsAreSpreadsheetNumbers();
    void exportReplacesTheWholeFile();
    void exportOnFullDiskKeepsTheOldFile();
    void logStartsWithAHeaderAndOnlyEverAppends();
    void logLinesSayWhatHappened();
    void logEndsACutOffLastLineFirst();
    void logOnFullDiskLeavesTheFileAsItWas();
    void logRefusesWhatIsNotAFile();
};

void TestOutageLog::fieldQuoting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << QStringLiteral("mail server") << QStringLiteral("mail server");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("comma") << QStringLiteral("Smith, J.") << QStringLiteral("\"Smith, J.\"");
    QTest::newRow("quotes") << QStringLiteral("the \"big\" one") << QStringLiteral("\"the \"\"big\"\" one\"");
    QTest::newRow("line break") << QStringLiteral("a\nb") << QStringLiteral("\"a\nb\"");
    QTest::newRow("non-ASCII") << QStringLiteral("Zürich Büro ☃ 東京") << QStringLiteral("Zürich Büro ☃ 東京");
    QTest::newRow("outer spaces") << QStringLiteral(" gw ") << QStringLiteral("\" gw \"");
    QTest::newRow("formula") << QStringLiteral("=HYPERLINK(\"http://x\")")
                             << QStringLiteral("\"'=HYPERLINK(\"\"http://x\"\")\"");
    QTest::newRow("plus") << QStringLiteral("+1") << QStringLiteral("'+1");
    QTest::newRow("minus") << QStringLiteral("-2+3") << QStringLiteral("'-2+3");
    QTest::newRow("negative number") << QStringLiteral("-1") << QStringLiteral("-1");
    QTest::newRow("negative fraction") << QStringLiteral("-0.5") << QStringLiteral("-0.5");
    QTest::newRow("minus minus") << QStringLiteral("--1") << QStringLiteral("'--1");
    QTest::newRow("at") << QStringLiteral("@SUM(A1)") << QStringLiteral("'@SUM(A1)");
    QTest::newRow("tab") << QStringLiteral("\t=1") << QStringLiteral("'\t=1");
    QTest::newRow("formula with comma") << QStringLiteral("=1,2") << QStringLiteral("\"'=1,2\"");
    QTest::newRow("inner sign") << QStringLiteral("a=b") << QStringLiteral("a=b");
}

void TestOutageLog::fieldQuoting()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(csv::field(text), field);
}

void TestOutageLog::documentIsUtf8WithCrlf()
{
    const QByteArray doc = csv::document(
        {{QStringLiteral("Name"), QStringLiteral("Address")}, {QStringLiteral("Büro, 2"), QStringLiteral("10.0.0.1")}});
    QCOMPARE(doc, QByteArray("\xEF\xBB\xBFName,Address\r\n\"B\xC3\xBCro, 2\",10.0.0.1\r\n"));
    QCOMPARE(csv::line({}), QByteArray("\r\n"));
}

void TestOutageLog::statisticsFieldsAreSpreadsheetNumbers()
{
    HostMonitor m;
    m.setEntry(1, QStringLiteral("lo"), QStringLiteral("127.0.0.1"));
    QStringList fields = csv::statisticsFields(m.stats(1), kZone);
    QCOMPARE(fields.size(), csv::statisticsHeader().size());
    QCOMPARE(fields.first(), QStringLiteral("0"));
    QVERIFY(csv::statisticsFields(nullptr, kZone).join(QString()).isEmpty());

    m.record(1, 0, 40, kNoon);
    m.record(1, 11010, -1, kNoon + 1000);
    m.record(1, 0, 1234567, kNoon + 2000);
    fields = csv::statisticsFields(m.stats(1), kZone);
    QCOMPARE(fields,
             (QStringList{QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("33.3"), QStringLiteral("1234.567"),
                          QStringLiteral("0.040"), QStringLiteral("617.304"), QStringLiteral("1234.567"),
                          QStringLiteral("Up"), QStringLiteral("2026-12-07T12:03:07+01:00")}));
    QCOMPARE(csv::isoTime(kNoon, QTimeZone(-9000)), QStringLiteral("2026-12-07T08:33:07-02:30"));
    QCOMPARE(csv::isoTime(0, kZone), QString());
}

void TestOutageLog::exportReplacesTheWholeFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("export.csv"));
    QCOMPARE(csv::writeWholeFile(path, "first\r\n"), QString());
    QCOMPARE(readBytes(path), QByteArray("first\r\n"));
    ::chmod(QFile::encodeName(path).constData(), 0640);
    QCOMPARE(csv::writeWholeFile(path, "second\r\n"), QString());
    QCOMPARE(readBytes(path), QByteArray("second\r\n"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0640));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("export.csv")});

    const QString nowhere = dir.filePath(QStringLiteral("missing/export.csv"));
    QCOMPARE(csv::writeWholeFile(nowhere, "x"), qt_error_string(ENOENT));
}

void TestOutageLog::exportOnFullDiskKeepsTheOldFile()
{
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    const QString path = disk.filePath(QStringLiteral("export.csv"));
    writeBytes(path, "old,export\r\n");
    QVERIFY(disk.fill());
    const QString error = csv::writeWholeFile(path, QByteArray(20000, 'x'));
    QCOMPARE(error, kNoSpace);
    QCOMPARE(readBytes(path), QByteArray("old,export\r\n"));
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral(".ballast"), QStringLiteral("export.csv")}));
}

void TestOutageLog::logStartsWithAHeaderAndOnlyEverAppends()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("outages.csv"));
    const OutageLog log(path, kZone);
    QCOMPARE(log.append({}), QString());
    QVERIFY(!QFile::exists(path)); // nothing to say, no file

    const QVector<StateChange> changes = downAndBack();
    QCOMPARE(log.append(changes.first(1)), QString());
    const QByteArray first = readBytes(path);
    QCOMPARE(first, OutageLog::header() + log.lines(changes.first(1)));
    QVERIFY(first.startsWith("time,name,address,state,status,text\r\n"));

    QCOMPARE(log.append(changes.last(1)), QString());
    QCOMPARE(readBytes(path), first + log.lines(changes.last(1)));

    // A file someone else started is kept as it is and gets no header in the middle.
    const QString other = dir.filePath(QStringLiteral("kept.csv"));
    writeBytes(other, "my own notes\n");
    QCOMPARE(OutageLog(other, kZone).append(changes), QString());
    QCOMPARE(readBytes(other), QByteArray("my own notes\n") + log.lines(changes));
}

void TestOutageLog::logLinesSayWhatHappened()
{
    const OutageLog log(QStringLiteral("/nonexistent/outages.csv"), kZone);
    QVector<StateChange> changes = downAndBack();
    changes.append(change(QStringLiteral("=cmd, \"x\""), HostState::Unknown, HostState::Down, kNoon, 0, -1));
    changes.append(change(QStringLiteral("new"), HostState::Unknown, HostState::Up, kNoon, 0, 0));
    QCOMPARE(
        QString::fromUtf8(log.lines(changes)),
        QStringLiteral("2026-12-07T12:03:07+01:00,mail server,10.0.0.1,down,11010,Request Timed Out\r\n"
                       "2026-12-07T12:07:15+01:00,mail server,10.0.0.1,up,0,Up again after 4 min\r\n"
                       "2026-12-07T12:03:07+01:00,\"'=cmd, \"\"x\"\"\",10.0.0.1,down,-1,No request could be sent\r\n"));
    // A host answering from the start is no outage: its first state is logged only when down.
    QVERIFY(log.lines(changes.last(1)).isEmpty());
    const QVector<StateChange> degraded = {
        change(QStringLiteral("mail server"), HostState::Up, HostState::Degraded, kNoon, kNoon - 60000, 0),
        change(QStringLiteral("mail server"), HostState::Degraded, HostState::Up, kNoon + 120000, kNoon, 0)};
    QCOMPARE(QString::fromUtf8(log.lines(degraded)),
             QStringLiteral("2026-12-07T12:03:07+01:00,mail server,10.0.0.1,degraded,0,Degraded\r\n"
                            "2026-12-07T12:05:07+01:00,mail server,10.0.0.1,up,0,No longer degraded after 2 min\r\n"));
    QCOMPARE(OutageLog::monitoringLine(OutageLog::Monitoring::Started, kNoon, kZone),
             QByteArray("2026-12-07T12:03:07+01:00,,,started,,Monitoring started\r\n"));
    QCOMPARE(OutageLog::monitoringLine(OutageLog::Monitoring::Stopped, kNoon, kZone),
             QByteArray("2026-12-07T12:03:07+01:00,,,stopped,,Monitoring stopped\r\n"));
    // A folder that is not there is reported with the real reason.
    const QString error = log.append(changes);
    QVERIFY2(error.contains(qt_error_string(ENOENT)), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("/nonexistent/outages.csv")), qPrintable(error));
}

void TestOutageLog::logEndsACutOffLastLineFirst()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("outages.csv"));
    writeBytes(path, "time,name\r\nhalf a line");
    const OutageLog log(path, kZone);
    QCOMPARE(log.append(downAndBack()), QString());
    QCOMPARE(readBytes(path), QByteArray("time,name\r\nhalf a line\r\n") + log.lines(downAndBack()));
}

void TestOutageLog::logOnFullDiskLeavesTheFileAsItWas()
{
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    const QString path = disk.filePath(QStringLiteral("outages.csv"));
    // Ten bytes short of a page: the new lines start in the last page and run out of room there.
    QByteArray before = OutageLog::header();
    while (before.size() < 4096 - 10)
        before += 'x';
    before.chop(2);
    before += "\r\n";
    QCOMPARE(before.size(), 4086);
    writeBytes(path, before);
    QVERIFY(disk.fill());

    const OutageLog log(path, kZone);
    const QString error = log.append(downAndBack());
    QVERIFY2(error.contains(kNoSpace), qPrintable(error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(readBytes(path), before);

    // A log that is not there yet is not left behind empty.
    const QString fresh = disk.filePath(QStringLiteral("new.csv"));
    const QString freshError = OutageLog(fresh, kZone).append(downAndBack());
    QVERIFY2(freshError.contains(kNoSpace), qPrintable(freshError));
    QVERIFY(!QFile::exists(fresh));

    // Room again: the same append goes through after all.
    QVERIFY(QFile::remove(disk.filePath(QStringLiteral(".ballast"))));
    QCOMPARE(log.append(downAndBack()), QString());
    QCOMPARE(readBytes(path), before + log.lines(downAndBack()));
}

void TestOutageLog::logRefusesWhatIsNotAFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("fifo.csv"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    const QString error = OutageLog(fifo, kZone).append(downAndBack());
    QVERIFY2(error.contains(QStringLiteral("not a regular file")), qPrintable(error));
    QVERIFY(clock.elapsed() < 10000); // no reader ever comes; it must not wait for one

    const QString error2 = OutageLog(dir.path(), kZone).append(downAndBack());
    QVERIFY2(!error2.isEmpty(), "a folder is not a log");
}

QTEST_GUILESS_MAIN(TestOutageLog)
#include "tst_outagelog.moc"
