#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "platform/reportlist.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

using hostlist::HostLine;
using hostlist::HostListError;

namespace {

struct Expected
{
    int type;
    QString name;
    QString address;
};

QString s(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray numberedLines(int count, const QByteArray& lineBreak = "\r\n")
{
    QByteArray out;
    out.reserve(count * 24);
    for (int i = 1; i <= count; ++i)
        out += "1|host" + QByteArray::number(i) + "|10.0." + QByteArray::number(i / 256) + '.' +
               QByteArray::number(i % 256) + lineBreak;
    return out;
}

int openDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Runs LoadList and returns the error message, or an empty text when it succeeded.
QString loadMessage(platform::ReportList& list, const QString& path, int* line = nullptr)
{
    try {
        hostlist::HostListFile listFile(path);
        hostlist::LoadList(list, listFile);
    } catch (const HostListError& e) {
        if (line)
            *line = e.line();
        return e.message();
    }
    return {};
}

} // namespace

class TestHostListFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void parseLine_data();
    void parseLine();
    void parseList_data();
    void parseList();

    void invalidBytesAreReplacedNotDropped();
    void loadFillsRows();
    void lineBreakStylesLoadTheSameRows_data();
    void lineBreakStylesLoadTheSameRows();
    void loadReplacesEarlierRows();
    void rowsKeepTheirEntryThroughASort();
    void loadScrollsToLastRow();
    void fullListLoadsQuickly();
    void emptyFileIsEmptyList();

    void missingFileClearsAndNamesPath();
    void badLineKeepsEarlierRows();
    void tooManyLinesKeepsTheFirst32767();
    void fullListWithTrailingBlankLinesLoads();
    void directoryIsNotAList();
    void unreadableFileFails();
    void loadReleasesTheFile();

    void appendCreatesMissingFile();
    void appendRoundTrips_data();
    void appendRoundTrips();
    void appendAfterLastLineWithoutBreak_data();
    void appendAfterLastLineWithoutBreak();
    void appendFailuresNameThePath_data();
    void appendFailuresNameThePath();
    void appendRefusesLineBreaks();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name = QStringLiteral("list.txt")) const { return m_dir->filePath(name); }
};

void TestHostListFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestHostListFile::parseLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");

    const QString none;
    QTest::newRow("plain entry") << s("1|Mail server|192.168.0.1") << true << 1 << s("Mail server") << s("192.168.0.1");
    QTest::newRow("bar in address kept") << s("3|router|10.0.0.1|x") << true << 3 << s("router") << s("10.0.0.1|x");
    QTest::newRow("type 7 becomes 3") << s("7|a|b") << true << 3 << s("a") << s("b");
    QTest::newRow("type 9 becomes 3") << s("9|a|b") << true << 3 << s("a") << s("b");
    QTest::newRow("type 0 stays 0") << s("0|a|b") << true << 0 << s("a") << s("b");
    QTest::newRow("type 2") << s("2|a|b") << true << 2 << s("a") << s("b");
    QTest::newRow("second digit is the separator") << s("12|a|b") << true << 1 << none << s("a|b");
    QTest::newRow("separator unexamined") << s("1xab|c") << true << 1 << s("ab") << s("c");
    QTest::newRow("type only") << s("2") << true << 2 << none << none;
    QTest::newRow("two characters") << s("2|") << true << 2 << none << none;
    QTest::newRow("name without address") << s("2|name") << true << 2 << s("name") << none;
    QTest::newRow("empty name") << s("1||10.0.0.1") << true << 1 << none << s("10.0.0.1");
    QTest::newRow("empty name and address") << s("3||") << true << 3 << none << none;
    QTest::newRow("only bars") << s("1|||") << true << 1 << none << s("|");
    QTest::newRow("spaces stay") << s("1|  two  words |  addr ") << true << 1 << s("  two  words ") << s("  addr ");
    QTest::newRow("non-ASCII text") << s("1|Büro Zürich|host.example") << true << 1 << s("Büro Zürich")
                                    << s("host.example");
    QTest::newRow("separator outside the BMP") << s("1\xF0\x9F\x98\x80"
                                                    "ab|c")
                                               << true << 1 << s("ab") << s("c");

    QTest::newRow("empty line") << QString() << false << 0 << none << none;
    QTest::newRow("leading space") << s(" 1|a|b") << false << 0 << none << none;
    QTest::newRow("letter") << s("x|a|b") << false << 0 << none << none;
    QTest::newRow("bar first") << s("|1|a") << false << 0 << none << none;
    QTest::newRow("Arabic-Indic digit") << s("\xD9\xA3|a|b") << false << 0 << none << none;
    QTest::newRow("fullwidth digit") << s("\xEF\xBC\x91|a|b") << false << 0 << none << none;
    QTest::newRow("byte order mark before the digit") << QChar(0xFEFF) + s("1|a|b") << false << 0 << none << none;
}

