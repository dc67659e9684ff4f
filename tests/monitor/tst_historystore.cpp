// The history on disk: what a restart finds, roll-ups, retention and the size cap by an injected
// clock, a writer killed mid-write, a full disk and files that cannot be opened.

#include "monitor/historystore.h"
#include "tests/support/smalldisk.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace monitor;

namespace {

const QString kName = QStringLiteral("router");
const QString kAddr = QStringLiteral("127.0.0.1");
constexpr qint64 kMin = 60000;
constexpr qint64 kHour = 3600000;
constexpr qint64 kDay = 86400000;
// A whole hour a day ago: within the raw retention for the stores on the system's clock.
const qint64 kT0 = QDateTime::currentMSecsSinceEpoch() / kHour * kHour - kDay;

// A clock the test moves; the writer reads it from its own thread.
struct TestClock
{
    std::atomic<qint64> ms{kT0};
    HistoryStore::Clock fn()
    {
        return [this] { return ms.load(); };
    }
};

// Runs a SQL scalar on a connection of the test's own.
QString ask(const QString& path, const QString& sql)
{
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                result = q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return result;
}

// The child of the kill test: writes sweeps of 50 hosts until it is killed.
int writeForever(const QString& path)
{
    HistoryStore store(path);
    if (!store.isOpen())
        return 2;
    qint64 t = kT0;
    for (int sweep = 0; sweep < 1000000; ++sweep, t += 20) {
        for (int h = 0; h < 50; ++h)
            store.add(QStringLiteral("h%1").arg(h), kAddr, t, h % 7 ? 0 : 11010, 100 + h);
        store.endSweep();
        if (sweep % 50 == 0) {
            store.sync();
            fputs("written\n", stdout);
            fflush(stdout);
        }
    }
    return 0;
}

} // namespace

class tst_HistoryStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void aRestartFindsTheEarlierSamples();
    void readersSeeWhatIsNotWrittenYetOnce();
    void sliceTakesRawRowsOrRollups_data();
    void sliceTakesRawRowsOrRollups();
    void rollups_data();
    void rollups();
    void retention_data();
    void retention();
    void manyHostsInOneBatch_data();
    void manyHostsInOneBatch();
    void sizeCapDropsTheOldestRawSamplesFirst();
    void killedWriterLeavesASoundFile();
    void unopenableFileLeavesHistoryOff_data();
    void unopenableFileLeavesHistoryOff();
    void fullDiskIsToldOnceAndWritingResumes();
    void aStuckWriterDropsTheOldestOnce();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("history.sqlite")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_HistoryStore::aRestartFindsTheEarlierSamples()
{
    {
        HistoryStore store(dbPath());
        QVERIFY2(store.isOpen(), qPrintable(store.openError()));
        store.add(kName, kAddr, kT0, 0, 1500);
        store.add(QStringLiteral("other"), kAddr, kT0, 0, 9);
        store.endSweep();
        store.add(kName, kAddr, kT0 + 1000, 11010, 77); // a failure keeps no round trip
        store.addEvent(kName, kAddr, StateEvent{kT0 + 1000, HostState::Down, 11010});
    }
    QCOMPARE(ask(dbPath(), QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
    HistoryStore again(dbPath());
    const QVector<HistoryPoint> points = again.samples(kName, kAddr, 0, kT0 + kDay);
    QCOMPARE(points.size(), 2);
    QCOMPARE(points[0].atMs, kT0);
    QCOMPARE(points[0].rttUs, 1500);
    QCOMPARE(points[1].kind, SampleKind::TimedOut);
    QCOMPARE(points[1].rttUs, -1);
    QCOMPARE(ask(dbPath(), QStringLiteral("SELECT count(*) FROM samples WHERE rtt_us IS NULL")), QStringLiteral("1"));
    const QVector<StateEvent> events = again.events(kName, kAddr, 0, kT0 + kDay);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].state, HostState::Down);
}

