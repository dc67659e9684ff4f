#include "platform/settingsstore.h"
#include "tests/support/smalldisk.h"
#include "tests/support/testfiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using platform::ConversionError;

class TestSettingsStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void toBoolReads_data();
    void toBoolReads();
    void toBoolRefuses_data();
    void toBoolRefuses();
    void toInt32Reads_data();
    void toInt32Reads();
    void toInt32Refuses_data();
    void toInt32Refuses();
    void toSingleReads_data();
    void toSingleReads();
    void toSingleRefuses_data();
    void toSingleRefuses();
    void boolTextReadsBack();

    void missingKeyGivesDefaultText();
    void valuesSurviveReopen();
    void booleansAreStoredAsWords();
    void syncReportsUnwritableFile();
    void fullDiskKeepsTheOldFileAndSaysWhy_data();
    void fullDiskKeepsTheOldFileAndSaysWhy();
    void hugeOrHostileFileReadsAsDefaults();
    void anyTextRoundTripsExactly_data();
    void anyTextRoundTripsExactly();
    void randomKeysAndValuesRoundTrip();
    void refusedFileIsNeverOverwritten();
    void filesBesideAreWrittenWholeOrNotAtAll();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString iniPath() const { return m_dir->filePath(QStringLiteral("settings.ini")); }
    // The file under a new name each time, so that it is read from the disk.
    QString copyOfIni()
    {
        const QString copy = m_dir->filePath(QStringLiteral("copy%1.ini").arg(++m_copies));
        return QFile::copy(iniPath(), copy) ? copy : QString();
    }
    int m_copies = 0;
};

void TestSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSettingsStore::toBoolReads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("value");
    QTest::newRow("True") << QStringLiteral("True") << true;
    QTest::newRow("TRUE") << QStringLiteral("TRUE") << true;
    QTest::newRow("true") << QStringLiteral("true") << true;
    QTest::newRow("False") << QStringLiteral("False") << false;
    QTest::newRow("false") << QStringLiteral("false") << false;
    QTest::newRow("FALSE") << QStringLiteral("FALSE") << false;
    QTest::newRow("1") << QStringLiteral("1") << true;
    QTest::newRow("0") << QStringLiteral("0") << false;
    QTest::newRow("-1") << QStringLiteral("-1") << true;
    QTest::newRow("2 is not zero") << QStringLiteral("2") << true;
}

void TestSettingsStore::toBoolReads()
{
    QFETCH(QString, text);
    QFETCH(bool, value);
    QCOMPARE(platform::toBool(text), value);
}

void TestSettingsStore::toBoolRefuses_data()
{
    // QVariant would take any non-empty text other than "0"/"false" as true; a stored "no"
    // reading as true would flip the user's choice.
    QTest::addColumn<QString>("text");
    QTest::newRow("no") << QStringLiteral("no");
    QTest::newRow("yes") << QStringLiteral("yes");
    QTest::newRow("empty") << QString();
    QTest::newRow("abc") << QStringLiteral("abc");
    QTest::newRow("Truth") << QStringLiteral("Truth");
}

void TestSettingsStore::toBoolRefuses()
{
    QFETCH(QString, text);
    try {
        platform::toBool(text);
        QFAIL("accepted");
    } catch (const ConversionError& e) {
        QVERIFY2(e.message().contains(u'"' + text + u'"'), qPrintable(e.message()));
    }
}

void TestSettingsStore::toInt32Reads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("120") << QStringLiteral("120") << 120;
    QTest::newRow("-15") << QStringLiteral("-15") << -15;
    QTest::newRow("0") << QStringLiteral("0") << 0;
    QTest::newRow("largest") << QStringLiteral("2147483647") << 2147483647;
    QTest::newRow("smallest") << QStringLiteral("-2147483648") << int(-2147483647 - 1);
    // Fractions round half to even, as whole-number conversions of stored values always did.
    QTest::newRow("8350.5 down to even") << QStringLiteral("8350.5") << 8350;
    QTest::newRow("8351.5 up to even") << QStringLiteral("8351.5") << 8352;
    QTest::newRow("2.4") << QStringLiteral("2.4") << 2;
    QTest::newRow("-2.5") << QStringLiteral("-2.5") << -2;
}

void TestSettingsStore::toInt32Reads()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(platform::toInt32(text), value);
}

