// Sweeps shown in the window, and toolbar commands, over a scripted probe: what each outcome writes into a row,
// when the alert sounds, how Stop, Reload and continuous runs end.
#include "app/commands.h"
#include "app/sweepview.h"
#include "monitor/sweep.h"
#include "platform/appinfo.h"
#include "platform/imagelist.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/toolbar.h"
#include "tests/support/fakes.h"
#include "tests/support/sweeprig.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

struct Fixture : SweepRig
{
    Fixture() { app.Path = QStringLiteral("/opt/tivane"); }

    void add(const QString& name, const QString& address, bool ticked = true)
    {
        const int i = list.add(name, 3);
        list.setChecked(i, ticked);
        list.setSubText(i, 1, address);
    }

    Commands commands{sweep, ctx};
};

// Waits until the sweep has nothing under way and no outcome outstanding.
#define SETTLE(f) QTRY_VERIFY_WITH_TIMEOUT((f).sweep.isIdle(), 10000)

QString notifyWav()
{
    return QStringLiteral("/opt/tivane/Notify.wav");
}

} // namespace

class tst_SweepView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void emptyListStartsAndReleasesSockets();
    void untickedRowsAreClearedNotProbed();
    void rttIconThresholds_data();
    void rttIconThresholds();
    void outcomesWriteStatusAndAlert_data();
    void outcomesWriteStatusAndAlert();
    void failedSendKeepsNoStaleTime();
    void notPermittedIsExplainedOncePerRun();
    void threeFailuresAlertInListOrder();
    void stopDuringThirdOfFiveEntries();
    void rowAddedDuringSweepCountsButIsNotVisited();
    void startupFailureIsReported();
    void rowsRemovedDuringSweepAreNeverVisited();
    void dispatchByPosition();
    void dispatchByKey();
    void continuousRunStopsDuringSweep();
    void continuousRunStopsBetweenSweeps();
    void continuousRunOverEmptyListIsPacedAndStoppable();
    void reloadEndsContinuousRun();
    void realProbeSweepsLoopbackHosts();
    void listClearedWhileExplainingIsNeverTouched();
    void pingAfterStopReplacesTheRunningSweep();
    void stopAndRunFlipButtonsWhileAProbeWaits();
    void stopThenContinuousRunDuringOneWaitKeepsRunning();
    void resultsFollowTheirHostThroughASort_data();
    void resultsFollowTheirHostThroughASort();
    void reloadDuringAWaitWritesNothingIntoTheNewList();
    void userSelectionIsLeftAlone();
    void allAtOnceSendsEveryRequestWithoutWaiting();
    void allAtOnceStopAbandonsEveryRequest();
};

void tst_SweepView::emptyListStartsAndReleasesSockets()
{
    Fixture f;
    f.bar.setMin(0);
    f.bar.setMax(100);
    f.bar.setValue(42);
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.prober.startups, 1);
    QCOMPARE(f.prober.cleanups, 1);
    QVERIFY(f.prober.probed.isEmpty());
    QCOMPARE(f.bar.Value(), 42.0f);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepView::untickedRowsAreClearedNotProbed()
{
    Fixture f;
    f.toolbar.setButtonValue(tb::SoundAlert, 1);
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"), false);
    f.add(QStringLiteral("b"), QStringLiteral("bad address"), false);
    for (int i = 1; i <= 2; ++i) {
        f.list.setSubText(i, 2, QStringLiteral("OK"));
        f.list.setSubIcon(i, 2, icons::Ok);
        f.list.setSubText(i, 3, QStringLiteral("5"));
        f.list.setSubIcon(i, 3, icons::Green);
    }
    f.sweep.PingList();
    SETTLE(f);
    QVERIFY(f.prober.probed.isEmpty());
    QVERIFY(f.sound.played.isEmpty());
    for (int i = 1; i <= 2; ++i) {
        QCOMPARE(f.list.subText(i, 2), QString());
        QCOMPARE(f.list.subIcon(i, 2), 0);
        QCOMPARE(f.list.subText(i, 3), QString());
        QCOMPARE(f.list.subIcon(i, 3), 0);
    }
    QCOMPARE(f.sweep.CurrentIP, QStringLiteral("bad address"));
    QCOMPARE(f.list.selectedIndex(), 2);
}

