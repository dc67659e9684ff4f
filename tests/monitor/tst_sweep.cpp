// The sweep without a window: what it announces, in which order, for which host, over a plain
// model of hosts and a scripted probe.
#include "monitor/sweep.h"
#include "tests/support/fakes.h"

#include <QAbstractListModel>
#include <QSignalSpy>
#include <QTest>

namespace {

// Hosts as the sweep reads them: key, tick, name and address per row.
class HostModel : public QAbstractListModel
{
public:
    struct Host
    {
        quint64 key;
        bool ticked;
        QString address;
    };

    void add(quint64 key, const QString& address, bool ticked = true)
    {
        beginInsertRows({}, int(m_hosts.size()), int(m_hosts.size()));
        m_hosts.append({key, ticked, address});
        endInsertRows();
    }
    void remove(int row)
    {
        beginRemoveRows({}, row, row);
        m_hosts.removeAt(row);
        endRemoveRows();
    }
    // Reverses the order as a sort would, moving persistent indexes with their hosts.
    void reverse()
    {
        Q_EMIT layoutAboutToBeChanged();
        const QModelIndexList before = persistentIndexList();
        std::reverse(m_hosts.begin(), m_hosts.end());
        QModelIndexList after;
        for (const QModelIndex& i : before)
            after.append(index(int(m_hosts.size()) - 1 - i.row()));
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged();
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_hosts.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const Host& h = m_hosts.at(index.row());
        switch (role) {
        case monitor::KeyRole:
            return QVariant::fromValue(h.key);
        case monitor::TickedRole:
            return h.ticked;
        case monitor::NameRole:
            return QStringLiteral("host %1").arg(h.key);
        case monitor::AddressRole:
            return h.address;
        }
        return {};
    }

private:
    QVector<Host> m_hosts;
};

// Writes every announcement as one line, so a test compares whole sequences.
struct Recorder
{
    explicit Recorder(Sweep& sweep)
    {
        const auto key = [](const QModelIndex& i) { return QString::number(i.data(monitor::KeyRole).toULongLong()); };
        QObject::connect(&sweep, &Sweep::runningChanged, &sweep,
                         [this](bool on) { log << (on ? QStringLiteral("busy") : QStringLiteral("idle")); });
        QObject::connect(&sweep, &Sweep::visiting, &sweep, [this, key](const QModelIndex& i, int total, bool select) {
            log << QStringLiteral("visit %1/%2%3")
                       .arg(key(i))
                       .arg(total)
                       .arg(select ? QStringLiteral(" select") : QString());
        });
        QObject::connect(&sweep, &Sweep::entrySkipped, &sweep,
                         [this, key](const QModelIndex& i) { log << QStringLiteral("skip ") + key(i); });
        QObject::connect(&sweep, &Sweep::entryOutcome, &sweep,
                         [this, key](const QModelIndex& i, const mdlPing::Outcome& o) {
                             log << QStringLiteral("outcome %1 %2").arg(key(i)).arg(o.status);
                         });
        QObject::connect(&sweep, &Sweep::progress, &sweep,
                         [this](int v) { log << QStringLiteral("progress %1").arg(v); });
        QObject::connect(&sweep, &Sweep::follow, &sweep, [this, key](const QModelIndex& i, bool select) {
            log << QStringLiteral("follow %1%2").arg(key(i), select ? QStringLiteral(" select") : QString());
        });
        QObject::connect(&sweep, &Sweep::sweepFinished, &sweep, [this] { log << QStringLiteral("finished"); });
    }
    QStringList log;
};

QStringList lines(std::initializer_list<const char*> texts)
{
    QStringList out;
    for (const char* t : texts)
        out << QString::fromLatin1(t);
    return out;
}

} // namespace

class tst_MonitorSweep : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void announcesInOrder_data();
    void announcesInOrder();
    void outcomesFollowTheirHostThroughSortAndRemoval();
    void userTookOverStopsFollowing();
    void failuresToStartAndToSendAreAnnounced();
};

void tst_MonitorSweep::announcesInOrder_data()
{
    QTest::addColumn<bool>("allAtOnce");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one at a time") << false
                                   << lines({"busy", "visit 1/3 select", "outcome 1 0", "progress 1", "follow 1",
                                             "visit 2/3 select", "skip 2", "progress 2", "follow 2", "visit 3/3 select",
                                             "outcome 3 11010", "progress 3", "follow 3", "finished", "idle"});
    // All at once both requests go out before any outcome, and the selection follows outcomes.
    QTest::newRow("all at once") << true
                                 << lines({"busy", "visit 1/3", "visit 2/3", "skip 2", "progress 1", "follow 2 select",
                                           "visit 3/3", "outcome 1 0", "progress 2", "follow 1 select",
                                           "outcome 3 11010", "progress 3", "follow 3 select", "finished", "idle"});
}

