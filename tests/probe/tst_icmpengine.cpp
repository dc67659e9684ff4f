// The asynchronous engine on this host's loopback network: many probes in flight through
// one socket, outcomes that only ever arrive from the event loop, cancelled probes that
// stay silent, and the asynchronous calls of the Prober interface.

#include "probe/icmpcore.h"
#include "probe/icmpengine.h"
#include "probe/mdlping.h"
#include "probe/prober.h"
#include "tests/support/engineoutcomes.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

QString loopbackAddress(int i)
{
    return QStringLiteral("127.0.%1.%2").arg(i / 250).arg(i % 250 + 1);
}

// Answers from a script, like the test fakes of the window.
class ScriptProber : public Prober
{
public:
    bool SocketsStartup() override { return true; }
    void SocketsCleanup() override {}
    mdlPing::Outcome probe(const QString& address) override
    {
        probed.append(address);
        if (address == QLatin1String("bad"))
            return {-1, 0, 0, mdlPing::Failure::BadAddress, mdlPing::FailureText(mdlPing::Failure::BadAddress), {}};
        const bool silent = address == QLatin1String("silent");
        return {silent ? 11010 : 0, silent ? 1000 : 3, silent ? 1000000 : 3000, mdlPing::Failure::None, {}, {}};
    }

    QStringList probed;
};

} // namespace

class tst_IcmpEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void manyInFlight();
    void outcomesNeverFromInsideStart();
    void cancelledProbesStaySilent();
    void cancelAllIgnoresLateReplies();
    void busyEventLoopDoesNotLengthenRoundTrips();
    void deletedFromItsOwnSignal();
    void enginesShareTheEndpoint();
    void blockingProbesAlongside();
    void proberDefaultsBuiltOnPingHost();
    void icmpProberUsesTheEngine();

private:
    bool m_icmpPermitted = false;
};

void tst_IcmpEngine::initTestCase()
{
    mdlPing::ICMP_ECHO_REPLY reply;
    const mdlPing::Outcome first = mdlPing::Probe(QStringLiteral("127.0.0.1"), reply);
    m_icmpPermitted = first.status != -1;
    if (!m_icmpPermitted)
        qWarning("ICMP is not permitted here (%s); probes through the engine are skipped", qPrintable(first.reason));
}

void tst_IcmpEngine::manyInFlight()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    // As many as an all-at-once sweep keeps in flight, each to its own address, so every
    // outcome must have found its own probe.
    constexpr int kProbes = 256;
    mdlPing::IcmpEngine engine;
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    QHash<quint64, QString> started;
    for (int i = 0; i < kProbes; ++i)
        started.insert(engine.start(loopbackAddress(i)), loopbackAddress(i));
    QCOMPARE(started.size(), kProbes);
    QVERIFY(!started.contains(0));
    QCOMPARE(engine.pending(), kProbes);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), kProbes, 2000);
    QCOMPARE(engine.pending(), 0);
    QSet<quint64> seen;
    for (const QList<QVariant>& outcome : spread(finished)) {
        const quint64 id = outcome.at(0).toULongLong();
        QVERIFY(started.contains(id));
        QVERIFY(!seen.contains(id));
        seen.insert(id);
        QCOMPARE(outcome.at(1).toInt(), 0);
        const int ms = outcome.at(2).toInt();
        const qint64 us = outcome.at(3).toLongLong();
        QVERIFY2(ms >= 0 && ms < 500 && us >= 0 && us / 1000 == ms, qPrintable(QString::number(us)));
        QCOMPARE(outcome.at(4).value<mdlPing::Failure>(), mdlPing::Failure::None);
    }
}

void tst_IcmpEngine::outcomesNeverFromInsideStart()
{
    // A caller that starts probes in a loop must never see an outcome before start()
    // returned, not even for a request that could not be sent at all.
    mdlPing::IcmpEngine engine;
    bool inStart = false;
    bool reentered = false;
    QHash<quint64, QList<QVariant>> outcomes;
    connect(&engine, &mdlPing::IcmpEngine::finished, this, [&](quint64 id, const mdlPing::Outcome& o) {
        reentered = reentered || inStart;
        outcomes.insert(id, {o.status, o.roundTripMs, o.roundTripUs, QVariant::fromValue(o.failure)});
    });
    auto start = [&](const QString& address) {
        inStart = true;
        const quint64 id = engine.start(address);
        inStart = false;
        return id;
    };
    const quint64 bad = start(QStringLiteral("no..such.host"));
    const quint64 zero = start(QStringLiteral("0.0.0.0"));
    quint64 refused = 0;
    quint64 answered = 0;
    if (m_icmpPermitted) {
        refused = start(QStringLiteral("127.255.255.255"));
        answered = start(QStringLiteral("127.0.0.1"));
    }
    QVERIFY(outcomes.isEmpty());
    QTRY_COMPARE(outcomes.size(), m_icmpPermitted ? 4 : 2);
    QVERIFY(!reentered);
    for (const quint64 id : {bad, zero}) {
        QCOMPARE(outcomes[id].at(0).toInt(), -1);
        QCOMPARE(outcomes[id].at(1).toInt(), 0);
        QCOMPARE(outcomes[id].at(3).value<mdlPing::Failure>(), mdlPing::Failure::BadAddress);
    }
    if (m_icmpPermitted) {
        QCOMPARE(outcomes[refused].at(0).toInt(), 11018);
        QCOMPARE(outcomes[refused].at(3).value<mdlPing::Failure>(), mdlPing::Failure::None);
        QCOMPARE(outcomes[answered].at(0).toInt(), 0);
    }
}