// The writer commits once a second; a view that asks meanwhile still finds every outcome added,
// each once, whether its row is in the caller's sweep, queued, being written or on disk.
void tst_HistoryStore::readersSeeWhatIsNotWrittenYetOnce()
{
    HistoryStore store(dbPath());
    QVERIFY(store.isOpen());
    const std::int32_t statuses[] = {0, 11010, 11003, -1};
    const SampleKind kinds[] = {SampleKind::Reply, SampleKind::TimedOut, SampleKind::Failed, SampleKind::NotSent};
    int added = 0;
    QElapsedTimer spent;
    spent.start();
    for (int sweep = 0; sweep < 400 && spent.elapsed() < 20000; ++sweep) {
        const qint64 at = kT0 + sweep * 10;
        store.add(kName, kAddr, at, statuses[sweep % 4], 100 + sweep);
        store.add(QStringLiteral("other"), kAddr, at, 0, 5);
        if (sweep % 50 == 7)
            store.addEvent(kName, kAddr, StateEvent{at, HostState::Down, 11010});
        ++added;
        const QVector<HistoryPoint> points = store.samples(kName, kAddr, 0, kT0 + kDay);
        QCOMPARE(points.size(), added);
        QCOMPARE(points.last().atMs, at);
        QCOMPARE(points.last().kind, kinds[sweep % 4]);
        QCOMPARE(points.last().rttUs, sweep % 4 == 0 ? 100 + sweep : -1);
        QCOMPARE(store.events(kName, kAddr, 0, kT0 + kDay).size(), (sweep + 43) / 50);
        if (sweep % 3 == 0)
            store.endSweep();
        if (sweep % 97 == 0)
            store.sync();
    }
    store.sync();
    QCOMPARE(ask(dbPath(), QStringLiteral("SELECT count(*) FROM samples")), QString::number(2 * added));
}

void tst_HistoryStore::sliceTakesRawRowsOrRollups_data()
{
    // A host probed once a minute for 20 days, rolled up as the writer does by itself. The span
    // shown ends now; which rows the view gets.
    QTest::addColumn<qint64>("spanMs");
    QTest::addColumn<bool>("minutes");
    QTest::addColumn<bool>("hours");
    QTest::addColumn<int>("minPoints"); // raw samples at least, and at most twice that
    QTest::newRow("ten minutes: raw") << 10 * kMin << false << false << 9;
    QTest::newRow("six hours: raw") << 6 * kHour << false << false << 359;
    QTest::newRow("a day: minutes, then the newest raw") << kDay << true << false << 1;
    QTest::newRow("a month: hours, minutes, raw") << 30 * kDay << true << true << 1;
}

void tst_HistoryStore::sliceTakesRawRowsOrRollups()
{
    QFETCH(qint64, spanMs);
    TestClock clock;
    const qint64 end = kT0;
    clock.ms = end - 20 * kDay;
    HistoryStore store(dbPath(), {}, clock.fn());
    for (qint64 t = end - 20 * kDay; t < end; t += kMin) {
        store.add(kName, kAddr, t, t % (7 * kMin) ? 0 : 11010, 1000);
        if (t % kDay == 0) {
            clock.ms = t;
            store.maintainNow();
        }
    }
    store.addEvent(kName, kAddr, StateEvent{end - 5 * kMin, HostState::Down, 11010});
    clock.ms = end;
    store.maintainNow();
    // Something added since the last write is in the slice too.
    store.add(kName, kAddr, end, 0, 2000);

    const HistorySlice slice = store.slice(kName, kAddr, end - spanMs + 1, end + 1);
    QFETCH(bool, minutes);
    QFETCH(bool, hours);
    QFETCH(int, minPoints);
    const auto has = [&](qint64 span) {
        return std::any_of(slice.rollups.begin(), slice.rollups.end(),
                           [&](const HistoryRollup& r) { return r.spanMs == span; });
    };
    QCOMPARE(has(kMin), minutes);
    QCOMPARE(has(kHour), hours);
    QVERIFY2(slice.points.size() >= minPoints && slice.points.size() <= 2 * minPoints + 10,
             qPrintable(QString::number(slice.points.size())));
    QCOMPARE(slice.points.last().atMs, end);
    QCOMPARE(slice.points.last().rttUs, 2000);
    QCOMPARE(slice.events.size(), 1);
    // Oldest first, and the roll-ups end where the raw samples begin.
    for (qsizetype i = 1; i < slice.rollups.size(); ++i)
        QVERIFY(slice.rollups[i].atMs >= slice.rollups[i - 1].atMs + slice.rollups[i - 1].spanMs);
    if (!slice.rollups.isEmpty())
        QVERIFY(slice.rollups.last().atMs + slice.rollups.last().spanMs <= slice.points.first().atMs);
    QVERIFY(std::is_sorted(slice.points.begin(), slice.points.end(),
                           [](const HistoryPoint& a, const HistoryPoint& b) { return a.atMs < b.atMs; }));
}

