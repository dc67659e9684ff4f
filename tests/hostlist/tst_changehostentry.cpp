#include "hostlist/hostlistfile.h"
#include "tests/hostlist/listfiletest.h"
#include "tests/support/testfiles.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

using hostlist::EntryKey;
using hostlist::HostLine;
using hostlist::HostListError;
using hostlist::HostListFile;

namespace {

QString s(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// "Принтер" (printer) in Windows-1251 and in UTF-8.
const QByteArray Printer1251("\xCF\xF0\xE8\xED\xF2\xE5\xF0");
const QString Printer = s("Принтер");

} // namespace

class TestChangeHostEntry : public ListFileTest
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void replaceRewritesOnlyThatLine_data();
    void replaceRewritesOnlyThatLine();
    void replaceRefusesALineChangedOnDisk();
    void changesFollowEachOtherWithoutReload();
    void appendedEntryCanBeEditedAndRemoved_data();
    void appendedEntryCanBeEditedAndRemoved();
    void refusedChangesLeaveTheFileAlone();

    void legacyFileIsReadInItsCodePage();
    void legacyFileIsWrittenInItsCodePage();
    void anotherCodePageCanBeNamed();
    void windows1251TableAgreesWithQt();
    void utf8CheckAgreesWithQt_data();
    void utf8CheckAgreesWithQt();

    void importPlanSaysWhatAndWhy();
    void importAppendsInOneWrite();
    void importPlanTakesAnyLine_data();
    void importPlanTakesAnyLine();
    void addressRules_data();
    void addressRules();
};

void TestChangeHostEntry::init()
{
    startWithoutList();
}

void TestChangeHostEntry::replaceRewritesOnlyThatLine_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("row");
    QTest::addColumn<QByteArray>("after");

    const QByteArray three = "1|a|1.1.1.1\r\n2|b|2.2.2.2\r\n3|c|3.3.3.3\r\n";
    QTest::newRow("middle") << three << 2 << QByteArray("1|a|1.1.1.1\r\n2|gw|10.0.0.9\r\n3|c|3.3.3.3\r\n");
    QTest::newRow("first, LF breaks kept") << QByteArray("1|a|b\n2|c|d\n") << 1 << QByteArray("2|gw|10.0.0.9\n2|c|d\n");
    QTest::newRow("last without break") << QByteArray("1|a|b\r\n3|c|d") << 2 << QByteArray("1|a|b\r\n2|gw|10.0.0.9");
    QTest::newRow("blank lines and lone CR kept")
        << QByteArray("\r\n1|a|b\r\r\n\n3|c|d\n") << 2 << QByteArray("\r\n1|a|b\r\r\n\n2|gw|10.0.0.9\n");
    QTest::newRow("byte order mark stays") << QByteArray("\xEF\xBB\xBF"
                                                         "1|a|b\r\n")
                                           << 1
                                           << QByteArray("\xEF\xBB\xBF"
                                                         "2|gw|10.0.0.9\r\n");
    QTest::newRow("two identical lines: only the second")
        << QByteArray("1|a|b\r\n1|a|b\r\n") << 2 << QByteArray("1|a|b\r\n2|gw|10.0.0.9\r\n");
}

void TestChangeHostEntry::replaceRewritesOnlyThatLine()
{
    QFETCH(QByteArray, before);
    QFETCH(int, row);
    QFETCH(QByteArray, after);

    writeBytes(m_path, before);
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);
    const QString error = attempt([&] { file.replace(keys.at(row - 1), {2, s("gw"), s("10.0.0.9")}); });
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(readBytes(m_path), after);

    // What the file now says is what a load reads.
    const hostlist::LoadedHostList again = file.load();
    QCOMPARE(again.entries.at(row - 1).host, (HostLine{2, s("gw"), s("10.0.0.9")}));
}

