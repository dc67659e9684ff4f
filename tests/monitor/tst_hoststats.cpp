#include "monitor/history.h"
#include "monitor/hoststats.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>
#include <cmath>

using namespace monitor;

namespace {

const QTimeZone kZone(3600); // a fixed zone, so texts do not depend on the machine
// 2026-12-07 12:03:07 +01:00
const qint64 kNoon = QDateTime(QDate(2026, 12, 7), QTime(12, 3, 7), kZone).toMSecsSinceEpoch();
constexpr std::int32_t kTimedOut = 11010;

StateChange downChange(HostKey key, const QString& name, const QString& address, qint64 since)
{
    StateChange c;
    c.key = key;
    c.name = name;
    c.address = address;
    c.from = HostState::Up;
    c.to = HostState::Down;
    c.sinceMs = since;
    c.previousSinceMs = since - 60000;
    c.status = kTimedOut;
    return c;
}

} // namespace

class TestHostStats : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stateFollowsFailuresInARow_data();
    void stateFollowsFailuresInARow();
    void rulesDecideTheState_data();
    void rulesDecideTheState();
    void recentFigures_data();
    void recentFigures();
    void degradedIsToldLikeDown();
    void downAfterIsClampedAndALowerValueActsOnTheNextFailure();
    void downSinceIsTheFirstFailureAndRecoveryTellsTheOutage();
    void changesAreHandedOverOncePerSweep();
    void manyChangesMakeOneNotification();
    void notificationTexts();
    void statisticsMaths();
    void failuresThatSentNothingCountAsLost();
    void formatRtt_data();
    void formatRtt();
    void formatLossDurationAndMoment();
    void statColumnsAndToolTip();
    void overallStateAndTrayTip();
    void entriesKeepOrLoseTheirStatistics();
    void resetAndClearForgetResults();
};

// Results as a string: '.' a reply, 'x' a time-out; states as a string: '?' unknown, 'u' up,
// 'd' down, one letter after each result.
void TestHostStats::stateFollowsFailuresInARow_data()
{
    QTest::addColumn<int>("downAfter");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("states");
    QTest::addColumn<int>("changes");

    QTest::newRow("three in a row") << 3 << "xxxx"
                                    << "??dd" << 1;
    QTest::newRow("a reply breaks the run") << 3 << "xx.xx.xxx"
                                            << "??uuuuuud" << 2;
    QTest::newRow("one reply is enough to come back") << 3 << ".xxx.x"
                                                      << "uuuduu" << 3;
    QTest::newRow("down after one") << 1 << "x.x"
                                    << "dud" << 3;
    QTest::newRow("first reply") << 3 << ".."
                                 << "uu" << 1;
    QTest::newRow("five") << 5 << "xxxx.xxxxx"
                          << "????uuuuud" << 2;
}

