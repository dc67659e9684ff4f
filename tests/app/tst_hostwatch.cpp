// The statistics, states and alerts of the hosts in the list, fed by real sweeps over a scripted
// probe: the extra columns and marks in the list, the tray's state, notifications and sounds once
// per sweep, the rows followed through loads, removals and sorts, the CSV and the outage log.
#include "app/hostwatch.h"
#include "app/sweepview.h"
#include "monitor/sweep.h"
#include "platform/appinfo.h"
#include "platform/imagelist.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/toolbar.h"
#include "resources/artwork.h"
#include "tests/support/fakes.h"
#include "tests/support/sweeprig.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using monitor::HostState;

namespace {

constexpr qint64 Noon = 1'796'644'800'000; // a fixed wall clock, so texts do not depend on the day

struct Fixture : SweepRig
{
    explicit Fixture(qint64 start = Noon) : clock(start)
    {
        app.Path = QStringLiteral("/opt/tivane");
        list.setColumns(
            {QStringLiteral("Name"), QStringLiteral("IP"), QStringLiteral("Status"), QStringLiteral("Timeout")},
            {100, 100, 100, 60});
        HostWatch::Services s;
        s.notify = [this](const monitor::Notification& n) { notes.append(n); };
        s.showOverall = [this](const QIcon& icon, const QString& tip) {
            trayIcon = icon;
            trayTip = tip;
            ++overallShown;
        };
        s.sound = &sound;
        s.soundOn = [this] { return soundOn; };
        s.soundFile = [this](const QString& name) { return app.file(name); };
        s.now = [this] { return clock; };
        watch = std::make_unique<HostWatch>(list, sweep, s);
    }

    // Rows as a load makes them: name, address, ticked, a key of their own.
    void load(const QList<std::pair<QString, QString>>& hosts)
    {
        QVector<platform::ReportListModel::Row> rows;
        for (const auto& [name, address] : hosts) {
            platform::ReportListModel::Row r;
            r.text = name;
            r.sub[0] = address;
            r.checked = true;
            r.key = ++lastKey;
            rows.append(r);
        }
        list.clear();
        list.items()->append(std::move(rows));
    }

    void sweepOnce()
    {
        clock += 1000;
        sweep.PingList();
        QTRY_VERIFY_WITH_TIMEOUT(sweep.isIdle(), 10000);
    }

    int rowOf(const QString& name) const
    {
        for (int i = 1; i <= list.count(); ++i) {
            if (list.text(i) == name)
                return i;
        }
        return 0;
    }

    QVariant cell(const QString& name, int column, int role = Qt::DisplayRole) const
    {
        return list.items()->index(rowOf(name) - 1, column).data(role);
    }

    QString stat(const QString& name, const QString& header) const
    {
        const QAbstractItemModel* m = list.items();
        for (int c = 0; c < m->columnCount(); ++c) {
            if (m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString() == header)
                return cell(name, c).toString();
        }
        return QStringLiteral("<no column %1>").arg(header);
    }

    std::unique_ptr<HostWatch> watch;
    QVector<monitor::Notification> notes;
    QIcon trayIcon;
    QString trayTip;
    int overallShown = 0;
    bool soundOn = false;
    qint64 clock;
    quint64 lastKey = 100;
};

QString wav(const char* name)
{
    return QStringLiteral("/opt/tivane/") + QLatin1String(name);
}

} // namespace

class tst_HostWatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void outcomesFillTheStatisticsColumns();
    void downAfterFailuresInARowThenUpWithOneReply();
    void changesOfOneSweepAreToldOnce();
    void soundsOnlyWhileTheAlertIsPressed();
    void downRowIsTintedAndMarked();
    void rowsAreFollowedThroughRemovalRenameAndReload();
    void statisticsFollowTheirRowThroughASort();
    void resetKeepsHostsAndForgetsResults();
    void hiddenColumnsAndToolTips();
    void modelStaysConsistentWhileColumnsComeAndGo();
    void csvHoldsTheRowsAndTheirStatistics();
    void outageLogAppendsAndTellsAFailureOnce();
    void outageLogMarksARunsStartAndStop();
    void trayCountsTheTickedHostsOnly();
    void timesAreRetoldWhenTheDayTurns();
};