void TestSettingsStore::toInt32Refuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("word") << QStringLiteral("abc");
    QTest::newRow("empty") << QString();
    QTest::newRow("too large") << QStringLiteral("2147483648");
    QTest::newRow("too small") << QStringLiteral("-2147483649");
    QTest::newRow("infinite") << QStringLiteral("inf");
    QTest::newRow("not a number") << QStringLiteral("nan");
    QTest::newRow("number and word") << QStringLiteral("12px");
}

void TestSettingsStore::toInt32Refuses()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(ConversionError, platform::toInt32(text));
}

void TestSettingsStore::toSingleReads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("value");
    QTest::newRow("8350.5") << QStringLiteral("8350.5") << 8350.5f;
    QTest::newRow("-15") << QStringLiteral("-15") << -15.0f;
    QTest::newRow("0.1") << QStringLiteral("0.1") << 0.1f;
    QTest::newRow("120") << QStringLiteral("120") << 120.0f;
}

void TestSettingsStore::toSingleReads()
{
    QFETCH(QString, text);
    QFETCH(float, value);
    QCOMPARE(platform::toSingle(text), value);
}

void TestSettingsStore::toSingleRefuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("word") << QStringLiteral("abc");
    QTest::newRow("empty") << QString();
    QTest::newRow("beyond single range") << QStringLiteral("1e39");
    QTest::newRow("infinite") << QStringLiteral("inf");
}

void TestSettingsStore::toSingleRefuses()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(ConversionError, platform::toSingle(text));
}

void TestSettingsStore::boolTextReadsBack()
{
    QCOMPARE(platform::boolText(true), QStringLiteral("True"));
    QCOMPARE(platform::boolText(false), QStringLiteral("False"));
    QCOMPARE(platform::toBool(platform::boolText(true)), true);
    QCOMPARE(platform::toBool(platform::boolText(false)), false);
}

void TestSettingsStore::missingKeyGivesDefaultText()
{
    platform::SettingsStore store(iniPath());
    QVERIFY(!store.contains(QStringLiteral("Options"), QStringLiteral("Timeout")));
    QCOMPARE(store.read(QStringLiteral("Options"), QStringLiteral("Timeout"), 120), QStringLiteral("120"));
    QCOMPARE(store.read(QStringLiteral("Options"), QStringLiteral("Timeout"), -15), QStringLiteral("-15"));
    QCOMPARE(store.read(QStringLiteral("Options"), QStringLiteral("Wave"), QStringLiteral("up.wav")),
             QStringLiteral("up.wav"));
}

void TestSettingsStore::valuesSurviveReopen()
{
    struct Value
    {
        QString section, key, text;
    };
    const QVector<Value> values = {
        {QStringLiteral("Options"), QStringLiteral("Timeout"), QStringLiteral("120")},
        {QStringLiteral("Options"), QStringLiteral("Interval"), QStringLiteral("8350.5")},
        {QStringLiteral("Window"), QStringLiteral("Left"), QStringLiteral("-15")},
        {QStringLiteral("Window Pos"), QStringLiteral("Column Width"), QStringLiteral("1440")},
        {QStringLiteral("General"), QStringLiteral("Key"), QStringLiteral("in the General section")},
        {QStringLiteral("Options"), QStringLiteral("List"), QStringLiteral("a, b,c")},
        {QStringLiteral("Options"), QStringLiteral("Quoted"), QStringLiteral("\"x\";y=z")},
        {QStringLiteral("Options"), QStringLiteral("Empty"), QString()},
        {QStringLiteral("Options"), QStringLiteral("Text"), QStringLiteral("Büro Zürich")},
    };
    {
        platform::SettingsStore store(iniPath());
        for (const Value& v : values)
            store.write(v.section, v.key, v.text);
        for (const Value& v : values)
            QCOMPARE(store.read(v.section, v.key, QStringLiteral("default")), v.text);
        QVERIFY(store.sync());
        QCOMPARE(store.fileName(), iniPath());
    }
    QVERIFY(QFile::exists(iniPath()));

    platform::SettingsStore reopened(iniPath());
    for (const Value& v : values) {
        QVERIFY2(reopened.contains(v.section, v.key), qPrintable(v.key));
        QCOMPARE(reopened.read(v.section, v.key, QStringLiteral("default")), v.text);
    }
    QCOMPARE(platform::toSingle(reopened.read(QStringLiteral("Options"), QStringLiteral("Interval"), 0)), 8350.5f);
    QCOMPARE(platform::toInt32(reopened.read(QStringLiteral("Window"), QStringLiteral("Left"), 0)), -15);
}