void TestHostListFile::parseLine()
{
    QFETCH(QString, line);
    QFETCH(bool, ok);
    const std::optional<HostLine> entry = hostlist::parseHostLine(line);
    QCOMPARE(entry.has_value(), ok);
    if (!ok)
        return;
    QFETCH(int, type);
    QFETCH(QString, name);
    QFETCH(QString, address);
    QCOMPARE(entry->type, type);
    QCOMPARE(entry->name, name);
    QCOMPARE(entry->address, address);
}

void TestHostListFile::parseList_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("errorLine");

    QTest::newRow("empty") << QByteArray() << 0 << 0;
    QTest::newRow("byte order mark only") << QByteArray("\xEF\xBB\xBF") << 0 << 0;
    QTest::newRow("only the first mark is dropped") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"
                                                                  "1|a|b\n")
                                                    << 0 << 1;
    QTest::newRow("mark on a later line") << QByteArray("1|a|b\n\xEF\xBB\xBF"
                                                        "1|c|d\n")
                                          << 1 << 2;
    QTest::newRow("line breaks only") << QByteArray("\r\n\n\r") << 0 << 0;
    QTest::newRow("no final break") << QByteArray("1|a|b\r\n2|c|d") << 2 << 0;
    QTest::newRow("doubled final break") << QByteArray("1|a|b\r\n2|c|d\r\n\r\n") << 2 << 0;
    QTest::newRow("blank line inside") << QByteArray("1|a|b\n\n2|c|d\n") << 2 << 0;
    QTest::newRow("LF CR is two breaks") << QByteArray("1|a|b\n\r2|c|d") << 2 << 0;
    QTest::newRow("blank lines count as lines") << QByteArray("1|a|b\n\n\nx|c|d\n") << 1 << 4;
    QTest::newRow("space-only line fails") << QByteArray("1|a|b\r\n \r\n") << 1 << 2;
    QTest::newRow("bad first line") << QByteArray("x|a|b\n1|c|d\n") << 0 << 1;
    QTest::newRow("bad third line") << QByteArray("1|a|b\r\n2|c|d\r\n 3|e|f\r\n1|g|h\r\n") << 2 << 3;
    QTest::newRow("invalid byte in name") << QByteArray("1|a\xFF"
                                                        "b|c\n2|d|e\n")
                                          << 2 << 0;
    QTest::newRow("cut sequence before break") << QByteArray("1|a\xE2\n2|d|e\n") << 2 << 0;
    QTest::newRow("cut sequence at end") << QByteArray("1|a|b\n2|d|\xF0\x9F") << 2 << 0;
    QTest::newRow("invalid first byte fails") << QByteArray("1|a|b\n\xFF|c|d\n") << 1 << 2;
    QTest::newRow("NUL inside a line") << QByteArray("1|a\0b|c\n", 8) << 1 << 0;
}

void TestHostListFile::parseList()
{
    QFETCH(QByteArray, data);
    QFETCH(int, entries);
    QFETCH(int, errorLine);
    const hostlist::ParsedHostList parsed = hostlist::parseHostList(data);
    QCOMPARE(parsed.entries.size(), entries);
    QCOMPARE(parsed.errorLine, errorLine);
    QCOMPARE(parsed.errorCause.isEmpty(), errorLine == 0);
}