void tst_HostWatch::outcomesFillTheStatisticsColumns()
{
    Fixture f;
    f.load(
        {{QStringLiteral("loop"), QStringLiteral("127.0.0.1")}, {QStringLiteral("gone"), QStringLiteral("127.0.0.2")}});
    f.prober.set(QStringLiteral("127.0.0.1"), 0, 3);
    f.prober.set(QStringLiteral("127.0.0.2"), 11010);
    // Nothing probed yet: the columns are there and empty, the tray grey.
    QCOMPARE(f.list.items()->columnCount(), HostWatch::FirstColumn + f.watch->extraColumnCount());
    QCOMPARE(f.stat(QStringLiteral("loop"), QStringLiteral("Sent")), QString());
    QVERIFY(f.trayTip.contains(QLatin1String("Tivane")));

    f.sweepOnce();
    f.prober.set(QStringLiteral("127.0.0.1"), 0, 5);
    f.sweepOnce();
    QCOMPARE(f.stat(QStringLiteral("loop"), QStringLiteral("Sent")), QStringLiteral("2"));
    QCOMPARE(f.stat(QStringLiteral("loop"), QStringLiteral("Loss")), QStringLiteral("0%"));
    QCOMPARE(f.stat(QStringLiteral("loop"), QStringLiteral("Min")), monitor::formatRtt(3000));
    QCOMPARE(f.stat(QStringLiteral("loop"), QStringLiteral("Avg")), monitor::formatRtt(4000));
    QCOMPARE(f.stat(QStringLiteral("loop"), QStringLiteral("Max")), monitor::formatRtt(5000));
    QCOMPARE(f.stat(QStringLiteral("loop"), QStringLiteral("State")), QStringLiteral("Up"));
    QCOMPARE(f.stat(QStringLiteral("gone"), QStringLiteral("Loss")), QStringLiteral("100%"));
    QCOMPARE(f.stat(QStringLiteral("gone"), QStringLiteral("Min")), QString());
    // The seed's own columns are written as before.
    QCOMPARE(f.cell(QStringLiteral("loop"), 2).toString(), QStringLiteral("OK"));
    QCOMPARE(f.cell(QStringLiteral("loop"), 3).toString(), QStringLiteral("5"));
    QCOMPARE(f.cell(QStringLiteral("gone"), 2).toString(), QStringLiteral("11010: Request Timed Out"));
}

void tst_HostWatch::downAfterFailuresInARowThenUpWithOneReply()
{
    Fixture f;
    monitor::AlertRules rules;
    rules.degradedLossPercent = 0; // up and down alone: the failures here would make it degraded
    f.watch->setRules(rules);
    f.load({{QStringLiteral("mail"), QStringLiteral("127.0.0.9")}});
    f.sweepOnce(); // up
    f.prober.set(QStringLiteral("127.0.0.9"), 11010);
    f.sweepOnce();
    f.sweepOnce();
    QCOMPARE(f.stat(QStringLiteral("mail"), QStringLiteral("State")), QStringLiteral("Up"));
    QVERIFY(f.notes.isEmpty());
    // A reply between failures starts the count again.
    f.prober.set(QStringLiteral("127.0.0.9"), 0, 1);
    f.sweepOnce();
    f.prober.set(QStringLiteral("127.0.0.9"), 11010);
    f.sweepOnce();
    f.sweepOnce();
    QVERIFY(f.notes.isEmpty());
    f.sweepOnce();
    QCOMPARE(f.stat(QStringLiteral("mail"), QStringLiteral("State")), QStringLiteral("Down"));
    QCOMPARE(f.notes.size(), 1);
    QCOMPARE(f.notes.last().wentDown, 1);
    QVERIFY2(f.notes.last().text.contains(QLatin1String("mail (127.0.0.9) is down since")),
             qPrintable(f.notes.last().text));
    QCOMPARE(f.watch->monitor().overall(), monitor::Overall::SomeDown);
    QVERIFY2(f.trayTip.startsWith(QLatin1String("Tivane: 1 of 1 down")), qPrintable(f.trayTip));
    QCOMPARE(f.trayIcon.pixmap(22).toImage(), artwork::trayIcon(artwork::TraySomeDown).pixmap(22).toImage());

    // Staying down tells nothing more; one reply brings it back.
    f.sweepOnce();
    QCOMPARE(f.notes.size(), 1);
    f.prober.set(QStringLiteral("127.0.0.9"), 0, 1);
    f.sweepOnce();
    QCOMPARE(f.notes.size(), 2);
    QCOMPARE(f.notes.last().cameBack, 1);
    QVERIFY2(f.notes.last().text.contains(QLatin1String("up again after")), qPrintable(f.notes.last().text));
    QCOMPARE(f.watch->monitor().overall(), monitor::Overall::AllUp);
    QVERIFY2(!f.trayTip.contains(QLatin1String("down")), qPrintable(f.trayTip));
    QCOMPARE(f.trayIcon.pixmap(22).toImage(), artwork::trayIcon(artwork::TrayAllUp).pixmap(22).toImage());
}