void tst_HistoryStore::rollups_data()
{
    // Samples at kT0 + offset; statuses and round trips; then the minute's and the hour's row.
    QTest::addColumn<QVector<qint64>>("rtts"); // -1: timed out
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("minUs");
    QTest::addColumn<qint64>("avgUs");
    QTest::addColumn<qint64>("maxUs");
    QTest::addColumn<int>("status");
    QTest::newRow("all replies") << QVector<qint64>{100, 200, 600} << 3LL << 3LL << 100LL << 300LL << 600LL << 0;
    QTest::newRow("mostly lost") << QVector<qint64>{-1, 50, -1} << 3LL << 1LL << 50LL << 50LL << 50LL << 11010;
    QTest::newRow("all lost") << QVector<qint64>{-1, -1} << 2LL << 0LL << -1LL << -1LL << -1LL << 11010;
}

void tst_HistoryStore::rollups()
{
    QFETCH(QVector<qint64>, rtts);
    TestClock clock;
    HistoryStore store(dbPath(), {}, clock.fn());
    for (int i = 0; i < rtts.size(); ++i)
        store.add(kName, kAddr, kT0 + i * 1000, rtts[i] < 0 ? 11010 : 0, rtts[i]);
    // Nothing is rolled up while the minute may still get late samples.
    store.maintainNow();
    QVERIFY(store.rollups(kName, kAddr, RollupLevel::Minute, 0, kT0 + kDay).isEmpty());

    clock.ms = kT0 + 2 * kHour;
    store.maintainNow();
    for (const RollupLevel level : {RollupLevel::Minute, RollupLevel::Hour}) {
        const QVector<HistoryRollup> rows = store.rollups(kName, kAddr, level, 0, kT0 + kDay);
        QCOMPARE(rows.size(), 1);
        const HistoryRollup& r = rows[0];
        QCOMPARE(r.atMs, kT0);
        QTEST(r.sent, "sent");
        QTEST(r.received, "received");
        QTEST(r.minUs, "minUs");
        QTEST(r.avgUs, "avgUs");
        QTEST(r.maxUs, "maxUs");
        QTEST(int(r.status), "status");
    }
    QCOMPARE(store.rolledUpTo(RollupLevel::Hour), kT0 + kHour);
}

void tst_HistoryStore::retention_data()
{
    // How old the data are when maintenance runs; which of raw, minute and hour rows are left.
    QTest::addColumn<qint64>("ageMs");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<bool>("minutes");
    QTest::addColumn<bool>("hours");
    QTest::newRow("a day") << kDay << true << true << true;
    QTest::newRow("eight days") << 8 * kDay << false << true << true;
    QTest::newRow("a hundred days") << 100 * kDay << false << false << true;
    QTest::newRow("three years") << 3 * 365 * kDay << false << false << false;
}

void tst_HistoryStore::retention()
{
    QFETCH(qint64, ageMs);
    TestClock clock;
    HistoryStore store(dbPath(), {}, clock.fn());
    store.add(kName, kAddr, kT0 + 5 * kMin, 0, 300);
    clock.ms = kT0 + 2 * kHour; // rolled up before it ages
    store.maintainNow();
    clock.ms = kT0 + ageMs;
    store.maintainNow();
    QTEST(!store.samples(kName, kAddr, 0, kT0 + kDay).isEmpty(), "raw");
    QTEST(!store.rollups(kName, kAddr, RollupLevel::Minute, 0, kT0 + kDay).isEmpty(), "minutes");
    QTEST(!store.rollups(kName, kAddr, RollupLevel::Hour, 0, kT0 + kDay).isEmpty(), "hours");
}

void tst_HistoryStore::manyHostsInOneBatch_data()
{
    // Rows as handed over, in one batch: {host, second, rtt (-1: lost)}; what each host keeps, in
    // time order. Every host's samples, minutes and retention go host by host.
    QTest::addColumn<QVector<QVector<qint64>>>("rows");
    QTest::addColumn<bool>("sharedStrings"); // the caller's same strings every sweep, or fresh ones
    QTest::addColumn<QVector<QVector<qint64>>>("kept");
    const QVector<QVector<qint64>> sweeps{{2, 0, 30}, {0, 0, 10}, {1, 0, 20}, {2, 1, 31}, {0, 1, -1}, {1, 1, 21}};
    const QVector<QVector<qint64>> perHost{{10, -1}, {20, 21}, {30, 31}};
    QTest::newRow("sweeps, shared strings") << sweeps << true << perHost;
    QTest::newRow("sweeps, fresh strings") << sweeps << false << perHost;
    QTest::newRow("a moment twice: the later wins")
        << QVector<QVector<qint64>>{{0, 0, 10}, {1, 0, 20}, {0, 0, 99}, {1, 1, 21}} << true
        << QVector<QVector<qint64>>{{99}, {20, 21}};
    // More rows than go in one statement, a moment twice within one.
    QVector<QVector<qint64>> many;
    QVector<QVector<qint64>> manyKept(2);
    for (qint64 s = 0; s < 50; ++s) {
        if (s < 30)
            many.append({0, s, 100 + s});
        many.append({1, s, 200 + s});
        if (s < 30)
            manyKept[0] << (s == 5 ? 999 : 100 + s);
        manyKept[1] << 200 + s;
    }
    many.append({0, 5, 999});
    QTest::newRow("many rows, a moment twice") << many << true << manyKept;
}