void TestHostListFile::invalidBytesAreReplacedNotDropped()
{
    const QString bad(QChar::ReplacementCharacter);
    // The byte order mark declares the file UTF-8; without it the file would be read in the
    // legacy code page.
    const hostlist::ParsedHostList parsed = hostlist::parseHostList("\xEF\xBB\xBF"
                                                                    "1|a\xFF"
                                                                    "b|c\r\n2|cut\xE2|d\n3|e|\xF0\x9F");
    QCOMPARE(parsed.errorLine, 0);
    QCOMPARE(parsed.entries.size(), 3);
    QCOMPARE(parsed.entries.at(0).name, s("a") + bad + s("b"));
    QCOMPARE(parsed.entries.at(0).address, s("c"));
    QCOMPARE(parsed.entries.at(1).name, s("cut") + bad);
    QCOMPARE(parsed.entries.at(1).address, s("d"));
    // A sequence cut off by the end of the file still leaves a trace.
    const QString tail = parsed.entries.at(2).address;
    QVERIFY(!tail.isEmpty());
    QCOMPARE(tail.count(QChar::ReplacementCharacter), tail.size());
}

void TestHostListFile::loadFillsRows()
{
    writeBytes(path(), "1|Mail server|192.168.0.1\r\n0|Printer|10.0.0.9\r\n7|router|10.0.0.1|x\r\n2|name\r\n");
    platform::ReportList list;
    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);

    const QVector<Expected> expected = {{1, s("Mail server"), s("192.168.0.1")},
                                        {0, s("Printer"), s("10.0.0.9")},
                                        {3, s("router"), s("10.0.0.1|x")},
                                        {2, s("name"), QString()}};
    QCOMPARE(list.count(), expected.size());
    for (int i = 1; i <= list.count(); ++i) {
        const Expected& e = expected.at(i - 1);
        QCOMPARE(list.text(i), e.name);
        QCOMPARE(list.smallIcon(i), e.type);
        QCOMPARE(list.subText(i, 1), e.address);
        QVERIFY(list.isChecked(i));
        QVERIFY(list.subText(i, 2).isEmpty());
        QVERIFY(list.subText(i, 3).isEmpty());
    }
}

void TestHostListFile::lineBreakStylesLoadTheSameRows_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray lines[] = {"1|Mail server|192.168.0.1", "3|Büro|10.0.0.1|x", "0||", "2|last|10.0.0.2"};
    const auto join = [&lines](const QByteArray& br) {
        QByteArray out;
        for (const QByteArray& l : lines)
            out += l + br;
        return out;
    };
    QTest::newRow("CR LF") << join("\r\n");
    QTest::newRow("LF") << join("\n");
    QTest::newRow("CR") << join("\r");
    QTest::newRow("BOM and CR LF") << QByteArray("\xEF\xBB\xBF") + join("\r\n");
    QTest::newRow("no final break") << join("\n").chopped(1);
    QTest::newRow("two final breaks") << join("\r\n") + "\r\n";
    QTest::newRow("mixed") << QByteArray(lines[0]) + "\r" + lines[1] + "\n" + lines[2] + "\r\n" + lines[3];
}

void TestHostListFile::lineBreakStylesLoadTheSameRows()
{
    QFETCH(QByteArray, bytes);
    writeBytes(path(), bytes);
    platform::ReportList list;
    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);

    QCOMPARE(list.count(), 4);
    QCOMPARE(list.text(1), s("Mail server"));
    QCOMPARE(list.text(2), s("Büro"));
    QCOMPARE(list.subText(2, 1), s("10.0.0.1|x"));
    QCOMPARE(list.smallIcon(3), 0);
    QVERIFY(list.text(3).isEmpty());
    QCOMPARE(list.text(4), s("last"));
    QCOMPARE(list.subText(4, 1), s("10.0.0.2"));
}