void tst_HostWatch::changesOfOneSweepAreToldOnce()
{
    Fixture f;
    f.watch->setDownAfter(1);
    QList<std::pair<QString, QString>> hosts;
    for (int i = 1; i <= 6; ++i)
        hosts.append({QStringLiteral("h%1").arg(i), QStringLiteral("127.0.1.%1").arg(i)});
    f.load(hosts);
    f.sweepOnce();
    for (int i = 1; i <= 5; ++i)
        f.prober.set(QStringLiteral("127.0.1.%1").arg(i), 11010);
    const int shownBefore = f.overallShown;
    f.sweepOnce();
    QCOMPARE(f.notes.size(), 1);
    QCOMPARE(f.notes.first().wentDown, 5);
    QVERIFY2(f.notes.first().text.contains(QLatin1Char('5')) || f.notes.first().title.contains(QLatin1Char('5')),
             qPrintable(f.notes.first().title + QLatin1Char('|') + f.notes.first().text));
    QVERIFY2(f.trayTip.startsWith(QLatin1String("Tivane: 5 of 6 down")), qPrintable(f.trayTip));
    // The tray follows once per sweep, not once per host.
    QCOMPARE(f.overallShown, shownBefore + 1);
}

void tst_HostWatch::soundsOnlyWhileTheAlertIsPressed()
{
    Fixture f;
    f.watch->setDownAfter(1);
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.3")}});
    f.sweepOnce();
    f.prober.set(QStringLiteral("127.0.0.3"), 11010);
    f.sweepOnce();
    QCOMPARE(f.notes.size(), 1);
    QVERIFY(f.sound.played.isEmpty());

    f.soundOn = true;
    f.prober.set(QStringLiteral("127.0.0.3"), 0, 1);
    f.sweepOnce();
    QCOMPARE(f.sound.played, QStringList{wav(monitor::UpSoundFile)});
    f.prober.set(QStringLiteral("127.0.0.3"), 11010);
    f.sweepOnce();
    QCOMPARE(f.sound.played.last(), wav(monitor::DownSoundFile));
    QCOMPARE(f.sound.played.size(), 2);
    // Staying down is no news.
    f.sweepOnce();
    QCOMPARE(f.sound.played.size(), 2);
}