void tst_SweepView::rttIconThresholds_data()
{
    QTest::addColumn<int>("rtt");
    QTest::addColumn<int>("icon");
    QTest::newRow("0") << 0 << icons::Green;
    QTest::newRow("100") << 100 << icons::Green;
    QTest::newRow("101") << 101 << icons::Yellow;
    QTest::newRow("5000") << 5000 << icons::Yellow;
    QTest::newRow("5001") << 5001 << icons::Red;
    QTest::newRow("10000") << 10000 << icons::Red;
    QTest::newRow("10001") << 10001 << icons::Gray;
}

void tst_SweepView::rttIconThresholds()
{
    QFETCH(int, rtt);
    QFETCH(int, icon);
    Fixture f;
    f.add(QStringLiteral("h"), QStringLiteral("127.0.0.1"));
    f.prober.set(QStringLiteral("127.0.0.1"), 0, rtt);
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.list.subText(1, 2), QStringLiteral("OK"));
    QCOMPARE(f.list.subIcon(1, 2), icons::Ok);
    QCOMPARE(f.list.subText(1, 3), QString::number(rtt));
    QCOMPARE(f.list.subIcon(1, 3), icon);
}

void tst_SweepView::outcomesWriteStatusAndAlert_data()
{
    QTest::addColumn<bool>("allAtOnce");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("alertPressed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    QTest::addColumn<bool>("sounds");
    for (const bool allAtOnce : {false, true}) {
        const auto row = [allAtOnce](const char* tag) -> QTestData& {
            return QTest::addRow("%s, %s", tag, allAtOnce ? "all at once" : "one at a time") << allAtOnce;
        };
        row("ok, alert on") << 0 << true << QStringLiteral("OK") << icons::Ok << false;
        row("timeout, alert on") << 11010 << true << QStringLiteral("11010: Request Timed Out") << icons::Timeout
                                 << false;
        row("unreachable, alert on") << 11003 << true << QStringLiteral("11003: Destination Host Unreachable")
                                     << icons::Failed << true;
        row("unreachable, alert off") << 11003 << false << QStringLiteral("11003: Destination Host Unreachable")
                                      << icons::Failed << false;
        row("unlisted code") << 11020 << true << QStringLiteral("11020: Unknown Response") << icons::Failed << true;
        row("not sent, alert on") << -1 << true << QStringLiteral("-1: Unknown Response") << icons::Failed << true;
    }
}

void tst_SweepView::outcomesWriteStatusAndAlert()
{
    QFETCH(bool, allAtOnce);
    QFETCH(int, status);
    QFETCH(bool, alertPressed);
    QFETCH(QString, text);
    QFETCH(int, icon);
    QFETCH(bool, sounds);
    Fixture f;
    f.toolbar.setButtonValue(tb::SoundAlert, alertPressed ? 1 : 0);
    f.sweep.setAllAtOnce(allAtOnce);
    f.add(QStringLiteral("h"), QStringLiteral("198.18.0.9"));
    f.prober.set(QStringLiteral("198.18.0.9"), status, 1000);
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.sweep.LastStatus, status);
    QCOMPARE(f.list.subText(1, 2), text);
    QCOMPARE(f.list.subIcon(1, 2), icon);
    QCOMPARE(f.sound.played, sounds ? QStringList{notifyWav()} : QStringList{});
    QCOMPARE(f.list.smallIcon(1), 3); // the type icon is never touched
}