void TestChangeHostEntry::replaceRefusesALineChangedOnDisk()
{
    writeBytes(m_path, "1|a|b\r\n2|c|d\r\n");
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);
    // Edited by hand meanwhile: the second line is no longer what was loaded.
    const QByteArray byHand = "1|a|b\r\n2|c|e\r\n";
    writeBytes(m_path, byHand);
    const QString error = attempt([&] { file.replace(keys.at(1), {1, s("x"), s("10.0.0.1")}); });
    QVERIFY2(error.contains(QStringLiteral("Reload")), qPrintable(error));
    QCOMPARE(readBytes(m_path), byHand);

    // A line inserted above moves the entry: its number no longer names it.
    writeBytes(m_path, "0|new|n\r\n1|a|b\r\n2|c|e\r\n");
    QVERIFY(!attempt([&] { file.replace(keys.at(0), {1, s("x"), s("10.0.0.1")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), QByteArray("0|new|n\r\n1|a|b\r\n2|c|e\r\n"));

    // And a key the file never handed out.
    QVERIFY(!attempt([&] { file.replace(0, {1, s("x"), s("10.0.0.1")}); }).isEmpty());
}

void TestChangeHostEntry::changesFollowEachOtherWithoutReload()
{
    writeBytes(m_path, "1|a|1.1.1.1\r\n2|b|2.2.2.2\r\n3|c|3.3.3.3\r\n");
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);
    QVERIFY(attempt([&] { file.replace(keys.at(2), {3, s("c2"), s("3.3.3.4")}); }).isEmpty());
    QVERIFY(attempt([&] { file.replace(keys.at(2), {1, s("c3"), s("host.example")}); }).isEmpty());
    QVERIFY(attempt([&] { file.remove(keys.at(0)); }).isEmpty());
    QVERIFY(attempt([&] { file.replace(keys.at(2), {2, s("c4"), s("::1")}); }).isEmpty());
    QVERIFY(attempt([&] { file.replace(keys.at(1), {2, s("b"), s("2.2.2.2")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), QByteArray("2|b|2.2.2.2\r\n2|c4|::1\r\n"));
}

void TestChangeHostEntry::appendedEntryCanBeEditedAndRemoved_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("final break") << QByteArray("1|a|b\r\n");
    QTest::newRow("no final break") << QByteArray("1|a|b");
    QTest::newRow("blank lines at the end") << QByteArray("1|a|b\n\n\n");
    QTest::newRow("byte order mark only") << QByteArray("\xEF\xBB\xBF");
}

void TestChangeHostEntry::appendedEntryCanBeEditedAndRemoved()
{
    QFETCH(QByteArray, before);
    if (!before.isEmpty())
        writeBytes(m_path, before);
    HostListFile file(m_path);
    if (!before.isEmpty())
        loadKeys(file);

    EntryKey first = 0;
    EntryKey second = 0;
    QVERIFY(attempt([&] { first = file.append({2, s("one"), s("10.0.0.1")}); }).isEmpty());
    QVERIFY(attempt([&] { second = file.append({3, s("two"), s("10.0.0.2")}); }).isEmpty());
    QVERIFY(first != 0 && second != 0 && first != second);
    const QByteArray appended = readBytes(m_path);
    QVERIFY(appended.endsWith("2|one|10.0.0.1\r\n3|two|10.0.0.2\r\n"));

    // Without a reload: the new lines are known where they are.
    QVERIFY(attempt([&] { file.replace(first, {1, s("uno"), s("10.0.0.11")}); }).isEmpty());
    QVERIFY(attempt([&] { file.remove(second); }).isEmpty());
    QByteArray expected = appended;
    expected.replace("2|one|10.0.0.1\r\n3|two|10.0.0.2\r\n", "1|uno|10.0.0.11\r\n");
    QCOMPARE(readBytes(m_path), expected);
}

void TestChangeHostEntry::refusedChangesLeaveTheFileAlone()
{
    const QByteArray before = "1|a|b\r\n";
    writeBytes(m_path, before);
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);
    for (const HostLine& bad : {HostLine{1, s("a\nb"), s("c")}, HostLine{1, s("a"), s("c\r")}}) {
        QVERIFY(!attempt([&] { file.replace(keys.at(0), bad); }).isEmpty());
        QVERIFY(!attempt([&] { file.append(bad); }).isEmpty());
    }
    QCOMPARE(readBytes(m_path), before);
    // The refusals did not lose the entry.
    QVERIFY(attempt([&] { file.replace(keys.at(0), {1, s("a"), s("d")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), QByteArray("1|a|d\r\n"));
}

void TestChangeHostEntry::legacyFileIsReadInItsCodePage()
{
    writeBytes(m_path, "1|" + Printer1251 + "|10.0.0.1\r\n2|\xB8\xEB\xEA\xE0|10.0.0.2\r\n");
    HostListFile file(m_path);
    const hostlist::LoadedHostList loaded = file.load();
    QVERIFY(!loaded.error);
    QVERIFY(file.loadedAsLegacy());
    QCOMPARE(loaded.entries.size(), 2);
    QCOMPARE(loaded.entries.at(0).host.name, Printer);
    QCOMPARE(loaded.entries.at(1).host.name, s("ёлка"));

    // A UTF-8 list with one line pasted from an old tool: each line is read in its own encoding,
    // so one stray byte garbles no other name.
    const QByteArray mixedBytes =
        "1|\xC3\xA9|a\r\n2|\xFF|b\r\n3|" + s("ёлка Büro").toUtf8() + "|c\r\n4|" + Printer1251 + "|d\r\n";
    const hostlist::ParsedHostList mixed = hostlist::parseHostList(mixedBytes);
    QCOMPARE(mixed.entries.size(), 4);
    QCOMPARE(mixed.entries.at(0).name, s("é"));
    QCOMPARE(mixed.entries.at(1).name, s("я"));
    QCOMPARE(mixed.entries.at(2).name, s("ёлка Büro"));
    QCOMPARE(mixed.entries.at(3).name, Printer);

    // Valid UTF-8 stays UTF-8.
    writeBytes(m_path, "1|" + Printer.toUtf8() + "|10.0.0.1\r\n");
    QCOMPARE(file.load().entries.at(0).host.name, Printer);
    QVERIFY(!file.loadedAsLegacy());
}

void TestChangeHostEntry::legacyFileIsWrittenInItsCodePage()
{
    const QByteArray before = "1|" + Printer1251 + "|10.0.0.1\r\n";
    writeBytes(m_path, before);
    HostListFile file(m_path);
    const QVector<EntryKey> keys = loadKeys(file);

    QVERIFY(attempt([&] { file.append({2, s("Сервер"), s("10.0.0.2")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), before + "2|\xD1\xE5\xF0\xE2\xE5\xF0|10.0.0.2\r\n");
    QVERIFY(attempt([&] { file.replace(keys.at(0), {1, Printer + s(" №2"), s("10.0.0.1")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), "1|" + Printer1251 + " \xB9" + "2|10.0.0.1\r\n2|\xD1\xE5\xF0\xE2\xE5\xF0|10.0.0.2\r\n");

    // A character the code page cannot hold is refused, naming it, rather than written as "?".
    const QByteArray now = readBytes(m_path);
    const QString error = attempt([&] { file.append({1, s("Büro 日本"), s("10.0.0.3")}); });
    QVERIFY2(error.contains(QStringLiteral("windows-1251")), qPrintable(error));
    QVERIFY(!attempt([&] { file.replace(keys.at(0), {1, s("日本"), s("10.0.0.1")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), now);

    // Code-page bytes that would read back as UTF-8 ("Сё" is D1 B8, U+0478) go in UTF-8 instead.
    QVERIFY(attempt([&] { file.append({1, s("Сё"), s("10.0.0.4")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), now + "1|" + s("Сё").toUtf8() + "|10.0.0.4\r\n");
    QCOMPARE(file.load().entries.last().host.name, s("Сё"));

    // A UTF-8 file takes the same name in UTF-8, and a new file starts as UTF-8.
    QFile::remove(m_path);
    QVERIFY(attempt([&] { file.append({2, s("Сервер"), s("10.0.0.2")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), "2|" + s("Сервер").toUtf8() + "|10.0.0.2\r\n");
}

void TestChangeHostEntry::anotherCodePageCanBeNamed()
{
    QStringEncoder koi8("KOI8-R");
    if (!koi8.isValid())
        QSKIP("this Qt has no KOI8-R converter");
    const QByteArray name = koi8.encode(Printer);
    writeBytes(m_path, "1|" + name + "|10.0.0.1\r\n");
    HostListFile file(m_path);
    file.setLegacyEncoding("KOI8-R");
    const hostlist::LoadedHostList loaded = file.load();
    QCOMPARE(loaded.entries.at(0).host.name, Printer);
    QVERIFY(attempt([&] { file.append({1, Printer, s("10.0.0.2")}); }).isEmpty());
    QCOMPARE(readBytes(m_path), "1|" + name + "|10.0.0.1\r\n1|" + name + "|10.0.0.2\r\n");

    // A name Qt does not know falls back to Windows-1251 instead of failing the load.
    writeBytes(m_path, "1|" + Printer1251 + "|10.0.0.1\r\n");
    file.setLegacyEncoding("no-such-code-page");
    QCOMPARE(file.load().entries.at(0).host.name, Printer);
}

void TestChangeHostEntry::windows1251TableAgreesWithQt()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const QString ours = hostlist::decodeWindows1251(all);
    QCOMPARE(ours.size(), 256);
    // Every byte reads back as itself.
    QCOMPARE(hostlist::encodeWindows1251(ours).value_or(QByteArray()), all);

    QStringDecoder qt("windows-1251");
    if (!qt.isValid())
        QSKIP("this Qt has no Windows-1251 converter to compare with");
    const QString theirs = qt.decode(all);
    for (int b = 0; b < 256; ++b)
        QVERIFY2(ours.at(b) == theirs.at(b), qPrintable(QStringLiteral("byte 0x%1: U+%2, Qt says U+%3")
                                                            .arg(b, 2, 16, QLatin1Char('0'))
                                                            .arg(ours.at(b).unicode(), 4, 16, QLatin1Char('0'))
                                                            .arg(theirs.at(b).unicode(), 4, 16, QLatin1Char('0'))));
}

void TestChangeHostEntry::utf8CheckAgreesWithQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("ASCII") << QByteArray("1|a|b\r\n");
    QTest::newRow("two bytes") << QByteArray("\xC3\xA9");
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("highest") << QByteArray("\xF4\x8F\xBF\xBF");
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80");
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF");
    QTest::newRow("overlong three") << QByteArray("\xE0\x80\xAF");
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80");
    QTest::newRow("cut at end") << QByteArray("a\xE2\x82");
    QTest::newRow("lone continuation") << QByteArray("a\x80");
    QTest::newRow("F8") << QByteArray("\xF8\x88\x80\x80\x80");
    QTest::newRow("cp1251 word") << Printer1251;
}

void TestChangeHostEntry::utf8CheckAgreesWithQt()
{
    QFETCH(QByteArray, bytes);
    // Qt turns every bad sequence into U+FFFD, so only valid UTF-8 comes back as it was.
    QCOMPARE(hostlist::isUtf8(bytes), QString::fromUtf8(bytes).toUtf8() == bytes);
}

void TestChangeHostEntry::importPlanSaysWhatAndWhy()
{
    const QString text = s("Mail server 10.0.0.1\n"
                           "\n"
                           "  127.0.0.2  \r\n"
                           "2|gw|10.0.0.254\n"
                           "bad 10.0.0.300\n"
                           "a|b 10.0.0.5\n"
                           "again 10.0.0.1\n"
                           "old 127.0.0.1\n"
                           "3||\n"
                           "v6\t::1\n");
    const hostlist::ImportPlan plan = hostlist::planImport(text, {{1, s("here"), s("127.0.0.1")}});
    QCOMPARE(plan.accepted.size(), 4);
    QCOMPARE(plan.accepted.at(0), (HostLine{3, s("Mail server"), s("10.0.0.1")}));
    QCOMPARE(plan.accepted.at(1), (HostLine{3, s("127.0.0.2"), s("127.0.0.2")}));
    QCOMPARE(plan.accepted.at(2), (HostLine{2, s("gw"), s("10.0.0.254")}));
    QCOMPARE(plan.accepted.at(3), (HostLine{3, s("v6"), s("::1")}));
    QCOMPARE(plan.rejected.size(), 5);
    const int lines[] = {5, 6, 7, 8, 9};
    const char* why[] = {"IPv4", "|", "already", "already", "empty"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(plan.rejected.at(i).line, lines[i]);
        QVERIFY2(plan.rejected.at(i).why.contains(QString::fromLatin1(why[i])), qPrintable(plan.rejected.at(i).why));
    }
}

void TestChangeHostEntry::importPlanTakesAnyLine_data()
{
    // Digits of other scripts pass QChar::isDigit() but give no type; with bars and empty fields.
    QTest::addColumn<QString>("first");
    QTest::newRow("Arabic-Indic one") << s("\u0661");
    QTest::newRow("Devanagari five") << s("\u096B");
    QTest::newRow("fullwidth three") << s("\uFF13");
    QTest::newRow("mathematical bold one") << s("\U0001D7CF");
    QTest::newRow("superscript two") << s("\u00B2");
    QTest::newRow("ASCII seven") << s("7");
}

void TestChangeHostEntry::importPlanTakesAnyLine()
{
    QFETCH(QString, first);
    const QStringList rests = {
        s("|x|127.0.0.1"),   s("|"),   s("||"), s("|||"), s("|x|"), s("||127.0.0.9"), s(" |x|127.0.0.1"),
        s("|\u0661|\u0661"), QString()};
    for (const QString& rest : rests) {
        const QString line = first + rest;
        const hostlist::ImportPlan plan = hostlist::planImport(QString(line + u'\n' + line));
        QVERIFY2(plan.accepted.size() + plan.rejected.size() <= 2, qPrintable(line));
        for (const HostLine& e : plan.accepted) {
            QVERIFY2(e.type >= 0 && e.type <= 3 && !e.address.isEmpty(), qPrintable(line));
            QVERIFY2(!e.name.contains(u'|'), qPrintable(line));
        }
        for (const auto& r : plan.rejected)
            QVERIFY2(!r.why.isEmpty(), qPrintable(line));
    }
    // A list line with another script's digit is refused with its reason.
    const hostlist::ImportPlan plan = hostlist::planImport(QString(first + s("|x|127.0.0.1")));
    if (first == s("7")) {
        QCOMPARE(plan.accepted.size(), 1);
    } else {
        QCOMPARE(plan.rejected.size(), 1);
        QVERIFY2(plan.rejected.first().why.contains(QLatin1String("type digit 0 to 9")),
                 qPrintable(plan.rejected.first().why));
    }
}

void TestChangeHostEntry::importAppendsInOneWrite()
{
    writeBytes(m_path, "1|" + Printer1251 + "|10.0.0.1");
    HostListFile file(m_path);
    loadKeys(file);
    QVector<EntryKey> keys;
    const QVector<HostLine> hosts{{3, s("Сервер"), s("10.0.0.2")}, {3, s("b"), s("10.0.0.3")}};
    QVERIFY(attempt([&] { keys = file.appendAll(hosts); }).isEmpty());
    QCOMPARE(keys.size(), 2);
    QCOMPARE(readBytes(m_path),
             "1|" + Printer1251 + "|10.0.0.1\r\n3|\xD1\xE5\xF0\xE2\xE5\xF0|10.0.0.2\r\n3|b|10.0.0.3\r\n");
    QVERIFY(attempt([&] { file.remove(keys.at(0)); }).isEmpty());
    QCOMPARE(readBytes(m_path), "1|" + Printer1251 + "|10.0.0.1\r\n3|b|10.0.0.3\r\n");

    // One host the file's code page cannot hold stops them all.
    const QByteArray before = readBytes(m_path);
    QVERIFY(!attempt([&] { file.appendAll({{3, s("ok"), s("10.0.0.4")}, {3, s("日本"), s("10.0.0.5")}}); }).isEmpty());
    QCOMPARE(readBytes(m_path), before);
}

void TestChangeHostEntry::addressRules_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("probeable");
    QTest::addColumn<QString>("said"); // part of the refusal

    QTest::newRow("dotted quad") << s("192.168.0.1") << true << QString();
    QTest::newRow("loopback") << s("127.0.0.1") << true << QString();
    QTest::newRow("short form") << s("127.1") << true << QString();
    QTest::newRow("one number") << s("2130706433") << true << QString();
    QTest::newRow("hex and octal parts") << s("0x7f.0.0.01") << true << QString();
    QTest::newRow("IPv6 loopback") << s("::1") << true << QString();
    QTest::newRow("IPv6 with zone") << s("fe80::1%1") << true << QString();
    QTest::newRow("host name") << s("mail.example.org") << true << QString();
    QTest::newRow("single label") << s("router") << true << QString();
    QTest::newRow("trailing dot") << s("example.org.") << true << QString();
    QTest::newRow("digits inside a name") << s("10.0.0.300a") << true << QString();
    QTest::newRow("international name") << s("bücher.example") << true << QString();
    QTest::newRow("63-character label") << QString(63, u'a') + s(".example") << true << QString();

    QTest::newRow("empty") << QString() << false << s("empty");
    QTest::newRow("spaces only") << s("   ") << false << s("empty");
    QTest::newRow("octet too large") << s("10.0.0.300") << false << s("IPv4");
    QTest::newRow("five parts") << s("1.2.3.4.5") << false << s("IPv4");
    QTest::newRow("any address") << s("0.0.0.0") << false << s("one host");
    QTest::newRow("broadcast") << s("255.255.255.255") << false << s("one host");
    QTest::newRow("bad IPv6") << s("1::2::3") << false << s("IPv6");
    QTest::newRow("unspecified IPv6") << s("::") << false << s("one host");
    QTest::newRow("space inside") << s("a b") << false << s("host name");
    QTest::newRow("bar") << s("h|x") << false << s("host name");
    QTest::newRow("leading hyphen") << s("-a.example") << false << s("host name");
    QTest::newRow("empty label") << s("a..example") << false << s("host name");
    QTest::newRow("64-character label") << QString(64, u'a') + s(".example") << false << s("host name");
    QTest::newRow("254 characters") << QString(QString(62, u'a') + u'.').repeated(4) + s("ab") << false
                                    << s("host name");
}

void TestChangeHostEntry::addressRules()
{
    QFETCH(QString, address);
    QFETCH(bool, probeable);
    QFETCH(QString, said);
    const QString problem = hostlist::addressProblem(address);
    QVERIFY2(problem.isEmpty() == probeable, qPrintable(problem));
    if (!probeable)
        QVERIFY2(problem.contains(said, Qt::CaseInsensitive), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestChangeHostEntry)
#include "tst_changehostentry.moc"