void tst_HostWatch::downRowIsTintedAndMarked()
{
    Fixture f;
    f.watch->setDownAfter(1);
    f.load(
        {{QStringLiteral("up"), QStringLiteral("127.0.0.1")}, {QStringLiteral("down"), QStringLiteral("127.0.0.2")}});
    f.prober.set(QStringLiteral("127.0.0.2"), 11010);
    f.sweepOnce();
    for (int c = 0; c < f.list.items()->columnCount(); ++c) {
        QCOMPARE(f.cell(QStringLiteral("down"), c, Qt::BackgroundRole).value<QColor>(), HostWatch::downTint());
        QVERIFY(!f.cell(QStringLiteral("up"), c, Qt::BackgroundRole).isValid());
    }
    // Translucent, so it lies over whatever base the palette has, light or dark.
    QVERIFY(HostWatch::downTint().alpha() < 255);
    QVERIFY(!f.cell(QStringLiteral("down"), HostWatch::FirstColumn, Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(!f.cell(QStringLiteral("up"), HostWatch::FirstColumn, Qt::DecorationRole).value<QIcon>().isNull());
    // The seed's icons stay as the sweep set them.
    QCOMPARE(f.list.subIcon(f.rowOf(QStringLiteral("down")), 2), icons::Timeout);
}

void tst_HostWatch::rowsAreFollowedThroughRemovalRenameAndReload()
{
    Fixture f;
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("b"), QStringLiteral("127.0.0.2")},
            {QStringLiteral("c"), QStringLiteral("127.0.0.3")}});
    f.sweepOnce();
    f.sweepOnce();
    QCOMPARE(f.watch->monitor().count(), 3);

    // Removing one row keeps the others' statistics.
    f.list.removeAt(f.rowOf(QStringLiteral("b")));
    QCOMPARE(f.watch->monitor().count(), 2);
    QCOMPARE(f.stat(QStringLiteral("a"), QStringLiteral("Sent")), QStringLiteral("2"));
    QCOMPARE(f.stat(QStringLiteral("c"), QStringLiteral("Sent")), QStringLiteral("2"));

    // A rename keeps them; another address is another machine.
    f.list.items()->setText(f.rowOf(QStringLiteral("a")), QStringLiteral("a2"));
    QCOMPARE(f.stat(QStringLiteral("a2"), QStringLiteral("Sent")), QStringLiteral("2"));
    f.list.setSubText(f.rowOf(QStringLiteral("c")), 1, QStringLiteral("127.0.0.30"));
    QCOMPARE(f.stat(QStringLiteral("c"), QStringLiteral("Sent")), QString());

    // A row without a key is probed but has no statistics to keep.
    const int added = f.list.add(QStringLiteral("d"), 3);
    f.list.setChecked(added, true);
    f.list.setSubText(added, 1, QStringLiteral("127.0.0.4"));
    f.sweepOnce();
    QCOMPARE(f.list.subText(added, 2), QStringLiteral("OK"));
    QCOMPARE(f.stat(QStringLiteral("d"), QStringLiteral("Sent")), QString());
    QCOMPARE(f.watch->monitor().count(), 2);

    // A Reload starts every host afresh.
    f.load({{QStringLiteral("a2"), QStringLiteral("127.0.0.1")}});
    QCOMPARE(f.watch->monitor().count(), 1);
    QCOMPARE(f.stat(QStringLiteral("a2"), QStringLiteral("Sent")), QString());
    QCOMPARE(f.watch->monitor().overall(), monitor::Overall::NoneProbed);
}