void tst_SweepView::failedSendKeepsNoStaleTime()
{
    Fixture f;
    f.add(QStringLiteral("good"), QStringLiteral("127.0.0.1"));
    f.add(QStringLiteral("bad"), QStringLiteral("no.such.host"));
    f.prober.set(QStringLiteral("127.0.0.1"), 0, 42);
    f.prober.set(QStringLiteral("no.such.host"), -1, 0, mdlPing::Failure::BadAddress);
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.list.subText(1, 3), QStringLiteral("42"));
    // The record still holds 42 from the first host; that time was never measured for this one.
    QCOMPARE(f.sweep.EchoReply.RoundTripTime, 42);
    QCOMPARE(f.list.subText(2, 3), QString());
    QCOMPARE(f.list.subIcon(2, 3), 0);
    QCOMPARE(f.list.subToolTip(2, 2), mdlPing::FailureText(mdlPing::Failure::BadAddress));
}

void tst_SweepView::notPermittedIsExplainedOncePerRun()
{
    Fixture f;
    f.toolbar.setButtonValue(tb::SoundAlert, 0);
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    f.add(QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    f.prober.set(QStringLiteral("127.0.0.1"), -1, 0, mdlPing::Failure::NotPermitted);
    f.prober.set(QStringLiteral("127.0.0.2"), -1, 0, mdlPing::Failure::NotPermitted);
    f.sweep.PingList();
    SETTLE(f);
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.messages.shown.size(), 1);
    QVERIFY(f.messages.shown.first().text.contains(QStringLiteral("cap_net_raw")));
    QVERIFY(f.messages.shown.first().text.contains(QStringLiteral("ping_group_range")));
    QCOMPARE(f.messages.shown.first().style, int(platform::MsgExclamation));
    QCOMPARE(f.messages.shown.first().title, QStringLiteral("Tivane"));
    QCOMPARE(f.list.subText(2, 2), QStringLiteral("-1: Unknown Response"));
}

void tst_SweepView::threeFailuresAlertInListOrder()
{
    Fixture f;
    f.toolbar.setButtonValue(tb::SoundAlert, 1);
    const QStringList hosts{QStringLiteral("198.18.0.1"), QStringLiteral("198.18.0.2"), QStringLiteral("127.0.0.1"),
                            QStringLiteral("198.18.0.3")};
    for (const QString& h : hosts)
        f.add(h, h);
    f.prober.set(hosts[0], 11002);
    f.prober.set(hosts[1], -1, 0, mdlPing::Failure::BadAddress);
    f.prober.set(hosts[3], 11050);
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.prober.probed, hosts);
    QCOMPARE(f.sound.played, QStringList(3, notifyWav()));
}