void TestSettingsStore::booleansAreStoredAsWords()
{
    {
        platform::SettingsStore store(iniPath());
        store.write(QStringLiteral("Options"), QStringLiteral("Sound"), platform::boolText(true));
        store.write(QStringLiteral("Options"), QStringLiteral("Grid"), platform::boolText(false));
        QVERIFY(store.sync());
    }
    QFile f(iniPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray ini = f.readAll();
    QVERIFY2(ini.contains("Sound=True"), ini.constData());
    QVERIFY2(ini.contains("Grid=False"), ini.constData());

    platform::SettingsStore reopened(iniPath());
    QCOMPARE(platform::toBool(reopened.read(QStringLiteral("Options"), QStringLiteral("Sound"), 0)), true);
    QCOMPARE(platform::toBool(reopened.read(QStringLiteral("Options"), QStringLiteral("Grid"), 1)), false);
}

void TestSettingsStore::syncReportsUnwritableFile()
{
    // A regular file where the folder should be: nothing can create the INI beneath it.
    const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    platform::SettingsStore store(blocker + QStringLiteral("/settings.ini"));
    store.write(QStringLiteral("Options"), QStringLiteral("Timeout"), QStringLiteral("120"));
    QVERIFY(!store.sync());
}

void TestSettingsStore::fullDiskKeepsTheOldFileAndSaysWhy_data()
{
    QTest::addColumn<int>("freeBytes");
    QTest::newRow("nothing free") << 0;
    QTest::newRow("room for the lock, not the file") << 8192;
}

void TestSettingsStore::fullDiskKeepsTheOldFileAndSaysWhy()
{
    // Qt's own writer reported success here and left a cut-off file in place of the good one.
    QFETCH(int, freeBytes);
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    const QString ini = disk.filePath(QStringLiteral("Tivane.ini"));
    {
        platform::SettingsStore store(ini);
        store.write(QStringLiteral("Settings"), QStringLiteral("WndT"), QStringLiteral("120"));
        QVERIFY(store.sync());
    }
    const QByteArray before = readBytes(ini);
    QVERIFY(!before.isEmpty());
    QVERIFY(disk.fill());
    QVERIFY(disk.release(freeBytes));

    platform::SettingsStore store(ini);
    for (int i = 0; i < 200; ++i)
        store.write(QStringLiteral("View"), QStringLiteral("Key%1").arg(i), QString(40, u'v'));
    QVERIFY(!store.sync());
    QVERIFY2(store.errorString().contains(QLatin1String("No space")), qPrintable(store.errorString()));
    QCOMPARE(readBytes(ini), before);
}

void TestSettingsStore::hugeOrHostileFileReadsAsDefaults()
{
    // Another program may leave anything there; none of it may stop the start-up or take memory.
    {
        QFile f(iniPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(512) << 20)); // sparse: costs no disk
    }
    platform::SettingsStore huge(iniPath());
    QCOMPARE(huge.read(QStringLiteral("Settings"), QStringLiteral("WndT"), 120), QStringLiteral("120"));

    writeBytes(iniPath(),
               QByteArray("[Settings\nWndT=\"\\x\nWndL=\"unterminated\n=novalue\n[]\nx\n\x00\xff[View]\n", 61));
    platform::SettingsStore odd(iniPath());
    QCOMPARE(odd.read(QStringLiteral("Settings"), QStringLiteral("WndL"), 0), QStringLiteral("unterminated"));
    QCOMPARE(odd.read(QStringLiteral("View"), QStringLiteral("GridLines"), 0), QStringLiteral("0"));
}

void TestSettingsStore::anyTextRoundTripsExactly_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    const QChar lone[] = {QChar(0xD800), u'x', QChar(0xDC00)};
    QTest::newRow("control then a hex digit")
        << QStringLiteral("View") << QStringLiteral("k") << QStringLiteral("\u0001a\u001fF\u0000");
    QTest::newRow("section General") << QStringLiteral("General") << QStringLiteral("k") << QStringLiteral("v");
    QTest::newRow("section %General") << QStringLiteral("%General") << QStringLiteral("k") << QStringLiteral("w");
    QTest::newRow("lone surrogates") << QString(lone, 3) << QString(lone, 3) << QString(lone, 3);
}

void TestSettingsStore::anyTextRoundTripsExactly()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    {
        platform::SettingsStore store(iniPath());
        store.write(section, key, value);
        // The root's keys and a section named "General" must not meet.
        store.write(QString(), QStringLiteral("k"), QStringLiteral("root"));
        QVERIFY(store.sync());
    }
    // A copy under another name: QSettings would answer from its cache of the file it wrote.
    platform::SettingsStore reopened(copyOfIni());
    QCOMPARE(reopened.read(section, key, QStringLiteral("<absent>")), value);
    QCOMPARE(reopened.read(QString(), QStringLiteral("k"), QStringLiteral("<absent>")), QStringLiteral("root"));
}