void tst_HostWatch::statisticsFollowTheirRowThroughASort()
{
    Fixture f;
    f.load({{QStringLiteral("slow"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("lost"), QStringLiteral("127.0.0.2")},
            {QStringLiteral("fast"), QStringLiteral("127.0.0.3")}});
    f.prober.set(QStringLiteral("127.0.0.1"), 0, 40);
    f.prober.set(QStringLiteral("127.0.0.2"), 11010);
    f.prober.set(QStringLiteral("127.0.0.3"), 0, 2);
    f.sweepOnce();

    int avgColumn = -1;
    for (int c = 0; c < f.list.items()->columnCount(); ++c) {
        if (f.list.items()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString() == QLatin1String("Avg"))
            avgColumn = c;
    }
    QVERIFY(avgColumn >= HostWatch::FirstColumn);
    // Sorted by the numbers behind the texts, not the texts: "2.00 ms" before "40.0 ms".
    f.list.setSortKey(avgColumn);
    f.list.setSorted(true);
    QCOMPARE(f.list.text(1), QStringLiteral("lost"));
    QCOMPARE(f.list.text(2), QStringLiteral("fast"));
    QCOMPARE(f.list.text(3), QStringLiteral("slow"));
    QCOMPARE(f.stat(QStringLiteral("slow"), QStringLiteral("Avg")), monitor::formatRtt(40000));
    // A sweep after the sort writes each host's outcome into its own row.
    f.sweepOnce();
    QCOMPARE(f.stat(QStringLiteral("fast"), QStringLiteral("Sent")), QStringLiteral("2"));
    QCOMPARE(f.stat(QStringLiteral("fast"), QStringLiteral("Avg")), monitor::formatRtt(2000));
    QCOMPARE(f.stat(QStringLiteral("lost"), QStringLiteral("Loss")), QStringLiteral("100%"));
}

void tst_HostWatch::resetKeepsHostsAndForgetsResults()
{
    Fixture f;
    f.watch->setDownAfter(1);
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")}});
    f.prober.set(QStringLiteral("127.0.0.1"), 11010);
    f.sweepOnce();
    QCOMPARE(f.watch->monitor().overall(), monitor::Overall::SomeDown);
    int recorded = 0;
    connect(f.watch.get(), &HostWatch::recorded, f.watch.get(), [&] { ++recorded; });
    QCOMPARE(f.watch->countingSinceMs(), Noon);
    f.clock += 5000;
    f.watch->resetStatistics();
    QCOMPARE(recorded, 1);
    QCOMPARE(f.watch->monitor().count(), 1);
    QCOMPARE(f.stat(QStringLiteral("a"), QStringLiteral("Sent")), QString());
    QVERIFY(!f.cell(QStringLiteral("a"), 0, Qt::BackgroundRole).isValid());
    QCOMPARE(f.watch->monitor().overall(), monitor::Overall::NoneProbed);
    QVERIFY2(!f.trayTip.contains(QLatin1String("down")), qPrintable(f.trayTip));
    // The history window's "since the list was loaded" now starts at the reset.
    QCOMPARE(f.watch->countingSinceMs(), f.clock);
}

void tst_HostWatch::hiddenColumnsAndToolTips()
{
    Fixture f;
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")}});
    f.sweepOnce();
    const QString tip = f.cell(QStringLiteral("a"), 0, Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(QLatin1String("a (127.0.0.1)")) && tip.contains(QLatin1String("Sent 1")), qPrintable(tip));
    QCOMPARE(f.cell(QStringLiteral("a"), HostWatch::FirstColumn + 2, Qt::ToolTipRole).toString(), tip);
    // A cell's own tip stays its own.
    f.list.setSubToolTip(1, 2, QStringLiteral("own"));
    QCOMPARE(f.cell(QStringLiteral("a"), 2, Qt::ToolTipRole).toString(), QStringLiteral("own"));

    f.watch->setStatisticsShown(false);
    for (int c = 0; c < f.watch->extraColumnCount(); ++c)
        QVERIFY(f.list.isColumnHidden(HostWatch::FirstColumn + c));
    for (int c = 0; c < HostWatch::FirstColumn; ++c)
        QVERIFY(!f.list.isColumnHidden(c));
    QVERIFY(!f.cell(QStringLiteral("a"), 0, Qt::ToolTipRole).isValid());
    f.watch->setStatisticsShown(true);
    QVERIFY(!f.list.isColumnHidden(HostWatch::FirstColumn));
}

void tst_HostWatch::modelStaysConsistentWhileColumnsComeAndGo()
{
    Fixture f;
    QAbstractItemModelTester tester(f.list.items(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")}, {QStringLiteral("b"), QStringLiteral("127.0.0.2")}});
    f.sweepOnce();
    // A sweep holds its rows by persistent index; the columns going and coming must not lose them.
    const QPersistentModelIndex held(f.list.items()->index(1, 0));
    f.list.items()->setExtraColumns(nullptr);
    QCOMPARE(f.list.items()->columnCount(), HostWatch::FirstColumn);
    QVERIFY(!f.list.items()->headerData(HostWatch::FirstColumn, Qt::Horizontal, Qt::DisplayRole).isValid());
    f.list.items()->setExtraColumns(f.watch.get());
    QCOMPARE(f.list.items()->columnCount(), HostWatch::FirstColumn + f.watch->extraColumnCount());
    QVERIFY(held.isValid());
    QCOMPARE(held.row(), 1);
    f.list.setSortKey(HostWatch::FirstColumn + 1);
    f.list.setSorted(true);
    f.sweepOnce();
    f.list.removeAt(1);
    f.list.clear();
}

void tst_HostWatch::csvHoldsTheRowsAndTheirStatistics()
{
    Fixture f;
    f.load({{QStringLiteral("Mail, \"main\""), QStringLiteral("127.0.0.1")},
            {QStringLiteral("Zürich gw"), QStringLiteral("127.0.0.2")},
            {QStringLiteral("=cmd"), QStringLiteral("127.0.0.3")}});
    f.prober.set(QStringLiteral("127.0.0.2"), 11010);
    f.sweepOnce();
    const QByteArray doc = f.watch->csvOf({1, 2, 3, 99});
    QVERIFY(doc.startsWith("\xEF\xBB\xBF"));
    const QList<QByteArray> lines = doc.mid(3).split('\n');
    QCOMPARE(lines.size(), 5); // header, three rows, the empty rest after the last CRLF
    QVERIFY2(lines.at(0).startsWith("Name,IP,Status,Timeout,"), lines.at(0).constData());
    QVERIFY2(lines.at(1).startsWith("\"Mail, \"\"main\"\"\",127.0.0.1,OK,1,"), lines.at(1).constData());
    QVERIFY2(QString::fromUtf8(lines.at(2)).startsWith(QStringLiteral("Zürich gw,127.0.0.2,11010: Request Timed Out,")),
             lines.at(2).constData());
    QVERIFY2(lines.at(3).startsWith("'=cmd,"), lines.at(3).constData());
    for (int i = 0; i < 4; ++i)
        QVERIFY(lines.at(i).endsWith('\r'));
    // Every row has as many fields as the header (no field holds a comma outside quotes here but
    // the first row's name).
    QCOMPARE(lines.at(2).count(','), lines.at(0).count(','));
    QVERIFY2(lines.at(2).contains(",100"), lines.at(2).constData());
}

void tst_HostWatch::outageLogAppendsAndTellsAFailureOnce()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Fixture f;
    f.watch->setDownAfter(1);
    const QString path = dir.filePath(QStringLiteral("outages.csv"));
    const QByteArray before = "time,name,address,state,status,text\r\nan older line\r\n";
    writeBytes(path, before);
    f.watch->setOutageLogPath(path);
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")}});
    f.sweepOnce();
    f.prober.set(QStringLiteral("127.0.0.1"), 11010);
    f.sweepOnce();
    const QByteArray after = readBytes(path);
    QVERIFY2(after.startsWith(before), after.constData());
    QVERIFY2(after.mid(before.size()).contains(",a,127.0.0.1,down,11010,"), after.constData());
    // Sweeps without changes add nothing.
    f.sweepOnce();
    QCOMPARE(readBytes(path), after);

    // A log that cannot be written is told once, not at every sweep.
    QStringList failures;
    connect(f.watch.get(), &HostWatch::logFailed, f.watch.get(), [&](const QString& why) { failures.append(why); });
    f.watch->setOutageLogPath(dir.filePath(QStringLiteral("no/such/folder/outages.csv")));
    for (int i = 0; i < 4; ++i) {
        f.prober.set(QStringLiteral("127.0.0.1"), i % 2 ? 11010 : 0, 1);
        f.sweepOnce();
    }
    QCOMPARE(failures.size(), 1);
    QVERIFY(!failures.first().isEmpty());
    QCOMPARE(readBytes(path), after);
}

void tst_HostWatch::outageLogMarksARunsStartAndStop()
{
    QTemporaryDir dir;
    Fixture f;
    f.watch->setDownAfter(1);
    const QString path = dir.filePath(QStringLiteral("outages.csv"));
    f.watch->setOutageLogPath(path);
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")}, {QStringLiteral("b"), QStringLiteral("127.0.0.2")}});
    // A single sweep is no run, and hosts answering from the start are no outage.
    f.sweepOnce();
    QVERIFY(!QFile::exists(path));

    f.sweep.continuousIntervalMs = 0;
    f.prober.set(QStringLiteral("127.0.0.2"), 11010);
    int sweeps = 0;
    f.sweep.onContinuousSweep = [&] {
        if (++sweeps == 3)
            f.sweep.stop();
    };
    f.sweep.PingContinuous();
    QTRY_VERIFY_WITH_TIMEOUT(f.sweep.isIdle(), 10000);
    QStringList states;
    for (const QByteArray& line : readBytes(path).split('\n').mid(1)) {
        if (!line.trimmed().isEmpty())
            states.append(QString::fromUtf8(line.split(',').value(3)));
    }
    // The sweeps within the run start and end without lines of their own.
    QCOMPARE(states, (QStringList{QStringLiteral("started"), QStringLiteral("down"), QStringLiteral("stopped")}));
}

void tst_HostWatch::trayCountsTheTickedHostsOnly()
{
    Fixture f;
    f.watch->setDownAfter(1);
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("b"), QStringLiteral("127.0.0.2")},
            {QStringLiteral("c"), QStringLiteral("127.0.0.3")}});
    f.prober.set(QStringLiteral("127.0.0.3"), 11010);
    f.sweepOnce();
    QVERIFY2(f.trayTip.startsWith(QLatin1String("Tivane: 1 of 3 down")), qPrintable(f.trayTip));
    // Unticked, c is no longer watched: neither counted nor named, and the picture is all up.
    f.list.setChecked(f.rowOf(QStringLiteral("c")), false);
    QCOMPARE(f.trayTip, QStringLiteral("Tivane: all 2 up"));
    QCOMPARE(f.trayIcon.pixmap(22).toImage(), artwork::trayIcon(artwork::TrayAllUp).pixmap(22).toImage());
    f.list.setChecked(f.rowOf(QStringLiteral("c")), true);
    QVERIFY2(f.trayTip.startsWith(QLatin1String("Tivane: 1 of 3 down")), qPrintable(f.trayTip));
}

