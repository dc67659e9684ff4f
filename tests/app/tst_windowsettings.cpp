// What the window keeps between runs, through real files: a long list of unticked entries must
// never cost the user the other settings.
#include "app/windowsettings.h"
#include "platform/settingsstore.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// Entries with long Cyrillic names: as many as a list holds take about 3.4 MiB as UTF-8.
QStringList manyLongNames(int count)
{
    QStringList out;
    const QString stem = QStringLiteral("Сервер бухгалтерии, второй этаж, кабинет номер ");
    for (int i = 0; i < count; ++i)
        out.append(WindowSettings::entryIdentity(stem + QString::number(i),
                                                 QStringLiteral("10.%1.%2.1").arg(i / 256).arg(i % 256)));
    return out;
}

WindowSettings unusual()
{
    WindowSettings s;
    s.geometryTwips = QRect(300, 450, 9000, 6000);
    s.gridLines = true;
    s.alertRules.downAfter = 7;
    s.alertRules.upAfter = 4;
    s.alertRules.recentProbes = 50;
    s.alertRules.degradedLossPercent = 0;
    s.alertRules.degradedRttMs = 250;
    s.probeIntervalMs = 60000;
    s.probeTimeoutMs = 300;
    s.probePayloadBytes = 1472;
    s.columnWidths = {211, 133, 90, 60};
    s.historyLimits = *monitor::HistoryLimits::of(2, 30, 3650, 64);
    return s;
}

void compareKept(const WindowSettings& got, const WindowSettings& want)
{
    QCOMPARE(got.gridLines, want.gridLines);
    QVERIFY(got.alertRules == want.alertRules);
    QCOMPARE(got.probeIntervalMs, want.probeIntervalMs);
    QCOMPARE(got.probeTimeoutMs, want.probeTimeoutMs);
    QCOMPARE(got.probePayloadBytes, want.probePayloadBytes);
    QCOMPARE(got.columnWidths, want.columnWidths);
    QVERIFY(got.historyLimits == want.historyLimits);
    QVERIFY(got.unticked == want.unticked);
}

// The settings file and the files beside it copied to a new folder, so that they are read from
// the disk: QSettings answers a second store of the same file from its cache.
QString copiedToNewFolder(const QTemporaryDir& dir, const QString& ini)
{
    static int copies = 0;
    const QDir to(dir.filePath(QStringLiteral("copy%1").arg(++copies)));
    if (!to.mkpath(QStringLiteral(".")))
        return {};
    for (const QFileInfo& file : QFileInfo(ini).dir().entryInfoList(QDir::Files))
        QFile::copy(file.filePath(), to.filePath(file.fileName()));
    return to.filePath(QFileInfo(ini).fileName());
}

} // namespace

class tst_WindowSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void manyUntickedEntriesKeepEveryOtherSetting_data();
    void manyUntickedEntriesKeepEveryOtherSetting();
    void payloadOutOfRangeFallsBack_data();
    void payloadOutOfRangeFallsBack();
    void historyLimitsAreTakenEachOnItsOwn_data();
    void historyLimitsAreTakenEachOnItsOwn();
};

void tst_WindowSettings::payloadOutOfRangeFallsBack_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("payload");
    QTest::newRow("none") << QStringLiteral("0") << 0;
    QTest::newRow("a full link") << QStringLiteral("1472") << 1472;
    QTest::newRow("a byte past it") << QStringLiteral("1473") << 5;
    QTest::newRow("negative") << QStringLiteral("-1") << 5;
    QTest::newRow("not a number") << QStringLiteral("big") << 5;
    QTest::newRow("past 32 bits") << QStringLiteral("4294967301") << 5;
}

void tst_WindowSettings::historyLimitsAreTakenEachOnItsOwn_data()
{
    // [History] as stored (raw, minute and hour days, megabytes; empty: absent), and the limits read.
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QVector<int>>("limits");
    QTest::newRow("absent: the defaults") << QStringList{{}, {}, {}, {}} << QVector<int>{7, 90, 730, 1024};
    QTest::newRow("all set") << QStringList{u"1"_qs, u"14"_qs, u"36500"_qs, u"16"_qs} << QVector<int>{1, 14, 36500, 16};
    QTest::newRow("a bad one keeps its default")
        << QStringList{u"0"_qs, u"30"_qs, u"36501"_qs, u"15"_qs} << QVector<int>{7, 30, 730, 1024};
    QTest::newRow("not numbers") << QStringList{u"week"_qs, u"-3"_qs, u"1e9"_qs, u"4294967297"_qs}
                                 << QVector<int>{7, 90, 730, 1024};
}