void TestHostStats::stateFollowsFailuresInARow()
{
    QFETCH(int, downAfter);
    QFETCH(QString, results);
    QFETCH(QString, states);
    QFETCH(int, changes);

    HostMonitor m;
    AlertRules rules;
    rules.downAfter = downAfter;
    rules.degradedLossPercent = 0; // up and down alone here; degraded has its own cases
    m.setRules(rules);
    m.setEntry(1, QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    int seen = 0;
    for (qsizetype i = 0; i < results.size(); ++i) {
        const bool reply = results[i] == u'.';
        QVERIFY(m.record(1, reply ? 0 : kTimedOut, reply ? 500 : -1, kNoon + i * 1000));
        seen += int(m.endSweep().size());
        const HostState expected = states[i] == u'u'   ? HostState::Up
                                   : states[i] == u'd' ? HostState::Down
                                                       : HostState::Unknown;
        QVERIFY2(m.stats(1)->state == expected, qPrintable(QStringLiteral("after result %1").arg(i + 1)));
    }
    QCOMPARE(seen, changes);
}

// Results: '.' a reply of 1 ms, 's' a slow one of 500 ms, 'x' a time-out; states as above with
// 'g' for degraded. Rules: down after, up after, recent probes, loss %, round trip ms.
void TestHostStats::rulesDecideTheState_data()
{
    QTest::addColumn<QList<int>>("rules");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("states");
    QTest::addColumn<int>("changes");

    QTest::newRow("up after two replies") << QList<int>{3, 2, 20, 0, 0} << ".x..x."
                                          << "???uuu" << 1;
    QTest::newRow("down after two, up after two") << QList<int>{2, 2, 20, 0, 0} << ".xx.x.."
                                                  << "??ddddu" << 2;
    QTest::newRow("degraded by loss until it slides out") << QList<int>{5, 1, 10, 30, 0} << ".x.x.x......"
                                                          << "uuuuuggggggu" << 3;
    QTest::newRow("a short run of loss is not yet degraded") << QList<int>{5, 1, 20, 20, 0} << ".x.x.x"
                                                             << "uuuuuu" << 1;
    QTest::newRow("degraded by latency") << QList<int>{3, 1, 4, 0, 100} << "..ssss...."
                                         << "uugggggggu" << 3;
    QTest::newRow("latency at the threshold counts") << QList<int>{3, 1, 2, 0, 500} << ".sss"
                                                     << "uugg" << 2;
    QTest::newRow("down outranks degraded") << QList<int>{3, 1, 4, 25, 0} << ".xxx"
                                            << "uggd" << 3;
    QTest::newRow("back from down straight to degraded") << QList<int>{2, 1, 4, 50, 0} << ".xx."
                                                         << "uudg" << 3;
    QTest::newRow("both off stays up") << QList<int>{3, 1, 20, 0, 0} << "sxsxs"
                                       << "uuuuu" << 1;
}

void TestHostStats::rulesDecideTheState()
{
    QFETCH(QList<int>, rules);
    QFETCH(QString, results);
    QFETCH(QString, states);
    QFETCH(int, changes);

    HostMonitor m;
    m.setRules(AlertRules{rules[0], rules[1], rules[2], rules[3], rules[4]});
    m.setEntry(1, QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    int seen = 0;
    for (qsizetype i = 0; i < results.size(); ++i) {
        const bool reply = results[i] != u'x';
        QVERIFY(m.record(1, reply ? 0 : kTimedOut, results[i] == u's' ? 500000 : 1000, kNoon + i * 1000));
        const QVector<StateChange> batch = m.endSweep();
        for (const StateChange& c : batch)
            QVERIFY(c.from != c.to);
        seen += int(batch.size());
        const HostState expected = states[i] == u'u'   ? HostState::Up
                                   : states[i] == u'd' ? HostState::Down
                                   : states[i] == u'g' ? HostState::Degraded
                                                       : HostState::Unknown;
        QVERIFY2(m.stats(1)->state == expected, qPrintable(QStringLiteral("after result %1").arg(i + 1)));
    }
    QCOMPARE(seen, changes);
    QCOMPARE(m.degradedCount(), m.stats(1)->state == HostState::Degraded ? 1 : 0);
}

// Round trips in microseconds, -1 for a time-out, over a window of the given size.
void TestHostStats::recentFigures_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<QList<qint64>>("rtts");
    QTest::addColumn<qint64>("jitter");
    QTest::addColumn<qint64>("p95");
    QTest::addColumn<double>("loss");

    QTest::newRow("jitter is the mean jump")
        << 20 << QList<qint64>{1000, 3000, 2000, 6000} << qint64(2333) << qint64(6000) << 0.0;
    QTest::newRow("a loss between replies is no jump")
        << 20 << QList<qint64>{1000, -1, 3000} << qint64(2000) << qint64(3000) << 100.0 / 3;
    QTest::newRow("the window keeps the newest")
        << 3 << QList<qint64>{90000, -1, 1000, 1000, 1000} << qint64(0) << qint64(1000) << 0.0;
    QList<qint64> ramp;
    for (qint64 i = 1; i <= 20; ++i)
        ramp.append(i * 1000);
    QTest::newRow("95th of twenty is the nineteenth") << 20 << ramp << qint64(1000) << qint64(19000) << 0.0;
    QTest::newRow("one reply") << 20 << QList<qint64>{5000} << qint64(-1) << qint64(5000) << 0.0;
    QTest::newRow("no reply") << 20 << QList<qint64>{-1, -1} << qint64(-1) << qint64(-1) << 100.0;
}

void TestHostStats::recentFigures()
{
    QFETCH(int, window);
    QFETCH(QList<qint64>, rtts);
    QFETCH(qint64, jitter);
    QFETCH(qint64, p95);
    QFETCH(double, loss);

    HostMonitor m;
    AlertRules rules;
    rules.recentProbes = window;
    m.setRules(rules);
    m.setEntry(1, QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    for (qsizetype i = 0; i < rtts.size(); ++i)
        m.record(1, rtts[i] < 0 ? kTimedOut : 0, rtts[i], kNoon + i * 1000);
    const HostStats& s = *m.stats(1);
    QVERIFY(s.recent.size() <= std::size_t(window));
    QCOMPARE(s.jitterUs(), jitter);
    QCOMPARE(s.p95RttUs(), p95);
    QVERIFY2(std::abs(s.recentLossPercent() - loss) < 1e-9, qPrintable(QString::number(s.recentLossPercent())));
    QCOMPARE(statText(s, StatColumn::RecentLoss, kNoon, kZone), formatLoss(loss));
    QCOMPARE(statText(s, StatColumn::Jitter, kNoon, kZone), monitor::formatRtt(jitter));

    // A shorter window drops the oldest at once.
    rules.recentProbes = 2;
    m.setRules(rules);
    QVERIFY(m.stats(1)->recent.size() <= 2);
}

void TestHostStats::degradedIsToldLikeDown()
{
    HostMonitor m;
    AlertRules rules;
    rules.recentProbes = 2;
    rules.degradedLossPercent = 50;
    m.setRules(rules);
    m.setEntry(1, QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    m.setEntry(2, QStringLiteral("b"), QStringLiteral("10.0.0.2"));
    m.record(1, 0, 1000, kNoon);
    m.record(2, 0, 1000, kNoon);
    m.endSweep();
    m.record(2, kTimedOut, -1, kNoon + 1000);
    const QVector<StateChange> changes = m.endSweep();
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.first().to, HostState::Degraded);
    QVERIFY(changes.first().notable());
    QCOMPARE(m.overall(), Overall::SomeDegraded);
    QCOMPARE(m.overall(QSet<HostKey>{1}), Overall::AllUp);
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: 1 of 2 degraded\nb"));
    QCOMPARE(statText(*m.stats(2), StatColumn::State, kNoon, kZone), QStringLiteral("Degraded"));
    QVERIFY(statSortKey(*m.stats(2), StatColumn::State) > statSortKey(*m.stats(1), StatColumn::State));

    const Notification n = describeChanges(changes, kNoon + 1000, kZone);
    QCOMPARE(n.title, QStringLiteral("Host degraded"));
    QCOMPARE(n.text, QStringLiteral("b (10.0.0.2) is degraded since 12:03:08"));
    QCOMPARE(n.cue(), Notification::Cue::WentDown);

    // A host down beside a degraded one: down leads the tip, degraded follows.
    m.setDownAfter(1);
    m.record(1, kTimedOut, -1, kNoon + 2000);
    QCOMPARE(m.overall(), Overall::SomeDown);
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: 1 of 2 down\na\nDegraded: b"));
    m.record(2, 0, 1000, kNoon + 2000);
    m.record(2, 0, 1000, kNoon + 3000);
    const QVector<StateChange> back = m.endSweep();
    QCOMPARE(back.last().from, HostState::Degraded);
    QCOMPARE(back.last().to, HostState::Up);
    QCOMPARE(describeChanges({back.last()}, kNoon + 3000, kZone).title, QStringLiteral("Host up again"));
}

void TestHostStats::downAfterIsClampedAndALowerValueActsOnTheNextFailure()
{
    HostMonitor m;
    QCOMPARE(m.downAfter(), 3);
    m.setDownAfter(0);
    QCOMPARE(m.downAfter(), 1);
    m.setDownAfter(100000);
    QCOMPARE(m.downAfter(), HostMonitor::MaxDownAfter);

    m.setDownAfter(5);
    m.setEntry(7, QStringLiteral("gw"), QStringLiteral("10.0.0.1"));
    for (int i = 0; i < 3; ++i)
        m.record(7, kTimedOut, -1, kNoon + i);
    QCOMPARE(m.stats(7)->state, HostState::Unknown);
    m.setDownAfter(2);
    QCOMPARE(m.stats(7)->state, HostState::Unknown); // nothing changes between probes
    m.record(7, kTimedOut, -1, kNoon + 10);
    QCOMPARE(m.stats(7)->state, HostState::Down);
    QCOMPARE(m.stats(7)->stateSinceMs, kNoon); // the run began with the first of the four
}

void TestHostStats::downSinceIsTheFirstFailureAndRecoveryTellsTheOutage()
{
    HostMonitor m;
    m.setEntry(1, QStringLiteral("mail server"), QStringLiteral("10.0.0.1"));
    m.record(1, 0, 300, kNoon - 5000);
    QCOMPARE(m.endSweep().size(), 1); // unknown -> up
    for (int i = 0; i < 3; ++i) {
        m.record(1, kTimedOut, -1, kNoon + i * 1000);
        const QVector<StateChange> changes = m.endSweep();
        QCOMPARE(changes.size(), i == 2 ? 1 : 0);
        if (i == 2) {
            const StateChange& c = changes.first();
            QCOMPARE(c.key, HostKey(1));
            QCOMPARE(c.from, HostState::Up);
            QCOMPARE(c.to, HostState::Down);
            QCOMPARE(c.sinceMs, kNoon);
            QCOMPARE(c.previousSinceMs, kNoon - 5000);
            QCOMPARE(c.status, kTimedOut);
            QVERIFY(c.notable());
        }
    }
    const qint64 back = kNoon + 4 * 60000 + 30000;
    m.record(1, 0, 250, back);
    const QVector<StateChange> changes = m.endSweep();
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.first().to, HostState::Up);
    QCOMPARE(changes.first().previousDurationMs(), back - kNoon);
    QCOMPARE(m.stats(1)->stateSinceMs, back);
}

void TestHostStats::changesAreHandedOverOncePerSweep()
{
    HostMonitor m;
    for (HostKey k = 1; k <= 8; ++k)
        m.setEntry(k, QStringLiteral("h%1").arg(k), QStringLiteral("10.0.0.%1").arg(k));
    QVERIFY(!m.hasPendingChanges());
    for (int sweep = 0; sweep < 3; ++sweep) {
        for (HostKey k = 1; k <= 8; ++k)
            m.record(k, k <= 5 ? kTimedOut : 0, 100, kNoon + sweep * 1000 + qint64(k));
        const QVector<StateChange> changes = m.endSweep();
        if (sweep == 0) {
            QCOMPARE(changes.size(), 3); // the three that answered came up
        } else if (sweep == 1) {
            QVERIFY(changes.isEmpty());
        } else {
            QCOMPARE(changes.size(), 5);
            for (int i = 0; i < 5; ++i) {
                QCOMPARE(changes[i].key, HostKey(i + 1)); // in the order they happened
                QCOMPARE(changes[i].to, HostState::Down);
            }
        }
    }
    QVERIFY(!m.hasPendingChanges());
    QVERIFY(m.endSweep().isEmpty());
    QCOMPARE(m.downCount(), 5);
    QCOMPARE(m.upCount(), 3);
}

void TestHostStats::manyChangesMakeOneNotification()
{
    QVector<StateChange> changes;
    const char* names[] = {"mail", "gw", "printer", "nas", "db", "wiki", "backup"};
    for (int i = 0; i < 7; ++i)
        changes.append(
            downChange(HostKey(i), QString::fromLatin1(names[i]), QStringLiteral("10.0.0.%1").arg(i), kNoon));

    Notification n = describeChanges(changes.first(5), kNoon, kZone);
    QCOMPARE(n.wentDown, 5);
    QCOMPARE(n.title, QStringLiteral("5 hosts went down"));
    QCOMPARE(n.text, QStringLiteral("mail, gw, printer, nas and db"));
    QCOMPARE(n.cue(), Notification::Cue::WentDown);

    n = describeChanges(changes, kNoon, kZone);
    QCOMPARE(n.text, QStringLiteral("mail, gw, printer, nas, db and 2 more"));

    // Two come back in the same sweep as three go down.
    QVector<StateChange> mixed = changes.first(3);
    for (int i = 3; i < 5; ++i) {
        StateChange c = changes[i];
        c.from = HostState::Down;
        c.to = HostState::Up;
        mixed.append(c);
    }
    n = describeChanges(mixed, kNoon, kZone);
    QCOMPARE(n.title, QStringLiteral("3 hosts went down, 2 came back"));
    QCOMPARE(n.text, QStringLiteral("Down: mail, gw and printer\nUp again: nas and db"));
    QCOMPARE(n.cue(), Notification::Cue::WentDown); // going down is the news that matters more

    n = describeChanges(mixed.last(2), kNoon, kZone);
    QCOMPARE(n.title, QStringLiteral("2 hosts came back"));
    QCOMPARE(n.cue(), Notification::Cue::CameBack);
}

void TestHostStats::notificationTexts()
{
    StateChange down = downChange(1, QStringLiteral("mail server"), QStringLiteral("10.0.0.1"), kNoon);
    Notification n = describeChanges({down}, kNoon + 3000, kZone);
    QCOMPARE(n.title, QStringLiteral("Host down"));
    QCOMPARE(n.text, QStringLiteral("mail server (10.0.0.1) is down since 12:03:07"));

    // Reported the next day, the date is needed.
    n = describeChanges({down}, kNoon + 86400000, kZone);
    QCOMPARE(n.text, QStringLiteral("mail server (10.0.0.1) is down since 2026-12-07 12:03:07"));

    StateChange up = down;
    up.from = HostState::Down;
    up.to = HostState::Up;
    up.previousSinceMs = kNoon;
    up.sinceMs = kNoon + 4 * 60000 + 12000;
    up.status = 0;
    n = describeChanges({up}, up.sinceMs, kZone);
    QCOMPARE(n.title, QStringLiteral("Host up again"));
    QCOMPARE(n.text, QStringLiteral("mail server (10.0.0.1) is up again after 4 min"));
    QCOMPARE(n.cue(), Notification::Cue::CameBack);

    // A host without a name is known by its address.
    down.name.clear();
    QCOMPARE(describeChanges({down}, kNoon, kZone).text, QStringLiteral("10.0.0.1 is down since 12:03:07"));

    // A host's first reply after the start is no news.
    StateChange first = up;
    first.from = HostState::Unknown;
    first.previousSinceMs = 0;
    QVERIFY(!first.notable());
    n = describeChanges({first}, kNoon, kZone);
    QVERIFY(n.isEmpty());
    QCOMPARE(n.cue(), Notification::Cue::None);
    QVERIFY(n.title.isEmpty());
    QVERIFY(describeChanges({}, kNoon, kZone).isEmpty());
}

void TestHostStats::statisticsMaths()
{
    HostMonitor m;
    m.setEntry(1, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    const HostStats* s = m.stats(1);
    QCOMPARE(s->lossPercent(), -1.0);
    QCOMPARE(s->avgRttUs(), -1);
    QCOMPARE(s->minRttUs, -1);

    m.record(1, 0, 40, kNoon);
    m.record(1, kTimedOut, -1, kNoon + 1000);
    m.record(1, 0, 45, kNoon + 2000);
    m.record(1, 11003, 7, kNoon + 3000); // an error's round trip is not a reply's
    m.record(1, 0, 1000000, kNoon + 4000);
    m.record(1, 0, 36, kNoon + 5000);
    s = m.stats(1);
    QCOMPARE(s->sent, quint64(6));
    QCOMPARE(s->replies, quint64(4));
    QVERIFY(std::abs(s->lossPercent() - 100.0 * 2 / 6) < 1e-9);
    QCOMPARE(s->minRttUs, 36);
    QCOMPARE(s->maxRttUs, 1000000);
    QCOMPARE(s->avgRttUs(), (40 + 45 + 1000000 + 36 + 2) / 4); // rounded to the nearest
    QCOMPARE(s->lastRttUs, 36);
    QCOMPARE(s->lastStatus, 0);
    QCOMPARE(s->lastProbeMs, kNoon + 5000);

    m.record(1, kTimedOut, 999, kNoon + 6000);
    QCOMPARE(m.stats(1)->lastRttUs, -1);
    QCOMPARE(m.stats(1)->failuresInRow, 1);
    QCOMPARE(m.stats(1)->maxRttUs, 1000000);

    // Rounding of the mean: 1 and 2 give 1.5, shown as 2.
    HostMonitor r;
    r.setEntry(2, QString(), QStringLiteral("127.0.0.2"));
    r.record(2, 0, 1, kNoon);
    r.record(2, 0, 2, kNoon);
    QCOMPARE(r.stats(2)->avgRttUs(), 2);
    // A reply measured as negative (a clock step) counts as 0, not as a negative time.
    r.record(2, 0, -5, kNoon);
    QCOMPARE(r.stats(2)->minRttUs, 0);

    // Unknown keys are refused without touching anything.
    QVERIFY(!m.record(99, 0, 1, kNoon));
    QCOMPARE(m.stats(99), nullptr);
}

void TestHostStats::failuresThatSentNothingCountAsLost()
{
    HostMonitor m;
    m.setEntry(1, QStringLiteral("bad"), QStringLiteral("not an address"));
    for (int i = 0; i < 3; ++i)
        m.record(1, -1, -1, kNoon + i);
    QCOMPARE(m.stats(1)->sent, quint64(3));
    QCOMPARE(m.stats(1)->lossPercent(), 100.0);
    QCOMPARE(m.stats(1)->state, HostState::Down);
    QCOMPARE(m.endSweep().first().status, -1);
}

void TestHostStats::formatRtt_data()
{
    QTest::addColumn<qint64>("us");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << qint64(-1) << QString();
    QTest::newRow("zero") << qint64(0) << QStringLiteral("< 0.01 ms");
    QTest::newRow("below resolution") << qint64(4) << QStringLiteral("< 0.01 ms");
    QTest::newRow("loopback") << qint64(40) << QStringLiteral("0.04 ms");
    QTest::newRow("loopback rounded") << qint64(38) << QStringLiteral("0.04 ms");
    QTest::newRow("lan") << qint64(1234) << QStringLiteral("1.23 ms");
    QTest::newRow("just under ten") << qint64(9994) << QStringLiteral("9.99 ms");
    QTest::newRow("rounds up to ten") << qint64(9995) << QStringLiteral("10.0 ms");
    QTest::newRow("tens") << qint64(42345) << QStringLiteral("42.3 ms");
    QTest::newRow("rounds up to a hundred") << qint64(99950) << QStringLiteral("100 ms");
    QTest::newRow("hundreds") << qint64(812400) << QStringLiteral("812 ms");
    QTest::newRow("seconds") << qint64(1500000) << QStringLiteral("1500 ms");
}

void TestHostStats::formatRtt()
{
    QFETCH(qint64, us);
    QFETCH(QString, text);
    QCOMPARE(monitor::formatRtt(us), text);
}

void TestHostStats::formatLossDurationAndMoment()
{
    QCOMPARE(formatLoss(-1), QString());
    QCOMPARE(formatLoss(0), QStringLiteral("0%"));
    QCOMPARE(formatLoss(100.0 / 3), QStringLiteral("33.3%"));
    QCOMPARE(formatLoss(50), QStringLiteral("50%"));
    QCOMPARE(formatLoss(100), QStringLiteral("100%"));
    // One lost of many thousands is still a loss, and one answer of many is not total loss.
    QCOMPARE(formatLoss(0.01), QStringLiteral("0.1%"));
    QCOMPARE(formatLoss(99.99), QStringLiteral("99.9%"));

    QCOMPARE(formatDuration(0), QStringLiteral("0 s"));
    QCOMPARE(formatDuration(-5000), QStringLiteral("0 s"));
    QCOMPARE(formatDuration(59999), QStringLiteral("59 s"));
    QCOMPARE(formatDuration(4 * 60000 + 59000), QStringLiteral("4 min"));
    QCOMPARE(formatDuration(2 * 3600000), QStringLiteral("2 h"));
    QCOMPARE(formatDuration(2 * 3600000 + 5 * 60000), QStringLiteral("2 h 5 min"));
    QCOMPARE(formatDuration(3 * 86400000LL + 4 * 3600000), QStringLiteral("3 d 4 h"));
    QCOMPARE(formatDuration(86400000LL), QStringLiteral("1 d"));

    QCOMPARE(formatMoment(0, kNoon, kZone), QString());
    QCOMPARE(formatMoment(kNoon, kNoon, kZone), QStringLiteral("12:03:07"));
    QCOMPARE(formatMoment(kNoon, kNoon + 12 * 3600000, kZone), QStringLiteral("2026-12-07 12:03:07"));
    QCOMPARE(formatMoment(kNoon, kNoon, QTimeZone(-5 * 3600)), QStringLiteral("06:03:07"));
}

void TestHostStats::statColumnsAndToolTip()
{
    HostMonitor m;
    m.setEntry(1, QStringLiteral("mail server"), QStringLiteral("10.0.0.1"));
    HostStats fresh = *m.stats(1);
    for (StatColumn c : {StatColumn::State, StatColumn::Sent, StatColumn::Received, StatColumn::Loss, StatColumn::Last,
                         StatColumn::Avg, StatColumn::Min, StatColumn::Max, StatColumn::Since}) {
        QVERIFY(!statHeader(c).isEmpty());
        QVERIFY2(statText(fresh, c, kNoon, kZone).isEmpty(), qPrintable(statHeader(c)));
    }
    QCOMPARE(statToolTip(fresh, kNoon, kZone), QStringLiteral("mail server (10.0.0.1)\nNot probed yet"));

    m.record(1, 0, 40, kNoon);
    m.record(1, 0, 60, kNoon + 1000);
    m.record(1, kTimedOut, -1, kNoon + 2000);
    const HostStats& s = *m.stats(1);
    QCOMPARE(statText(s, StatColumn::State, kNoon, kZone), QStringLiteral("Up"));
    QCOMPARE(statText(s, StatColumn::Sent, kNoon, kZone), QStringLiteral("3"));
    QCOMPARE(statText(s, StatColumn::Received, kNoon, kZone), QStringLiteral("2"));
    QCOMPARE(statText(s, StatColumn::Loss, kNoon, kZone), QStringLiteral("33.3%"));
    QCOMPARE(statText(s, StatColumn::Last, kNoon, kZone), QString());
    QCOMPARE(statText(s, StatColumn::Avg, kNoon, kZone), QStringLiteral("0.05 ms"));
    QCOMPARE(statText(s, StatColumn::Min, kNoon, kZone), QStringLiteral("0.04 ms"));
    QCOMPARE(statText(s, StatColumn::Max, kNoon, kZone), QStringLiteral("0.06 ms"));
    QCOMPARE(statText(s, StatColumn::Since, kNoon, kZone), QStringLiteral("12:03:07"));
    QCOMPARE(statToolTip(s, kNoon + 120000, kZone),
             QStringLiteral("mail server (10.0.0.1)\nUp since 12:03:07 (2 min)\nSent 3, received 2, loss 33.3%\n"
                            "Round trip: last none, min 0.04 ms, avg 0.05 ms, max 0.06 ms\n"
                            "Last 3 probes: loss 33.3%, jitter 0.02 ms, 95th percentile 0.06 ms\n1 failed in a row"));

    // Sorting by a column orders by value, not by text ("9 ms" before "10 ms").
    HostStats a = s;
    HostStats b = s;
    a.maxRttUs = 9000;
    b.maxRttUs = 10000;
    QVERIFY(statSortKey(a, StatColumn::Max) < statSortKey(b, StatColumn::Max));
    QVERIFY(statSortKey(fresh, StatColumn::Max) < statSortKey(a, StatColumn::Max));
    QVERIFY(statSortKey(fresh, StatColumn::Loss) < statSortKey(s, StatColumn::Loss));
    b.state = HostState::Down;
    QVERIFY(statSortKey(b, StatColumn::State) > statSortKey(a, StatColumn::State));
    QVERIFY(statSortKey(a, StatColumn::State) > statSortKey(fresh, StatColumn::State));
    QVERIFY(!defaultStatColumns().isEmpty());
}

void TestHostStats::overallStateAndTrayTip()
{
    HostMonitor m;
    QCOMPARE(m.overall(), Overall::NoneProbed);
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: no hosts"));

    for (HostKey k = 1; k <= 12; ++k)
        m.setEntry(k, QStringLiteral("host %1").arg(k), QStringLiteral("10.0.0.%1").arg(k));
    QCOMPARE(m.overall(), Overall::NoneProbed);
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: 12 hosts, none probed yet"));

    for (HostKey k = 1; k <= 10; ++k)
        m.record(k, 0, 100, kNoon);
    QCOMPARE(m.overall(), Overall::AllUp);
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: 10 of 12 up"));
    m.record(11, 0, 100, kNoon);
    m.record(12, 0, 100, kNoon);
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: all 12 up"));

    for (int i = 0; i < 3; ++i) {
        m.record(9, kTimedOut, -1, kNoon + 1000 + i);
        m.record(4, kTimedOut, -1, kNoon + 1000 + i);
    }
    QCOMPARE(m.overall(), Overall::SomeDown);
    QCOMPARE(m.downCount(), 2);
    // Names in the order of the keys, whichever went down first.
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: 2 of 12 down\nhost 4 and host 9"));

    m.record(4, 0, 100, kNoon + 5000);
    m.record(9, 0, 100, kNoon + 5000);
    QCOMPARE(m.overall(), Overall::AllUp);

    // Removing a host that is down takes it out of the count.
    for (int i = 0; i < 3; ++i)
        m.record(2, kTimedOut, -1, kNoon + 6000 + i);
    QCOMPARE(m.downCount(), 1);
    m.removeEntry(2);
    QCOMPARE(m.downCount(), 0);
    QCOMPARE(m.upCount(), 11);
    QCOMPARE(m.overall(), Overall::AllUp);
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: all 11 up"));

    HostMonitor one;
    one.setEntry(1, QStringLiteral("x"), QStringLiteral("127.0.0.1"));
    QCOMPARE(one.trayToolTip(), QStringLiteral("Tivane: 1 host, none probed yet"));
    one.record(1, 0, 1, kNoon);
    QCOMPARE(one.trayToolTip(), QStringLiteral("Tivane: the host is up"));
}

void TestHostStats::entriesKeepOrLoseTheirStatistics()
{
    HostMonitor m;
    m.setEntry(1, QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    m.setEntry(2, QStringLiteral("b"), QStringLiteral("10.0.0.2"));
    m.setEntry(3, QStringLiteral("c"), QStringLiteral("10.0.0.3"));
    for (int i = 0; i < 3; ++i) {
        m.record(1, kTimedOut, -1, kNoon + i);
        m.record(2, 0, 50, kNoon + i);
        m.record(3, 0, 70, kNoon + i);
    }
    m.endSweep();
    QCOMPARE(m.downCount(), 1);

    // A new name for the same address keeps everything.
    m.setEntry(2, QStringLiteral("b renamed"), QStringLiteral("10.0.0.2"));
    QCOMPARE(m.stats(2)->name, QStringLiteral("b renamed"));
    QCOMPARE(m.stats(2)->sent, quint64(3));

    // Another address is another machine: its results start afresh, and so does the count.
    m.setEntry(1, QStringLiteral("a"), QStringLiteral("10.0.0.9"));
    QCOMPARE(m.stats(1)->sent, quint64(0));
    QCOMPARE(m.stats(1)->state, HostState::Unknown);
    QCOMPARE(m.downCount(), 0);

    // Removing one entry leaves the others' statistics where they were.
    m.removeEntry(2);
    QVERIFY(!m.contains(2));
    QCOMPARE(m.count(), 2);
    QCOMPARE(m.stats(3)->sent, quint64(3));
    QCOMPARE(m.stats(3)->minRttUs, 70);
    m.removeEntry(2); // twice is harmless

    // Rows made anew keep their host's results under the new key.
    QVERIFY(m.rekey(3, 30));
    QVERIFY(!m.contains(3));
    QCOMPARE(m.stats(30)->sent, quint64(3));
    QVERIFY(!m.rekey(3, 31)); // gone
    QVERIFY(!m.rekey(30, 1)); // taken
    QCOMPARE(m.stats(1)->address, QStringLiteral("10.0.0.9"));
    QVERIFY(m.rekey(30, 30));
    for (int i = 0; i < 3; ++i)
        m.record(30, kTimedOut, -1, kNoon + 20 + i);
    QVERIFY(m.rekey(30, 3));
    const QVector<StateChange> moved = m.endSweep();
    QCOMPARE(moved.size(), 1);
    QCOMPARE(moved.first().key, HostKey(3)); // a change still pending names the new key
    QCOMPARE(m.trayToolTip(), QStringLiteral("Tivane: 1 of 2 down\nc"));
    m.record(3, 0, 70, kNoon + 30);
    m.endSweep();

    // A change not handed over yet is dropped with its host.
    for (int i = 0; i < 3; ++i)
        m.record(3, kTimedOut, -1, kNoon + 10 + i);
    QVERIFY(m.hasPendingChanges());
    m.removeEntry(3);
    QVERIFY(!m.hasPendingChanges());
}

void TestHostStats::resetAndClearForgetResults()
{
    HostMonitor m;
    for (HostKey k = 1; k <= 3; ++k)
        m.setEntry(k, QStringLiteral("h"), QStringLiteral("10.0.0.%1").arg(k));
    for (int i = 0; i < 3; ++i) {
        m.record(1, kTimedOut, -1, kNoon + i);
        m.record(2, 0, 10, kNoon + i);
    }
    m.endSweep();
    m.record(3, 0, 10, kNoon + 9);
    QVERIFY(m.hasPendingChanges());

    m.resetStatistics();
    QCOMPARE(m.count(), 3);
    QVERIFY(!m.hasPendingChanges());
    QCOMPARE(m.overall(), Overall::NoneProbed);
    QCOMPARE(m.downCount(), 0);
    QCOMPARE(m.upCount(), 0);
    for (HostKey k = 1; k <= 3; ++k) {
        QCOMPARE(m.stats(k)->sent, quint64(0));
        QCOMPARE(m.stats(k)->failuresInRow, 0);
        QCOMPARE(m.stats(k)->name, QStringLiteral("h"));
    }
    // After a reset the run of failures starts from nothing.
    m.record(1, kTimedOut, -1, kNoon + 100);
    QCOMPARE(m.stats(1)->state, HostState::Unknown);

    m.clear();
    QCOMPARE(m.count(), 0);
    QVERIFY(!m.contains(1));
    QVERIFY(!m.hasPendingChanges());
    QVERIFY(!m.record(1, 0, 1, kNoon));
}

QTEST_GUILESS_MAIN(TestHostStats)
#include "tst_hoststats.moc"