void tst_HistoryStore::manyHostsInOneBatch()
{
    QFETCH(QVector<QVector<qint64>>, rows);
    QFETCH(bool, sharedStrings);
    QFETCH(QVector<QVector<qint64>>, kept);
    TestClock clock;
    HistoryStore store(dbPath(), {}, clock.fn());
    QStringList names;
    for (int h = 0; h < kept.size(); ++h)
        names << QStringLiteral("h%1").arg(h);
    for (const QVector<qint64>& r : rows) {
        const int h = int(r[0]);
        const QString name = sharedStrings ? names[h] : QStringLiteral("h%1").arg(h);
        store.add(name, kAddr, kT0 + r[1] * 1000, r[2] < 0 ? 11010 : 0, r[2]);
    }
    clock.ms = kT0 + 2 * kHour;
    store.maintainNow();
    QCOMPARE(store.hosts().size(), kept.size());
    for (int h = 0; h < kept.size(); ++h) {
        QVector<qint64> rtts;
        for (const HistoryPoint& p : store.samples(names[h], kAddr, 0, kT0 + kDay))
            rtts << p.rttUs;
        QCOMPARE(rtts, kept[h]);
        const QVector<HistoryRollup> minute = store.rollups(names[h], kAddr, RollupLevel::Minute, 0, kT0 + kDay);
        QCOMPARE(minute.size(), 1);
        QCOMPARE(minute[0].sent, kept[h].size());
    }
    clock.ms = kT0 + 8 * kDay;
    store.maintainNow();
    QCOMPARE(ask(dbPath(), QStringLiteral("SELECT count(*) FROM samples")), QStringLiteral("0"));
    QCOMPARE(ask(dbPath(), QStringLiteral("SELECT count(DISTINCT host_id) FROM minutes")),
             QString::number(kept.size()));
}

void tst_HistoryStore::sizeCapDropsTheOldestRawSamplesFirst()
{
    HistoryLimits limits;
    limits.maxBytes = 512 * 1024;
    TestClock clock;
    HistoryStore store(dbPath(), limits, clock.fn());
    // Two hours of 20 hosts at one sample a second: well over the cap.
    for (qint64 t = kT0; t < kT0 + 2 * kHour; t += 1000) {
        for (int h = 0; h < 20; ++h)
            store.add(QStringLiteral("h%1").arg(h), kAddr, t, 0, 100 + (t / 1000) % 900);
        store.endSweep();
    }
    clock.ms = kT0 + 2 * kHour + 5 * kMin;
    store.maintainNow();
    QVERIFY2(store.usedBytes() <= limits.maxBytes, qPrintable(QString::number(store.usedBytes())));
    const QVector<HistoryPoint> kept = store.samples(QStringLiteral("h0"), kAddr, 0, kT0 + kDay);
    QVERIFY(!kept.isEmpty());
    QVERIFY(kept.first().atMs > kT0 + 10 * kMin);       // the oldest went
    QCOMPARE(kept.last().atMs, kT0 + 2 * kHour - 1000); // the newest stayed
    QVERIFY(!store.rollups(QStringLiteral("h0"), kAddr, RollupLevel::Minute, kT0, kT0 + kMin).isEmpty());
}

void tst_HistoryStore::killedWriterLeavesASoundFile()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--write-forever"), dbPath()});
    QVERIFY(child.waitForStarted());
    // A few synced batches, then a kill in the middle of the next ones.
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).count("written\n") >= 3, 20000);
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(ask(dbPath(), QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    QVERIFY(ask(dbPath(), QStringLiteral("SELECT count(*) FROM samples")).toLongLong() >= 3 * 50);
}

void tst_HistoryStore::unopenableFileLeavesHistoryOff_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("opens");     // a new history starts in its place
    QTest::addColumn<QString>("reason"); // a word of the reason
    QTest::newRow("a folder in its place") << QStringLiteral("folder") << false << QStringLiteral("open");
    QTest::newRow("not a database") << QStringLiteral("garbage") << true << QStringLiteral("moved aside");
    QTest::newRow("locked by another copy") << QStringLiteral("locked") << false << QStringLiteral("locked");
}