void TestSettingsStore::randomKeysAndValuesRoundTrip()
{
    // Any UTF-16 text at all: sections may nest with "/", keys are one level.
    const quint32 seed = qEnvironmentVariableIsSet("TIVANE_FUZZ_SEED")
                             ? quint32(qEnvironmentVariableIntValue("TIVANE_FUZZ_SEED"))
                             : QRandomGenerator::system()->generate();
    qInfo("seed %u (repeat with TIVANE_FUZZ_SEED=%u)", seed, seed);
    QRandomGenerator random(seed);
    const char16_t alphabet[] = {u'a', u'Z', u'0', u' ',   u'%',   u'"',   u'\\',  u';',   u'#',  u'=',
                                 u',', u'@', u'[', u']',   u'\n',  u'\r',  u'\t',  0,      1,     0x1A,
                                 u'x', u'F', 0xA0, 0x2028, 0x0416, 0xFEFF, 0xD83D, 0xDE00, 0xFFFF};
    const auto text = [&](int minimum, bool slashes) {
        QString out;
        const int size = minimum + random.bounded(12);
        for (int i = 0; i < size; ++i) {
            const char16_t c = random.bounded(4) == 0 ? char16_t(random.bounded(0x10000))
                                                      : alphabet[random.bounded(int(std::size(alphabet)))];
            out += QChar(c == u'/' && !slashes ? u'_' : c);
        }
        return out;
    };
    for (int round = 0; round < 20; ++round) {
        QMap<QString, QString> written;
        {
            QFile::remove(iniPath());
            platform::SettingsStore store(iniPath());
            for (int i = 0; i < 30; ++i) {
                // QSettings itself drops empty levels of a path; those are left out.
                QString section = text(1, false);
                if (random.bounded(3) == 0)
                    section = QStringLiteral("General");
                const QString key = text(1, false);
                const QString value = text(0, false);
                store.write(section, key, value);
                written.insert(section + u'/' + key, value);
            }
            QVERIFY(store.sync());
        }
        platform::SettingsStore reopened(copyOfIni());
        for (auto it = written.cbegin(); it != written.cend(); ++it) {
            const qsizetype slash = it.key().lastIndexOf(u'/');
            const QString got =
                reopened.read(it.key().left(slash), it.key().mid(slash + 1), QStringLiteral("<absent>"));
            QVERIFY2(got == it.value(), qPrintable(QStringLiteral("seed %1, %2").arg(seed).arg(it.key())));
        }
    }
}

void TestSettingsStore::refusedFileIsNeverOverwritten()
{
    // Far beyond anything we write: read as defaults, and then left as it was, not replaced by them.
    QByteArray big = "[View]\nGridLines=True\n";
    big += QByteArray((qint64(9) << 20), 'x');
    writeBytes(iniPath(), big);
    {
        platform::SettingsStore store(iniPath());
        QCOMPARE(store.read(QStringLiteral("View"), QStringLiteral("GridLines"), 0), QStringLiteral("0"));
        store.write(QStringLiteral("View"), QStringLiteral("GridLines"), QStringLiteral("False"));
        QVERIFY(!store.sync());
        QVERIFY2(store.errorString().contains(QLatin1String("was not read")), qPrintable(store.errorString()));
    }
    QCOMPARE(QFileInfo(iniPath()).size(), big.size());
    QVERIFY(readBytes(iniPath()) == big);
}

void TestSettingsStore::filesBesideAreWrittenWholeOrNotAtAll()
{
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    platform::SettingsStore full(disk.filePath(QStringLiteral("Tivane.ini")));
    QVERIFY(full.writeBeside(QStringLiteral("b.txt"), "kept\n"));
    QVERIFY(disk.fill());
    QVERIFY(!full.writeBeside(QStringLiteral("b.txt"), QByteArray(20000, 'n')));
    // The failure is the next sync's, with its reason.
    QVERIFY(!full.sync());
    QVERIFY2(full.errorString().contains(QLatin1String("b.txt")), qPrintable(full.errorString()));
    QCOMPARE(full.readBeside(QStringLiteral("b.txt"), 100), QByteArray("kept\n"));
    QCOMPARE(full.readBeside(QStringLiteral("b.txt"), 3), QByteArray()); // larger than allowed: not ours
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