void tst_WindowSettings::historyLimitsAreTakenEachOnItsOwn()
{
    QFETCH(QStringList, stored);
    QFETCH(QVector<int>, limits);
    QTemporaryDir dir;
    platform::SettingsStore store(dir.filePath(QStringLiteral("Tivane.ini")));
    const QString keys[] = {u"RawDays"_qs, u"MinuteDays"_qs, u"HourDays"_qs, u"MaxMegabytes"_qs};
    for (int i = 0; i < 4; ++i) {
        if (!stored[i].isEmpty())
            store.write(u"History"_qs, keys[i], stored[i]);
    }
    const monitor::HistoryLimits got = WindowSettings::load(store).historyLimits;
    QVERIFY(got == *monitor::HistoryLimits::of(limits[0], limits[1], limits[2], limits[3]));
}

void tst_WindowSettings::payloadOutOfRangeFallsBack()
{
    QFETCH(QString, stored);
    QFETCH(int, payload);
    QTemporaryDir dir;
    platform::SettingsStore store(dir.filePath(QStringLiteral("Tivane.ini")));
    store.write(QStringLiteral("Probe"), QStringLiteral("PayloadBytes"), stored);
    QCOMPARE(WindowSettings::load(store).probePayloadBytes, payload);
}

void tst_WindowSettings::manyUntickedEntriesKeepEveryOtherSetting_data()
{
    QTest::addColumn<bool>("earlierVersion"); // the entries start in the settings file itself
    QTest::addColumn<int>("count");
    QTest::newRow("as many as a list holds") << false << 32767;
    // Percent-encoded there, 12,500 of them took 3.4 MiB and every setting read as its default.
    QTest::newRow("moved out of an earlier version's file") << true << 12500;
}

void tst_WindowSettings::manyUntickedEntriesKeepEveryOtherSetting()
{
    QFETCH(bool, earlierVersion);
    QFETCH(int, count);
    QTemporaryDir dir;
    QString ini = dir.filePath(QStringLiteral("Tivane.ini"));
    WindowSettings want = unusual();
    want.unticked = manyLongNames(count);
    if (!earlierVersion) {
        platform::SettingsStore store(ini);
        QVERIFY2(want.save(store), qPrintable(store.errorString()));
    } else {
        // As earlier versions wrote them: percent-encoded, comma-separated, under [View].
        platform::SettingsStore store(ini);
        QVERIFY(want.save(store));
        QStringList encoded;
        for (const QString& identity : want.unticked)
            encoded.append(QString::fromLatin1(QUrl::toPercentEncoding(identity)));
        store.write(QStringLiteral("View"), QStringLiteral("Unticked"), encoded.join(u','));
        QVERIFY(store.sync());
        QFile::remove(store.besidePath(QStringLiteral("unticked.txt")));
        QVERIFY(!QFile::exists(store.besidePath(QStringLiteral("unticked.txt"))));
        QVERIFY(QFileInfo(ini).size() > 3 * 1024 * 1024);
    }
    {
        platform::SettingsStore store(copiedToNewFolder(dir, ini));
        WindowSettings first = WindowSettings::load(store);
        compareKept(first, want);
        first.geometryTwips = WindowSettings::loadGeometry(store);
        QVERIFY2(first.save(store), qPrintable(store.errorString()));
        // The settings stay small, far below what their reader takes; the entries sit beside them.
        const QFileInfo saved(store.fileName());
        QVERIFY2(saved.size() < 4096, qPrintable(QString::number(saved.size())));
        QVERIFY(QFileInfo(store.besidePath(QStringLiteral("unticked.txt"))).size() > count * 100);
        ini = store.fileName();
    }
    platform::SettingsStore again(copiedToNewFolder(dir, ini));
    QVERIFY(!again.contains(QStringLiteral("View"), QStringLiteral("Unticked")));
    compareKept(WindowSettings::load(again), want);
    QCOMPARE(WindowSettings::loadGeometry(again), want.geometryTwips);
}

QTEST_MAIN(tst_WindowSettings)
#include "tst_windowsettings.moc"