void tst_HostWatch::timesAreRetoldWhenTheDayTurns()
{
    // The sweep stamps outcomes with the real clock; the watch's clock is put just before the
    // midnight after it, so that the day turns a few seconds into the test.
    const QDateTime real = QDateTime::currentDateTime().toTimeZone(monitor::localZone());
    const qint64 midnight = QDateTime(real.date().addDays(1), QTime(0, 0), monitor::localZone()).toMSecsSinceEpoch();
    Fixture f(midnight - 2600);
    f.load({{QStringLiteral("a"), QStringLiteral("127.0.0.1")}});
    f.sweepOnce();
    const QString today = real.date().toString(QStringLiteral("yyyy-MM-dd"));
    QVERIFY(!f.stat(QStringLiteral("a"), QStringLiteral("Since")).contains(today));
    QSignalSpy told(f.list.items(), &QAbstractItemModel::dataChanged);
    f.clock = midnight + 1000;
    // The list is told that every row changed, so a list left open overnight shows the date.
    QTRY_VERIFY_WITH_TIMEOUT(!told.isEmpty(), 6000);
    QCOMPARE(told.first().at(0).value<QModelIndex>().row(), 0);
    QVERIFY(f.stat(QStringLiteral("a"), QStringLiteral("Since")).startsWith(today));
}

QTEST_MAIN(tst_HostWatch)
#include "tst_hostwatch.moc"