void TestHostListFile::loadReplacesEarlierRows()
{
    platform::ReportList list;
    list.add(QStringLiteral("stale"), 1);
    list.add(QStringLiteral("stale too"), 1);
    writeBytes(path(), "2|fresh|10.0.0.3\n");
    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);
    QCOMPARE(list.count(), 1);
    QCOMPARE(list.text(1), s("fresh"));
}

// The window removes the selected row's entry by the row's key; after a sort the row's position
// says nothing about its line any more.
void TestHostListFile::rowsKeepTheirEntryThroughASort()
{
    writeBytes(path(), "1|b|x\r\n\r\n2|a|y\r\n");
    platform::ReportList list;
    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);
    list.setSorted(true);
    QCOMPARE(list.text(1), s("a"));
    QCOMPARE(listFile.sourceOf(list.items()->row(1).key).line, 3);

    listFile.remove(list.items()->row(1).key);
    QCOMPARE(readBytes(path()), QByteArray("1|b|x\r\n\r\n"));
    // A row the program added itself came from no line.
    list.add(s("new"), 1);
    QVERIFY_THROWS_EXCEPTION(HostListError, listFile.remove(list.items()->row(list.count()).key));
    QCOMPARE(readBytes(path()), QByteArray("1|b|x\r\n\r\n"));
}

void TestHostListFile::loadScrollsToLastRow()
{
    writeBytes(path(), numberedLines(500));
    platform::ReportList list;
    list.resize(400, 300);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);
    QCoreApplication::processEvents();

    QCOMPARE(list.count(), 500);
    const QScrollBar* bar = list.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    const QRect last = list.visualRect(list.items()->index(499, 0));
    QVERIFY(list.viewport()->rect().contains(last));
    for (int i = 1; i <= list.count(); ++i)
        QVERIFY(list.isChecked(i));
}

void TestHostListFile::fullListLoadsQuickly()
{
    writeBytes(path(), numberedLines(hostlist::MaxEntries));
    platform::ReportList list;
    list.resize(800, 600);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    // Far above the few tens of milliseconds a batch load takes, far below the seconds that
    // inserting or scrolling row by row costs in a shown view.
    QElapsedTimer clock;
    clock.start();
    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);
    QCoreApplication::processEvents();
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(list.count(), hostlist::MaxEntries);
}

void TestHostListFile::emptyFileIsEmptyList()
{
    writeBytes(path(), {});
    platform::ReportList list;
    list.add(QStringLiteral("stale"), 1);
    QCOMPARE(loadMessage(list, path()), QString());
    QCOMPARE(list.count(), 0);
}

void TestHostListFile::missingFileClearsAndNamesPath()
{
    platform::ReportList list;
    list.add(QStringLiteral("stale"), 1);
    int line = -1;
    const QString message = loadMessage(list, path(), &line);
    QCOMPARE(list.count(), 0);
    QCOMPARE(line, 0);
    QVERIFY2(message.contains(QStringLiteral("not found")), qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(path())), qPrintable(message));
}

void TestHostListFile::badLineKeepsEarlierRows()
{
    writeBytes(path(), "1|first|10.0.0.1\r\n2|second|10.0.0.2\r\nx|third|10.0.0.3\r\n1|fourth|10.0.0.4\r\n");
    platform::ReportList list;
    int line = 0;
    const QString message = loadMessage(list, path(), &line);
    QCOMPARE(line, 3);
    QVERIFY2(message.startsWith(QStringLiteral("list.txt, line 3: ")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("digit")), qPrintable(message));
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.text(2), s("second"));
    QVERIFY(list.isChecked(2));
}

void TestHostListFile::tooManyLinesKeepsTheFirst32767()
{
    writeBytes(path(), numberedLines(hostlist::MaxEntries + 1));
    platform::ReportList list;
    int line = 0;
    const QString message = loadMessage(list, path(), &line);
    QCOMPARE(line, 32768);
    QVERIFY2(message.contains(QStringLiteral("line 32768")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("32767")), qPrintable(message));
    QCOMPARE(list.count(), 32767);
    QCOMPARE(list.text(32767), s("host32767"));
}