void tst_SweepView::stopDuringThirdOfFiveEntries()
{
    Fixture f;
    for (int i = 1; i <= 5; ++i) {
        f.add(QString::number(i), QStringLiteral("127.0.0.%1").arg(i));
        f.list.setSubText(i, 2, QStringLiteral("earlier"));
    }
    f.prober.onProbe = [&](const QString& address) {
        QVERIFY(!f.toolbar.isButtonEnabled(tb::Ping));
        QVERIFY(f.toolbar.isButtonEnabled(tb::Stop));
        // Pressed while the third request is out: that entry is still finished.
        if (address == QStringLiteral("127.0.0.3"))
            f.toolbar.clickButton(tb::Stop);
    };
    connect(&f.toolbar, &platform::ToolBar::buttonClicked, &f.toolbar,
            [&](int i) { f.commands.tblTivane_ButtonClick(i); });
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.prober.probed.size(), 3);
    QCOMPARE(f.list.subText(3, 2), QStringLiteral("OK"));
    QCOMPARE(f.list.subText(4, 2), QStringLiteral("earlier"));
    QCOMPARE(f.list.subText(5, 2), QStringLiteral("earlier"));
    QCOMPARE(f.list.selectedIndex(), 3);
    QCOMPARE(f.prober.cleanups, 1);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepView::rowAddedDuringSweepCountsButIsNotVisited()
{
    Fixture f;
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    f.add(QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    f.prober.onProbe = [&](const QString& address) {
        if (address == QStringLiteral("127.0.0.1"))
            f.add(QStringLiteral("late"), QStringLiteral("127.0.0.9"));
    };
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.prober.probed, (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")}));
    QCOMPARE(f.bar.Min(), 1.0f);
    QCOMPARE(f.bar.Max(), 3.0f);
    QCOMPARE(f.bar.Value(), 2.0f);
    QCOMPARE(f.list.subText(3, 2), QString());
}

void tst_SweepView::startupFailureIsReported()
{
    Fixture f;
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    f.prober.startupResult = false;
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.messages.shown.size(), 1);
    QCOMPARE(f.messages.shown.first().text, QStringLiteral("Windows Sockets not responding correctly."));
    QCOMPARE(f.messages.shown.first().style, 48);
    QVERIFY(f.prober.probed.isEmpty());
    QCOMPARE(f.prober.cleanups, 0);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepView::rowsRemovedDuringSweepAreNeverVisited()
{
    Fixture f;
    for (int i = 1; i <= 4; ++i)
        f.add(QString::number(i), QStringLiteral("127.0.0.%1").arg(i));
    f.prober.onProbe = [&](const QString& address) {
        if (address == QStringLiteral("127.0.0.2")) {
            f.list.removeAt(4);
            f.list.removeAt(3);
        }
    };
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.prober.probed.size(), 2);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
}

void tst_SweepView::dispatchByPosition()
{
    Fixture f;
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    int abouts = 0;
    int unloads = 0;
    QStringList playedAtAbout;
    f.commands.hooks.showAbout = [&] {
        ++abouts;
        playedAtAbout = f.sound.played;
    };
    f.commands.hooks.unload = [&] { ++unloads; };
    for (int i : {3, 4, 5, 6, 9, 0, -1})
        f.commands.tblTivane_ButtonClick(i);
    QVERIFY(f.prober.probed.isEmpty());
    QCOMPARE(abouts + unloads, 0);
    QVERIFY(f.messages.shown.isEmpty());

    f.commands.tblTivane_ButtonClick(tb::Ping);
    SETTLE(f);
    QCOMPARE(f.prober.probed.size(), 1);
    f.commands.tblTivane_ButtonClick(tb::About);
    QCOMPARE(abouts, 1);
    QCOMPARE(playedAtAbout, QStringList{QStringLiteral("/opt/tivane/Info.wav")});
    f.commands.tblTivane_ButtonClick(tb::Exit);
    QCOMPARE(unloads, 1);
}

void tst_SweepView::dispatchByKey()
{
    Fixture f;
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    const bool grid = f.list.gridLines();
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuShGrd"));
    QCOMPARE(f.list.gridLines(), !grid);
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuShGrd"));
    QCOMPARE(f.list.gridLines(), grid);
    const bool boxes = f.list.checkboxes();
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuChBoxs"));
    QCOMPARE(f.list.checkboxes(), !boxes);
    QVERIFY(f.list.isChecked(1)); // hiding the boxes keeps the ticks
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuChBoxs"));
    QCOMPARE(f.list.checkboxes(), boxes);

    // Items without a command answer with their key; matching is exact.
    for (const char* k : {"mnuAOT", "mnuSWndPos", "mnuHUS", "mnuAddIp", "mnuEdit", "mnuRem", "mnupingn", ""})
        f.commands.tblTivane_ButtonMenuClick(QString::fromLatin1(k));
    QCOMPARE(f.messages.shown.size(), 8);
    QCOMPARE(f.messages.shown.first().text, QStringLiteral("mnuAOT"));
    QCOMPARE(f.messages.shown.first().style, 0);
    QCOMPARE(f.messages.shown.at(6).text, QStringLiteral("mnupingn"));
    QVERIFY(f.prober.probed.isEmpty());

    int hooked = 0;
    f.commands.hooks.alwaysOnTop = [&] { ++hooked; };
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuAOT"));
    QCOMPARE(hooked, 1);
    QCOMPARE(f.messages.shown.size(), 8);

    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuPingN"));
    SETTLE(f);
    QCOMPARE(f.prober.probed.size(), 1);
}

void tst_SweepView::continuousRunStopsDuringSweep()
{
    Fixture f;
    f.sweep.continuousIntervalMs = 0;
    for (int i = 1; i <= 3; ++i)
        f.add(QString::number(i), QStringLiteral("127.0.0.%1").arg(i));
    int sweeps = 0;
    f.sweep.onContinuousSweep = [&] { ++sweeps; };
    f.prober.onProbe = [&](const QString& address) {
        // Between probes of a run, Stop stays available.
        QVERIFY(!f.toolbar.isButtonEnabled(tb::Ping));
        QVERIFY(f.toolbar.isButtonEnabled(tb::Stop));
        if (sweeps == 3 && address == QStringLiteral("127.0.0.2"))
            f.commands.tblTivane_ButtonClick(tb::Stop);
    };
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
    SETTLE(f);
    QCOMPARE(sweeps, 3);
    QCOMPARE(f.prober.probed.size(), 2 * 3 + 2);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
    QVERIFY(!f.sweep.isRunning());
}

void tst_SweepView::continuousRunStopsBetweenSweeps()
{
    Fixture f;
    f.sweep.continuousIntervalMs = 60000;
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    int sweeps = 0;
    f.sweep.onContinuousSweep = [&] { ++sweeps; };
    // Stop while the run waits for its next sweep: it must end at once, not after a minute.
    QTimer::singleShot(200, &f.toolbar, [&] {
        QVERIFY(!f.toolbar.isButtonEnabled(tb::Ping));
        QVERIFY(f.toolbar.isButtonEnabled(tb::Stop));
        f.commands.tblTivane_ButtonClick(tb::Stop);
    });
    QElapsedTimer t;
    t.start();
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
    SETTLE(f);
    QVERIFY2(t.elapsed() < 10000, "the run did not end when stopped between sweeps");
    QCOMPARE(sweeps, 1);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepView::continuousRunOverEmptyListIsPacedAndStoppable()
{
    Fixture f;
    f.sweep.continuousIntervalMs = 300;
    QVector<qint64> starts;
    QElapsedTimer t;
    t.start();
    f.sweep.onContinuousSweep = [&] {
        starts.append(t.elapsed());
        if (starts.size() == 3)
            QTimer::singleShot(0, &f.toolbar, [&] { f.toolbar.clickButton(tb::Stop); });
    };
    connect(&f.toolbar, &platform::ToolBar::buttonClicked, &f.toolbar,
            [&](int i) { f.commands.tblTivane_ButtonClick(i); });
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
    SETTLE(f);
    QCOMPARE(starts.size(), 3);
    // Sweeps start no closer than the interval; a generous lower bound only.
    QVERIFY2(starts[1] - starts[0] >= 290, qPrintable(QString::number(starts[1] - starts[0])));
    QVERIFY2(starts[2] - starts[1] >= 290, qPrintable(QString::number(starts[2] - starts[1])));
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepView::reloadEndsContinuousRun()
{
    Fixture f;
    f.sweep.continuousIntervalMs = 0;
    for (int i = 1; i <= 3; ++i)
        f.add(QString::number(i), QStringLiteral("127.0.0.%1").arg(i));
    int loads = 0;
    f.commands.hooks.loadList = [&] {
        ++loads;
        f.add(QStringLiteral("fresh"), QStringLiteral("127.0.0.7"));
    };
    f.prober.onProbe = [&](const QString& address) {
        // The user's Reload runs in the yield after this probe.
        if (address == QStringLiteral("127.0.0.2") && loads == 0)
            QTimer::singleShot(0, &f.toolbar,
                               [&] { f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuReload")); });
    };
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
    SETTLE(f);
    QCOMPARE(loads, 1);
    QCOMPARE(f.list.count(), 1);
    QCOMPARE(f.list.text(1), QStringLiteral("fresh"));
    QCOMPARE(f.list.subText(1, 2), QString()); // the sweep never touched the refilled list
    QCOMPARE(f.prober.probed.size(), 2);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepView::realProbeSweepsLoopbackHosts()
{
    platform::AppInfo app;
    platform::ReportList list;
    platform::ToolBar toolbar;
    platform::ProgressBar bar;
    RecordingMessageBox messages;
    RecordingSoundPlayer sound;
    IcmpProber prober;
    addWindowButtons(toolbar);
    toolbar.setButtonValue(tb::SoundAlert, 1);
    const QStringList addresses{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.1"),
                                QStringLiteral("not an address")};
    for (const QString& a : addresses) {
        const int i = list.add(a, 1);
        list.setChecked(i, true);
        list.setSubText(i, 1, a);
    }
    SweepContext ctx{list, toolbar, bar, messages, prober, sound, app};
    HostRowsModel hosts(list.items());
    Sweep sweep(hosts, prober);
    SweepView view(ctx, sweep);
    sweep.PingList();
    QTRY_VERIFY_WITH_TIMEOUT(sweep.isIdle(), 10000);
    if (list.subText(1, 2) == QStringLiteral("-1: Unknown Response"))
        QSKIP("this user may not send ICMP (run as root, or open net.ipv4.ping_group_range)");
    for (int i = 1; i <= 3; ++i) {
        QCOMPARE(list.subText(i, 2), QStringLiteral("OK"));
        QCOMPARE(list.subIcon(i, 2), icons::Ok);
        QVERIFY(list.subText(i, 3).toInt() < 1000);
        QCOMPARE(list.subIcon(i, 3), icons::Green);
    }
    QCOMPARE(list.subText(4, 2), QStringLiteral("-1: Unknown Response"));
    QCOMPARE(list.subText(4, 3), QString());
    QCOMPARE(sound.played.size(), 1);
    QCOMPARE(bar.Value(), 4.0f);
}

void tst_SweepView::listClearedWhileExplainingIsNeverTouched()
{
    // The explanation is a modal box with its own event loop: the window may close inside it.
    Fixture f;
    f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    f.add(QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    f.prober.set(QStringLiteral("127.0.0.1"), -1, 0, mdlPing::Failure::NotPermitted);
    f.messages.onShow = [&](const RecordingMessageBox::Shown&) {
        f.sweep.stop();
        f.list.clear();
    };
    f.sweep.PingList();
    SETTLE(f);
    QTRY_COMPARE(f.messages.shown.size(), 1);
    QCOMPARE(f.list.count(), 0);
    QVERIFY(f.prober.probed.size() <= 2);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
}

void tst_SweepView::pingAfterStopReplacesTheRunningSweep()
{
    Fixture f;
    for (int i = 1; i <= 4; ++i)
        f.add(QString::number(i), QStringLiteral("127.0.0.%1").arg(i));
    bool restarted = false;
    f.prober.onProbe = [&](const QString& address) {
        if (address == QStringLiteral("127.0.0.2") && !restarted) {
            restarted = true;
            // Both clicks wait in the queue while the probe blocks, and run in the next yield.
            QTimer::singleShot(0, &f.toolbar, [&] {
                f.commands.tblTivane_ButtonClick(tb::Stop);
                f.commands.tblTivane_ButtonClick(tb::Ping);
            });
        }
    };
    f.sweep.PingList();
    SETTLE(f);
    // The first sweep did 1 and 2, the new one all four; the first one did not resume afterwards.
    QCOMPARE(f.prober.probed.size(), 2 + 4);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
}

void tst_SweepView::stopAndRunFlipButtonsWhileAProbeWaits()
{
    // A host that takes long to answer must not hold the window: Stop works during the wait.
    Fixture f;
    f.prober.answerAfterMs = 400;
    f.add(QStringLiteral("slow"), QStringLiteral("127.0.0.1"));
    f.add(QStringLiteral("next"), QStringLiteral("127.0.0.2"));
    f.sweep.PingList();
    QVERIFY(f.sweep.isRunning());
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Ping));
    QCOMPARE(f.prober.inFlight(), 1);
    f.commands.tblTivane_ButtonClick(tb::Stop); // handled at once, not after the probe
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    QVERIFY(!f.toolbar.isButtonEnabled(tb::Stop));
    QVERIFY(!f.sweep.isRunning());
    SETTLE(f);
    // The entry being probed is finished; the next one is not visited.
    QCOMPARE(f.prober.probed, QStringList{QStringLiteral("127.0.0.1")});
    QCOMPARE(f.list.subText(1, 2), QStringLiteral("OK"));
    QCOMPARE(f.list.subText(2, 2), QString());
}

void tst_SweepView::stopThenContinuousRunDuringOneWaitKeepsRunning()
{
    for (const bool startContinuous : {false, true}) {
        Fixture f;
        f.prober.answerAfterMs = 100;
        f.sweep.continuousIntervalMs = 0;
        f.add(QStringLiteral("a"), QStringLiteral("127.0.0.1"));
        int sweeps = 0;
        f.sweep.onContinuousSweep = [&] { ++sweeps; };
        if (startContinuous)
            f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
        else
            f.sweep.PingList();
        f.commands.tblTivane_ButtonClick(tb::Stop);
        f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
        const int before = sweeps;
        // The new run must not take the Stop that came before it for its own.
        QTRY_VERIFY_WITH_TIMEOUT(sweeps >= before + 3, 10000);
        QVERIFY(f.sweep.isRunning());
        QVERIFY(f.toolbar.isButtonEnabled(tb::Stop));
        f.commands.tblTivane_ButtonClick(tb::Stop);
        SETTLE(f);
        QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
    }
}

void tst_SweepView::resultsFollowTheirHostThroughASort_data()
{
    QTest::addColumn<bool>("allAtOnce");
    QTest::newRow("one at a time") << false;
    QTest::newRow("all at once") << true;
}

void tst_SweepView::resultsFollowTheirHostThroughASort()
{
    QFETCH(bool, allAtOnce);
    Fixture f;
    f.prober.answerAfterMs = 20;
    f.sweep.setAllAtOnce(allAtOnce);
    const QStringList names{QStringLiteral("d"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")};
    for (int i = 0; i < names.size(); ++i) {
        const QString address = QStringLiteral("127.0.0.%1").arg(i + 1);
        f.add(names[i], address);
        f.prober.set(address, 0, 10 * (i + 1)); // each host its own time
    }
    f.sweep.PingList();
    f.list.setSortKey(0);
    f.list.setSorted(true); // a column click while the first request is out
    SETTLE(f);
    QCOMPARE(f.prober.probed.size(), 4);
    QCOMPARE(QSet<QString>(f.prober.probed.cbegin(), f.prober.probed.cend()).size(), 4);
    for (int row = 1; row <= 4; ++row) {
        const int host = f.list.subText(row, 1).section(u'.', 3).toInt();
        QCOMPARE(f.list.subText(row, 3), QString::number(10 * host));
    }
}

void tst_SweepView::reloadDuringAWaitWritesNothingIntoTheNewList()
{
    Fixture f;
    f.prober.answerAfterMs = 50;
    f.prober.reportCancelled = true; // the reply is already on its way
    f.add(QStringLiteral("old"), QStringLiteral("127.0.0.1"));
    f.commands.hooks.loadList = [&] { f.add(QStringLiteral("fresh"), QStringLiteral("127.0.0.7")); };
    f.sweep.PingList();
    f.commands.tblTivane_ButtonMenuClick(QStringLiteral("mnuReload"));
    SETTLE(f);
    QTRY_COMPARE(f.prober.probed.size(), 1); // the late reply arrived...
    QCOMPARE(f.list.count(), 1);
    QCOMPARE(f.list.subText(1, 2), QString()); // ...and was written nowhere
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
}

void tst_SweepView::userSelectionIsLeftAlone()
{
    Fixture f;
    f.prober.answerAfterMs = 30;
    for (int i = 1; i <= 6; ++i)
        f.add(QString::number(i), QStringLiteral("127.0.0.%1").arg(i));
    f.list.resize(400, 300);
    f.list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.list));

    // Untouched, the sweep selects each entry it visits.
    f.sweep.PingList();
    QTRY_COMPARE(f.list.selectedIndex(), 2);
    const QRect fifth = f.list.visualRect(f.list.items()->index(4, 0));
    QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, fifth.center());
    QCOMPARE(f.list.selectedIndex(), 5);
    SETTLE(f);
    QCOMPARE(f.prober.probed.size(), 6);
    QCOMPARE(f.list.selectedIndex(), 5); // the user's choice, not the last entry swept

    // A new sweep started by the user follows its entries again.
    f.sweep.PingList();
    SETTLE(f);
    QCOMPARE(f.list.selectedIndex(), 6);
}

void tst_SweepView::allAtOnceSendsEveryRequestWithoutWaiting()
{
    Fixture f;
    f.prober.answerAfterMs = 200;
    f.sweep.setAllAtOnce(true);
    const int n = 300;
    for (int i = 1; i <= n; ++i) {
        const QString address = QStringLiteral("127.0.%1.%2").arg(i / 250).arg(i % 250 + 1);
        f.add(QString::number(i), address, i != 7);
        if (i % 3 == 0)
            f.prober.set(address, 11010, 1000);
    }
    f.list.setSubText(7, 2, QStringLiteral("earlier"));
    f.sweep.PingList();
    QCOMPARE(f.prober.inFlight(), Sweep::MaxInFlight); // no waiting for answers, but a cap
    SETTLE(f);
    QCOMPARE(f.prober.maxInFlight, Sweep::MaxInFlight);
    QCOMPARE(f.prober.probed.size(), n - 1);
    QCOMPARE(f.bar.Value(), float(n));
    QCOMPARE(f.list.subText(7, 2), QString()); // unticked: emptied
    QCOMPARE(f.list.subText(3, 2), QStringLiteral("11010: Request Timed Out"));
    QCOMPARE(f.list.subText(4, 2), QStringLiteral("OK"));
    QCOMPARE(f.sweep.isRunning(), false);
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
}

void tst_SweepView::allAtOnceStopAbandonsEveryRequest()
{
    Fixture f;
    f.prober.answerAfterMs = 100;
    f.prober.reportCancelled = true; // late replies still come in, and must be ignored
    f.sweep.setAllAtOnce(true);
    for (int i = 1; i <= 5; ++i) {
        f.add(QString::number(i), QStringLiteral("127.0.0.%1").arg(i));
        f.list.setSubText(i, 2, QStringLiteral("earlier"));
    }
    f.sweep.PingList();
    QCOMPARE(f.prober.inFlight(), 5);
    f.commands.tblTivane_ButtonClick(tb::Stop);
    QCOMPARE(f.prober.inFlight(), 0);
    SETTLE(f);
    QTRY_COMPARE(f.prober.probed.size(), 5);
    for (int i = 1; i <= 5; ++i)
        QCOMPARE(f.list.subText(i, 2), QStringLiteral("earlier"));
    QVERIFY(f.toolbar.isButtonEnabled(tb::Ping));
}

QTEST_MAIN(tst_SweepView)
#include "tst_sweepview.moc"