void tst_MonitorSweep::announcesInOrder()
{
    QFETCH(bool, allAtOnce);
    QFETCH(QStringList, expected);
    HostModel hosts;
    ScriptedProber prober;
    prober.set(QStringLiteral("192.0.2.3"), 11010, 1000);
    hosts.add(1, QStringLiteral("127.0.0.1"));
    hosts.add(2, QStringLiteral("127.0.0.2"), false);
    hosts.add(3, QStringLiteral("192.0.2.3"));
    Sweep sweep(hosts, prober);
    sweep.setAllAtOnce(allAtOnce);
    Recorder r(sweep);
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QCOMPARE(r.log, expected);
    QCOMPARE(prober.probed, (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("192.0.2.3")}));
}

void tst_MonitorSweep::outcomesFollowTheirHostThroughSortAndRemoval()
{
    HostModel hosts;
    ScriptedProber prober;
    prober.answerAfterMs = 20;
    for (quint64 k = 1; k <= 4; ++k)
        hosts.add(k, QStringLiteral("127.0.0.%1").arg(k));
    Sweep sweep(hosts, prober);
    QSignalSpy finished(&sweep, &Sweep::entryFinished);
    // While host 1 is probed, the list is sorted the other way and host 3 is taken out.
    prober.onProbe = [&](const QString& address) {
        if (address == QLatin1String("127.0.0.1")) {
            hosts.reverse();
            hosts.remove(1);
        }
    };
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QStringList seen;
    for (const QList<QVariant>& f : finished)
        seen << QStringLiteral("row %1 key %2").arg(f.at(0).toInt()).arg(f.at(1).toULongLong());
    QCOMPARE(seen, (lines({"row 3 key 1", "row 2 key 2", "row 1 key 4"})));
    QCOMPARE(prober.probed.size(), 3);
}

void tst_MonitorSweep::userTookOverStopsFollowing()
{
    HostModel hosts;
    ScriptedProber prober;
    hosts.add(1, QStringLiteral("127.0.0.1"));
    hosts.add(2, QStringLiteral("127.0.0.2"));
    Sweep sweep(hosts, prober);
    Recorder r(sweep);
    prober.onProbe = [&](const QString&) { sweep.userTookOver(); };
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QVERIFY(!r.log.join(QLatin1Char(',')).contains(QLatin1String("follow")));
    QVERIFY(r.log.contains(QStringLiteral("visit 2/2")));
    // The next sweep the user starts follows again, until the user takes over once more.
    prober.onProbe = nullptr;
    r.log.clear();
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QVERIFY(r.log.contains(QStringLiteral("follow 2")));
    // Outside a sweep, a click is not taking over.
    sweep.userTookOver();
    r.log.clear();
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QVERIFY(r.log.contains(QStringLiteral("visit 1/2 select")));
}

void tst_MonitorSweep::failuresToStartAndToSendAreAnnounced()
{
    HostModel hosts;
    ScriptedProber prober;
    hosts.add(1, QStringLiteral("127.0.0.1"));
    hosts.add(2, QStringLiteral("127.0.0.2"));
    prober.set(QStringLiteral("127.0.0.1"), -1, 0, mdlPing::Failure::NotPermitted);
    prober.set(QStringLiteral("127.0.0.2"), -1, 0, mdlPing::Failure::NotPermitted);
    Sweep sweep(hosts, prober);
    QSignalSpy notPermitted(&sweep, &Sweep::notPermitted);
    QSignalSpy failedStart(&sweep, &Sweep::startupFailed);
    QSignalSpy outcomes(&sweep, &Sweep::entryOutcome);
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QCOMPARE(outcomes.size(), 4);
    const auto o = outcomes.at(0).at(1).value<mdlPing::Outcome>();
    QCOMPARE(o.reason, mdlPing::FailureText(mdlPing::Failure::NotPermitted));
    QCOMPARE(notPermitted.size(), 1); // told once, not per host or per sweep
    QCOMPARE(failedStart.size(), 0);

    prober.startupResult = false;
    Recorder r(sweep);
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QCOMPARE(failedStart.size(), 1);
    QCOMPARE(r.log, (lines({"busy", "finished", "idle"})));
    QCOMPARE(outcomes.size(), 4);
}

QTEST_GUILESS_MAIN(tst_MonitorSweep)
#include "tst_sweep.moc"