void tst_HistoryStore::unopenableFileLeavesHistoryOff()
{
    QFETCH(QString, kind);
    QFETCH(bool, opens);
    QFETCH(QString, reason);
    const QByteArray garbage(8192, 'g');
    QSqlDatabase locker;
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(dbPath()));
    } else if (kind == QLatin1String("garbage")) {
        QFile f(dbPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    } else {
        locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        locker.setDatabaseName(dbPath());
        QVERIFY(locker.open());
        QSqlQuery q(locker);
        QVERIFY(q.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE x(a)")));
    }
    {
        HistoryStore store(dbPath());
        QCOMPARE(store.isOpen(), opens);
        QVERIFY2(store.openError().contains(reason), qPrintable(store.openError()));
        // Monitoring goes on: adding and syncing are harmless.
        store.add(kName, kAddr, kT0, 0, 10);
        store.sync();
        if (opens) {
            QCOMPARE(store.samples(kName, kAddr, 0, kT0 + 1).size(), 1);
            QFile aside(store.movedAsideTo());
            QVERIFY(aside.open(QIODevice::ReadOnly));
            QCOMPARE(aside.readAll(), garbage);
            QVERIFY(store.openError().contains(store.movedAsideTo()));
        }
    }
    if (locker.isValid()) {
        locker.close();
        locker = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
    }
}

void tst_HistoryStore::fullDiskIsToldOnceAndWritingResumes()
{
    SmallDisk disk(1024);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    HistoryStore store(disk.filePath(QStringLiteral("history.sqlite")));
    QVERIFY(store.isOpen());
    QSignalSpy failed(&store, &HistoryStore::failed);
    QSignalSpy resumed(&store, &HistoryStore::resumed);
    QVERIFY(disk.fill());
    qint64 t = kT0;
    for (int sweep = 0; sweep < 5; ++sweep) {
        for (int h = 0; h < 200; ++h)
            store.add(QStringLiteral("host number %1").arg(h), kAddr, t, 0, 100);
        t += 1000;
        store.sync();
    }
    QCOMPARE(failed.size(), 1);
    // Said as a full disk, not as a write that failed for a reason of SQLite's own.
    QVERIFY2(failed.at(0).at(0).toString().startsWith(QLatin1String("the disk of")),
             qPrintable(failed.at(0).at(0).toString()));
    QVERIFY(QFile::remove(disk.filePath(QStringLiteral(".ballast"))));
    store.add(kName, kAddr, t, 0, 100);
    store.sync();
    QCOMPARE(resumed.size(), 1);
    QCOMPARE(store.samples(kName, kAddr, t, t + 1).size(), 1);
    QCOMPARE(failed.size(), 1);
}

// A disk that hangs (here: another program holding the file's write lock) leaves the writer
// waiting; what waits for it stays bounded, the newest outcomes are the ones kept, and the user
// hears of it once.
void tst_HistoryStore::aStuckWriterDropsTheOldestOnce()
{
    // A small bound, so the sweeps are all added while the writer waits out its first batch
    // (two seconds of the lock's time-out), even in a sanitizer's build.
    HistoryLimits limits;
    limits.maxQueuedRows = 10000;
    HistoryStore store(dbPath(), limits);
    QVERIFY(store.isOpen());
    QSignalSpy failed(&store, &HistoryStore::failed);
    constexpr qint64 Sweeps = 30;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(dbPath());
        QVERIFY(db.open());
        QSqlQuery hold(db);
        QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        for (qint64 sweep = 0; sweep < Sweeps; ++sweep) {
            for (int h = 0; h < 1000; ++h)
                store.add(QStringLiteral("h%1").arg(h % 4), kAddr, kT0 + sweep * 1000 + h, 0, 100);
            store.endSweep();
        }
        int behind = 0;
        for (const QList<QVariant>& args : std::as_const(failed))
            behind += args.at(0).toString().contains(QLatin1String("behind"));
        QCOMPARE(behind, 1);
        // The newest are still found while they wait.
        QCOMPARE(store.samples(QStringLiteral("h3"), kAddr, kT0 + (Sweeps - 1) * 1000, kT0 + kDay).size(), 250);
        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    store.sync();
    const qint64 kept = ask(dbPath(), QStringLiteral("SELECT count(*) FROM samples")).toLongLong();
    QVERIFY2(kept > 0 && kept <= limits.maxQueuedRows + 1000, qPrintable(QString::number(kept)));
    QCOMPARE(ask(dbPath(), QStringLiteral("SELECT max(t_ms) FROM samples")).toLongLong(),
             kT0 + (Sweeps - 1) * 1000 + 999);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--write-forever") == 0)
        return writeForever(QString::fromLocal8Bit(argv[2]));
    tst_HistoryStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_historystore.moc"