void tst_IcmpEngine::cancelledProbesStaySilent()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    mdlPing::IcmpEngine engine;
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    // The replies of both are on their way (on loopback they are queued before start()
    // returns); only the one still wanted may be reported.
    const quint64 dropped = engine.start(QStringLiteral("127.0.0.1"));
    const quint64 kept = engine.start(QStringLiteral("127.0.0.2"));
    const quint64 badDropped = engine.start(QStringLiteral("bad"));
    engine.cancel(dropped);
    engine.cancel(badDropped);
    engine.cancel(dropped); // twice is harmless
    engine.cancel(424242);  // so is an id never given out
    QCOMPARE(engine.pending(), 1);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toULongLong(), kept);
    // A later probe's outcome comes after anything still queued for the cancelled ones.
    const quint64 later = engine.start(QStringLiteral("127.0.0.3"));
    QTRY_COMPARE(finished.size(), 2);
    QCOMPARE(finished.at(1).at(0).toULongLong(), later);
    engine.cancel(later); // after its outcome: nothing happens
    QCOMPARE(engine.pending(), 0);
}

void tst_IcmpEngine::cancelAllIgnoresLateReplies()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    mdlPing::IcmpEngine engine;
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    for (int i = 0; i < 64; ++i)
        engine.start(loopbackAddress(i));
    engine.start(QStringLiteral("bad"));
    engine.cancelAll();
    QCOMPARE(engine.pending(), 0);
    const quint64 after = engine.start(QStringLiteral("127.0.0.1"));
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toULongLong(), after);
    QCOMPARE(spread(finished).at(0).at(1).toInt(), 0);
    // Later ids never repeat the abandoned ones.
    QVERIFY(after > 65);
}

void tst_IcmpEngine::busyEventLoopDoesNotLengthenRoundTrips()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    // The window may be busy (painting a long list) while replies arrive; they are timed
    // by when they reached the host, not by when the event loop got round to them.
    mdlPing::IcmpEngine engine;
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    for (int i = 0; i < 20; ++i)
        engine.start(loopbackAddress(i));
    QElapsedTimer busy;
    busy.start();
    while (busy.elapsed() < 80) {
        // keep the event loop from running, as a long paint would
    }
    QTRY_COMPARE(finished.size(), 20);
    for (const QList<QVariant>& outcome : spread(finished)) {
        QCOMPARE(outcome.at(1).toInt(), 0);
        QVERIFY2(outcome.at(3).toLongLong() < 20000, qPrintable(outcome.at(3).toString()));
    }
}

void tst_IcmpEngine::deletedFromItsOwnSignal()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    // Closing the window may delete the engine while it reports a batch of outcomes.
    auto* engine = new mdlPing::IcmpEngine;
    QPointer<mdlPing::IcmpEngine> alive(engine);
    int reported = 0;
    connect(engine, &mdlPing::IcmpEngine::finished, this, [&] {
        ++reported;
        delete engine;
    });
    for (int i = 0; i < 16; ++i)
        engine->start(loopbackAddress(i));
    QTRY_VERIFY(alive.isNull());
    QCOMPARE(reported, 1);
    // The endpoint serves the next engine as before.
    mdlPing::IcmpEngine next;
    QSignalSpy finished(&next, &mdlPing::IcmpEngine::finished);
    next.start(QStringLiteral("127.0.0.1"));
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(spread(finished).at(0).at(1).toInt(), 0);
}

void tst_IcmpEngine::enginesShareTheEndpoint()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    mdlPing::IcmpEngine first;
    mdlPing::IcmpEngine second;
    QSignalSpy firstFinished(&first, &mdlPing::IcmpEngine::finished);
    QSignalSpy secondFinished(&second, &mdlPing::IcmpEngine::finished);
    QSet<quint64> firstIds;
    QSet<quint64> secondIds;
    for (int i = 0; i < 20; ++i) {
        firstIds.insert(first.start(loopbackAddress(i)));
        secondIds.insert(second.start(loopbackAddress(100 + i)));
    }
    QTRY_COMPARE(firstFinished.size(), 20);
    QTRY_COMPARE(secondFinished.size(), 20);
    for (const QList<QVariant>& outcome : spread(firstFinished)) {
        QVERIFY(firstIds.remove(outcome.at(0).toULongLong()));
        QCOMPARE(outcome.at(1).toInt(), 0);
    }
    for (const QList<QVariant>& outcome : spread(secondFinished)) {
        QVERIFY(secondIds.remove(outcome.at(0).toULongLong()));
        QCOMPARE(outcome.at(1).toInt(), 0);
    }
}