void TestHostListFile::fullListWithTrailingBlankLinesLoads()
{
    writeBytes(path(), numberedLines(hostlist::MaxEntries) + "\r\n\r\n");
    platform::ReportList list;
    QCOMPARE(loadMessage(list, path()), QString());
    QCOMPARE(list.count(), 32767);
}

void TestHostListFile::directoryIsNotAList()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("list.txt")));
    platform::ReportList list;
    const QString message = loadMessage(list, path());
    QVERIFY2(message.contains(QDir::toNativeSeparators(path())), qPrintable(message));
    QVERIFY2(!message.contains(QStringLiteral("not found")), qPrintable(message));
    QCOMPARE(list.count(), 0);
}

void TestHostListFile::unreadableFileFails()
{
    if (::geteuid() == 0)
        QSKIP("file permissions do not bind the superuser");
    writeBytes(path(), "1|a|b\r\n");
    QVERIFY(QFile::setPermissions(path(), QFileDevice::WriteOwner));
    platform::ReportList list;
    const QString message = loadMessage(list, path());
    QVERIFY2(message.contains(QStringLiteral("could not be opened")), qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(path())), qPrintable(message));
}

void TestHostListFile::loadReleasesTheFile()
{
    platform::ReportList list;
    const int before = openDescriptors();

    writeBytes(path(), "1|a|b\r\nx\r\n");
    QVERIFY(!loadMessage(list, path()).isEmpty());
    QCOMPARE(openDescriptors(), before);

    // Repaired by hand, the same file loads on the next try.
    writeBytes(path(), "1|a|b\r\n2|c|d\r\n");
    QCOMPARE(loadMessage(list, path()), QString());
    QCOMPARE(openDescriptors(), before);
    QCOMPARE(list.count(), 2);

    hostlist::AppendHostEntry(path(), 3, QStringLiteral("e"), QStringLiteral("f"));
    QCOMPARE(openDescriptors(), before);
    QCOMPARE(loadMessage(list, path()), QString());
    QCOMPARE(list.count(), 3);
}

void TestHostListFile::appendCreatesMissingFile()
{
    QVERIFY(!QFile::exists(path()));
    hostlist::AppendHostEntry(path(), 1, QStringLiteral("Srv"), QStringLiteral("10.0.0.1"));
    QCOMPARE(readBytes(path()), QByteArray("1|Srv|10.0.0.1\r\n"));
}

void TestHostListFile::appendRoundTrips_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("loadedType");
    QTest::addColumn<QString>("loadedName");
    QTest::addColumn<QString>("loadedAddress");

    QTest::newRow("plain") << 1 << s("Srv") << s("10.0.0.1") << QByteArray("1|Srv|10.0.0.1\r\n") << 1 << s("Srv")
                           << s("10.0.0.1");
    // A bar in the name is written as given and so moves into the address on reading.
    QTest::newRow("bar in name") << 2 << s("a|b") << s("c") << QByteArray("2|a|b|c\r\n") << 2 << s("a") << s("b|c");
    QTest::newRow("empty texts") << 3 << QString() << QString() << QByteArray("3||\r\n") << 3 << QString() << QString();
    QTest::newRow("UTF-8") << 0 << s("Büro") << s("hôte.example") << QByteArray("0|B\xC3\xBCro|h\xC3\xB4te.example\r\n")
                           << 0 << s("Büro") << s("hôte.example");
    QTest::newRow("type 5 reads as 3") << 5 << s("n") << s("a") << QByteArray("5|n|a\r\n") << 3 << s("n") << s("a");
}

void TestHostListFile::appendRoundTrips()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QByteArray, written);
    QFETCH(int, loadedType);
    QFETCH(QString, loadedName);
    QFETCH(QString, loadedAddress);

    writeBytes(path(), "1|keep|10.0.0.9\r\n");
    hostlist::AppendHostEntry(path(), type, name, address);
    QCOMPARE(readBytes(path()), "1|keep|10.0.0.9\r\n" + written);

    platform::ReportList list;
    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.text(1), s("keep"));
    QCOMPARE(list.smallIcon(2), loadedType);
    QCOMPARE(list.text(2), loadedName);
    QCOMPARE(list.subText(2, 1), loadedAddress);
    QVERIFY(list.isChecked(2));
}

void TestHostListFile::appendAfterLastLineWithoutBreak_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no break") << QByteArray("1|a|b") << QByteArray("1|a|b\r\n2|c|d\r\n");
    QTest::newRow("CR LF") << QByteArray("1|a|b\r\n") << QByteArray("1|a|b\r\n2|c|d\r\n");
    QTest::newRow("lone LF") << QByteArray("1|a|b\n") << QByteArray("1|a|b\n2|c|d\r\n");
    QTest::newRow("lone CR") << QByteArray("1|a|b\r") << QByteArray("1|a|b\r2|c|d\r\n");
    QTest::newRow("empty file") << QByteArray() << QByteArray("2|c|d\r\n");
    QTest::newRow("byte order mark only") << QByteArray("\xEF\xBB\xBF") << QByteArray("\xEF\xBB\xBF\r\n2|c|d\r\n");
}

void TestHostListFile::appendAfterLastLineWithoutBreak()
{
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, expected);
    writeBytes(path(), existing);
    hostlist::AppendHostEntry(path(), 2, QStringLiteral("c"), QStringLiteral("d"));
    QCOMPARE(readBytes(path()), expected);

    platform::ReportList list;
    hostlist::HostListFile listFile(path());
    hostlist::LoadList(list, listFile);
    QCOMPARE(list.count(), existing.contains('|') ? 2 : 1);
    QCOMPARE(list.text(list.count()), s("c"));
    QCOMPARE(list.subText(list.count(), 1), s("d"));
}

void TestHostListFile::appendFailuresNameThePath_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder missing") << QStringLiteral("no/such/folder/list.txt") << QStringLiteral("No such file");
    QTest::newRow("is a directory") << QStringLiteral("dir") << QStringLiteral("directory");
    // A device is not a list, even one that takes writes; the full disk is in tst_hostlistsafety.
    QTest::newRow("device") << QStringLiteral("/dev/full") << QStringLiteral("not a regular file");
}

void TestHostListFile::appendFailuresNameThePath()
{
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dir")));
    const QString where = QDir::isAbsolutePath(target) ? target : path(target);
    if (where == QStringLiteral("/dev/full") && !QFile::exists(where))
        QSKIP("this system has no /dev/full");

    try {
        hostlist::AppendHostEntry(where, 1, QStringLiteral("a"), QStringLiteral("b"));
        QFAIL("the append did not fail");
    } catch (const HostListError& e) {
        QVERIFY2(e.message().contains(QDir::toNativeSeparators(where)), qPrintable(e.message()));
        QVERIFY2(e.message().contains(reason, Qt::CaseInsensitive), qPrintable(e.message()));
        QCOMPARE(e.path(), where);
        QCOMPARE(QString::fromUtf8(e.what()), e.message());
    }
}

void TestHostListFile::appendRefusesLineBreaks()
{
    // Written as given, a break would split the entry and stop every later load at its tail.
    writeBytes(path(), "1|a|127.0.0.1\r\n");
    for (const auto& [name, address] : {std::pair{QStringLiteral("x\ny"), QStringLiteral("b")},
                                        std::pair{QStringLiteral("x"), QStringLiteral("127.0.0.2\r\n2|y|z")}}) {
        try {
            hostlist::AppendHostEntry(path(), 2, name, address);
            QFAIL("a text with a line break was written");
        } catch (const HostListError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("line break")), qPrintable(e.message()));
        }
    }
    QCOMPARE(readBytes(path()), QByteArray("1|a|127.0.0.1\r\n"));
}

QTEST_MAIN(TestHostListFile)
#include "tst_hostlistfile.moc"