void tst_IcmpEngine::blockingProbesAlongside()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    // Blocking probes on other threads read the same socket while the engine waits in the
    // event loop: whoever reads a reply hands it to the probe it belongs to.
    constexpr int kThreads = 3;
    constexpr int kBlocking = 100;
    constexpr int kAsync = 200;
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong, &go] {
            while (!go.load())
                std::this_thread::yield();
            const QString target = QStringLiteral("127.1.0.") + QString::number(t + 1);
            const std::uint32_t expected = ::inet_addr(target.toLatin1().constData());
            for (int i = 0; i < kBlocking; ++i) {
                mdlPing::ICMP_ECHO_REPLY reply;
                if (mdlPing::PingHost(target, reply) != 0 || reply.Address != expected)
                    ++wrong;
            }
        });
    }
    mdlPing::IcmpEngine engine;
    QSignalSpy finished(&engine, &mdlPing::IcmpEngine::finished);
    go = true;
    for (int i = 0; i < kAsync; ++i) {
        engine.start(loopbackAddress(i));
        if (i % 20 == 19)
            QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), kAsync, 5000);
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
    for (const QList<QVariant>& outcome : spread(finished))
        QCOMPARE(outcome.at(1).toInt(), 0);
}

void tst_IcmpEngine::proberDefaultsBuiltOnPingHost()
{
    // A prober that only knows PingHost still offers the asynchronous calls.
    ScriptProber prober;
    QSignalSpy finished(&prober, &Prober::probeFinished);
    const quint64 ok = prober.startProbe(QStringLiteral("127.0.0.1"));
    const quint64 silent = prober.startProbe(QStringLiteral("silent"));
    const quint64 bad = prober.startProbe(QStringLiteral("bad"));
    const quint64 cancelled = prober.startProbe(QStringLiteral("cancelled"));
    QVERIFY(ok != 0 && silent != ok && bad != silent && cancelled != bad);
    prober.cancelProbe(cancelled);
    QVERIFY(finished.isEmpty());
    QVERIFY(prober.probed.isEmpty());
    QTRY_COMPARE(finished.size(), 3);
    QCOMPARE(prober.probed,
             (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("silent"), QStringLiteral("bad")}));
    const auto outcome = [&finished](int i) { return finished.at(i).at(1).value<mdlPing::Outcome>(); };
    QCOMPARE(finished.at(0).at(0).toULongLong(), ok);
    QCOMPARE(outcome(0), (mdlPing::Outcome{0, 3, 3000, mdlPing::Failure::None, {}, QStringLiteral("127.0.0.1")}));
    QCOMPARE(outcome(1), (mdlPing::Outcome{11010, 1000, 1000000, mdlPing::Failure::None, {}, {}}));
    QCOMPARE(outcome(2),
             (mdlPing::Outcome{
                 -1, 0, 0, mdlPing::Failure::BadAddress, mdlPing::FailureText(mdlPing::Failure::BadAddress), {}}));

    for (int i = 0; i < 5; ++i)
        prober.startProbe(QStringLiteral("127.0.0.1"));
    prober.cancelAll();
    const quint64 last = prober.startProbe(QStringLiteral("127.0.0.2"));
    QTRY_COMPARE(finished.size(), 4);
    QCOMPARE(finished.at(3).at(0).toULongLong(), last);
    QCOMPARE(prober.probed.size(), 4);
}

void tst_IcmpEngine::icmpProberUsesTheEngine()
{
    if (!m_icmpPermitted)
        QSKIP("ICMP is not permitted for this user");
    IcmpProber prober;
    QSignalSpy finished(&prober, &Prober::probeFinished);
    const quint64 dropped = prober.startProbe(QStringLiteral("127.0.0.1"));
    const quint64 kept = prober.startProbe(QStringLiteral("127.0.0.2"));
    const quint64 bad = prober.startProbe(QStringLiteral("a b c"));
    prober.cancelProbe(dropped);
    QVERIFY(finished.isEmpty());
    QTRY_COMPARE(finished.size(), 2);
    QHash<quint64, int> statuses;
    for (const QList<QVariant>& outcome : spread(finished))
        statuses.insert(outcome.at(0).toULongLong(), outcome.at(1).toInt());
    QCOMPARE(statuses.value(kept, -2), 0);
    QCOMPARE(statuses.value(bad, -2), -1);
    prober.startProbe(QStringLiteral("127.0.0.3"));
    prober.cancelAll();
    const quint64 last = prober.startProbe(QStringLiteral("127.0.0.4"));
    QTRY_COMPARE(finished.size(), 3);
    QCOMPARE(finished.at(2).at(0).toULongLong(), last);
}

QTEST_GUILESS_MAIN(tst_IcmpEngine)
#include "tst_icmpengine.moc"
