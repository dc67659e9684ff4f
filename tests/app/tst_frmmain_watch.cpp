// The window's statistics, alerts, history and export, driven as a user would: sweeps over a
// scripted probe, the View and IP List menu items, the list's context menu by mouse and keys,
// double clicks, and the settings they leave for the next run.
#include "app/frmmain.h"
#include "app/historyview.h"
#include "app/hostwatch.h"
#include "platform/messagebox.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/toolbar.h"
#include "resources/artwork.h"
#include "tests/app/windowharness.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

namespace {

// A name with a comma and quotes, for the export.
struct Harness : WindowHarness
{
    explicit Harness(const QByteArray& list = "1|srv|127.0.0.1\r\n2|pc, \"home\"|127.0.0.2\r\n3|x|127.0.0.3\r\n")
        : WindowHarness(list)
    {
    }
};

// Right-clicks the row and, once the context menu is up, presses the key of one of its items.
void contextMenuKey(frmMain& w, int row, Qt::Key key)
{
    bool pressed = false;
    QTimer::singleShot(30, &w, [&] {
        if (QApplication::activePopupWidget() == w.mnu) {
            QTest::keyClick(w.mnu, key);
            pressed = true;
        }
    });
    QTest::mouseClick(w.lstPings->viewport(), Qt::RightButton, {}, rowCenter(w, row));
    QVERIFY(pressed);
}

QImage picture(const QIcon& icon)
{
    return icon.pixmap(22).toImage();
}

} // namespace

class tst_FrmMainWatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void statisticsColumnsAreOnByDefaultToggledAndKept();
    void aHostGoingDownAndComingBackIsToldThroughTheTray();
    void nothingIsToldWithoutATray();
    void historyOpensFromTheContextMenuAndByDoubleClick();
    void exportWritesTheRowsThroughTheSaveDialog();
    void alertsSetDownAfterAndTheOutageLog();
    void optionsSetTheIntervalOfAContinuousRun();
    void resetAndReloadStartAfreshRemovalKeepsTheOthers();
    void aChangeInFlightAtStopIsToldOnce_data();
    void aChangeInFlightAtStopIsToldOnce();
};

void tst_FrmMainWatch::statisticsColumnsAreOnByDefaultToggledAndKept()
{
    Harness h;
    frmMain& w = h.start();
    const QAbstractItemModel* m = w.lstPings->items();
    QCOMPARE(m->columnCount(), HostWatch::FirstColumn + w.watch().extraColumnCount());
    // The seed's columns first, as they were.
    QCOMPARE(m->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Name"));
    QCOMPARE(m->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Timeout"));
    QStringList extra;
    for (int c = HostWatch::FirstColumn; c < m->columnCount(); ++c) {
        extra.append(m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
        QVERIFY(!w.lstPings->isColumnHidden(c));
    }
    for (const char* name : {"Loss", "Avg", "Min", "Max", "Since"})
        QVERIFY2(extra.contains(QLatin1String(name)), qPrintable(extra.join(QLatin1Char(','))));
    QVERIFY(w.tblTivane->isMenuItemChecked(QStringLiteral("mnuStats")));

    // Widths of the user's own, then the statistics hidden: the hidden columns keep theirs.
    w.lstPings->setColumnWidth(1, 151);
    w.lstPings->setColumnWidth(HostWatch::FirstColumn + 1, 77);
    w.tblTivane->clickMenuItem(QStringLiteral("mnuStats"));
    QVERIFY(!w.tblTivane->isMenuItemChecked(QStringLiteral("mnuStats")));
    QVERIFY(w.lstPings->isColumnHidden(HostWatch::FirstColumn));
    QVERIFY(!w.lstPings->isColumnHidden(3));
    QVERIFY(h.messages.shown.isEmpty()); // the key was the window's, not an unknown command
    w.close();
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("Statistics")), QStringLiteral("False"));
    const QString widths = h.stored(QStringLiteral("View"), QStringLiteral("ColumnWidths"));
    QVERIFY2(!widths.split(u',').contains(QStringLiteral("0")), qPrintable(widths));

    frmMain& again = h.start();
    QVERIFY(again.lstPings->isColumnHidden(HostWatch::FirstColumn));
    QVERIFY(!again.tblTivane->isMenuItemChecked(QStringLiteral("mnuStats")));
    QCOMPARE(again.lstPings->columnWidth(1), 151);
    again.tblTivane->clickMenuItem(QStringLiteral("mnuStats"));
    QCOMPARE(again.lstPings->columnWidth(HostWatch::FirstColumn + 1), 77);
}

void tst_FrmMainWatch::aHostGoingDownAndComingBackIsToldThroughTheTray()
{
    Harness h;
    h.tray.available = true;
    frmMain& w = h.start();
    QVERIFY(w.trayShown());
    QCOMPARE(picture(h.tray.lastIcon), picture(artwork::trayIcon(artwork::TrayNoneProbed)));
    QVERIFY2(h.tray.calls.last().second.contains(QLatin1String("none probed")), qPrintable(h.tray.calls.last().second));

    h.sweep();
    QCOMPARE(picture(h.tray.lastIcon), picture(artwork::trayIcon(artwork::TrayAllUp)));
    h.prober.set(QStringLiteral("127.0.0.3"), 11010);
    h.sweep(2);
    QVERIFY(h.tray.messages.isEmpty()); // two failures are not yet down
    h.sweep();
    QCOMPARE(h.tray.messages.size(), 1);
    QVERIFY(h.tray.messages.first().warning);
    QVERIFY2(h.tray.messages.first().text.contains(QLatin1String("x (127.0.0.3) is down since")),
             qPrintable(h.tray.messages.first().text));
    QVERIFY2(h.tray.calls.last().second.startsWith(QLatin1String("Tivane: 1 of 3 down")),
             qPrintable(h.tray.calls.last().second));
    QCOMPARE(picture(h.tray.lastIcon), picture(artwork::trayIcon(artwork::TraySomeDown)));
    // Sound Alert is pressed by default: the going-down sound, the seed's alert left alone
    // (a timeout never played it).
    QCOMPARE(h.sound.played, QStringList{QDir(h.dir.path()).filePath(QStringLiteral("HostDown.wav"))});
    QCOMPARE(h.stat(3, QStringLiteral("State")), QStringLiteral("Down"));
    QCOMPARE(w.lstPings->subText(3, 2), QStringLiteral("11010: Request Timed Out"));

    // The tray's periodic look keeps the state's tip, not the bare title.
    w.followTray();
    QVERIFY2(h.tray.calls.last().second.startsWith(QLatin1String("Tivane: 1 of 3 down")),
             qPrintable(h.tray.calls.last().second));

    // Sound Alert released: told, but silent.
    QTest::mouseClick(w.tblTivane->button(tb::SoundAlert), Qt::LeftButton);
    QCOMPARE(w.tblTivane->buttonValue(tb::SoundAlert), 0);
    h.prober.set(QStringLiteral("127.0.0.3"), 0, 1);
    h.sweep();
    QCOMPARE(h.tray.messages.size(), 2);
    QVERIFY(!h.tray.messages.last().warning);
    QVERIFY2(h.tray.messages.last().text.contains(QLatin1String("is up again after")),
             qPrintable(h.tray.messages.last().text));
    QCOMPARE(h.sound.played.size(), 1);
    QCOMPARE(picture(h.tray.lastIcon), picture(artwork::trayIcon(artwork::TrayAllUp)));
}

void tst_FrmMainWatch::nothingIsToldWithoutATray()
{
    Harness h;
    frmMain& w = h.start();
    QVERIFY(!w.trayShown());
    h.prober.set(QStringLiteral("127.0.0.1"), 11010);
    h.sweep(3);
    QCOMPARE(h.stat(1, QStringLiteral("State")), QStringLiteral("Down"));
    QVERIFY(h.tray.messages.isEmpty());
    // Only the start's add was asked of a tray that is not there.
    QCOMPARE(h.tray.calls.size(), 1);
}

void tst_FrmMainWatch::historyOpensFromTheContextMenuAndByDoubleClick()
{
    Harness h;
    frmMain& w = h.start();
    w.resize(900, 500);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    h.prober.set(QStringLiteral("127.0.0.2"), 11010);
    h.sweep(2);

    // A double click on a row opens its host's history (a click first, as a mouse sends it).
    QTest::mouseClick(w.lstPings->viewport(), Qt::LeftButton, {}, rowCenter(w, 2) + QPoint(40, 0));
    QTest::mouseDClick(w.lstPings->viewport(), Qt::LeftButton, {}, rowCenter(w, 2) + QPoint(40, 0));
    QTRY_COMPARE(w.findChildren<HistoryWindow*>().size(), 1);
    HistoryWindow* first = w.findChildren<HistoryWindow*>().first();
    QCOMPARE(first->key(), w.watch().keyAt(2));
    QVERIFY2(first->windowTitle().contains(QLatin1String("127.0.0.2")), qPrintable(first->windowTitle()));
    QCOMPARE(first->plot()->points().size(), 2);
    QVERIFY2(first->summary().contains(QLatin1String("2 failed in a row")), qPrintable(first->summary()));
    // It follows the sweeps.
    h.sweep();
    QTRY_COMPARE(first->plot()->points().size(), 3);

    // So does History in the context menu; the same host again brings its window forward.
    contextMenuKey(w, 1, Qt::Key_H);
    QTRY_COMPARE(w.findChildren<HistoryWindow*>().size(), 2);
    contextMenuKey(w, 2, Qt::Key_H);
    QCOMPARE(w.findChildren<HistoryWindow*>().size(), 2);

    // A Reload leaves them nothing to show: they go.
    w.tblTivane->clickMenuItem(QStringLiteral("mnuReload"));
    QTRY_COMPARE(w.findChildren<HistoryWindow*>().size(), 0);
}

void tst_FrmMainWatch::exportWritesTheRowsThroughTheSaveDialog()
{
    Harness h;
    frmMain& w = h.start();
    w.resize(900, 500);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    h.prober.set(QStringLiteral("127.0.0.3"), 11010);
    h.sweep();

    // Cancelled: nothing written.
    w.tblTivane->clickMenuItem(QStringLiteral("mnuExport"));
    QCOMPARE(h.dialogs.suggested.size(), 1);
    QVERIFY(h.dialogs.suggested.first().endsWith(QLatin1String(".csv")));

    const QString all = h.dir.filePath(QStringLiteral("all.csv"));
    h.dialogs.saveAs = all;
    w.tblTivane->clickMenuItem(QStringLiteral("mnuExport"));
    const QList<QByteArray> lines = readBytes(all).split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines.at(0).contains("Name,IP Adress,Status,Timeout,"), lines.at(0).constData());
    QVERIFY2(lines.at(2).startsWith("\"pc, \"\"home\"\"\",127.0.0.2,OK,1,"), lines.at(2).constData());
    QVERIFY2(lines.at(3).startsWith("x,127.0.0.3,11010: Request Timed Out,"), lines.at(3).constData());

    // From the context menu: the row under the mouse only.
    const QString one = h.dir.filePath(QStringLiteral("one.csv"));
    h.dialogs.saveAs = one;
    contextMenuKey(w, 3, Qt::Key_X);
    const QList<QByteArray> oneLines = readBytes(one).split('\n');
    QCOMPARE(oneLines.size(), 3);
    QVERIFY(oneLines.at(1).startsWith("x,"));
    // With more rows selected, all of them.
    const QString two = h.dir.filePath(QStringLiteral("two.csv"));
    h.dialogs.saveAs = two;
    QTest::mouseClick(w.lstPings->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCenter(w, 1));
    contextMenuKey(w, 3, Qt::Key_X);
    QCOMPARE(readBytes(two).split('\n').size(), 4);

    // A file that cannot be written is said, and what was there stays.
    h.dialogs.saveAs = h.dir.filePath(QStringLiteral("missing/folder/x.csv"));
    w.tblTivane->clickMenuItem(QStringLiteral("mnuExport"));
    QCOMPARE(h.messages.shown.size(), 1);
    QVERIFY2(h.messages.shown.first().text.contains(QLatin1String("could not be exported")),
             qPrintable(h.messages.shown.first().text));
    QCOMPARE(readBytes(one).split('\n').size(), 3);
}

void tst_FrmMainWatch::optionsSetTheIntervalOfAContinuousRun()
{
    Harness h;
    frmMain& w = h.start();
    QCOMPARE(w.sweep().continuousIntervalMs, 1000); // unchanged for who never opens Options
    QCOMPARE(h.prober.replyTimeoutMs(), 1000);
    QCOMPARE(h.prober.payloadBytes(), 5);
    h.dialogs.onOptions = [](ProbeSettings& s) {
        s.intervalMs = 250;
        s.timeoutMs = 400;
        s.payloadBytes = 1472;
        return true;
    };
    w.tblTivane->clickMenuItem(QStringLiteral("mnuOptions"));
    QCOMPARE(h.dialogs.optionsShown, QVector<int>{1000});
    QCOMPARE(w.sweep().continuousIntervalMs, 250);
    QCOMPARE(h.prober.replyTimeoutMs(), 400); // reaches the prober, which hands it to the engine
    QCOMPARE(h.prober.payloadBytes(), 1472);
    h.dialogs.onOptions = [](ProbeSettings& s) {
        s.intervalMs = 5000;
        return false; // Cancel
    };
    w.tblTivane->clickMenuItem(QStringLiteral("mnuOptions"));
    QCOMPARE(w.sweep().continuousIntervalMs, 250);
    w.close();
    QCOMPARE(h.stored(QStringLiteral("Probe"), QStringLiteral("IntervalMs")), QStringLiteral("250"));
    QCOMPARE(h.stored(QStringLiteral("Probe"), QStringLiteral("TimeoutMs")), QStringLiteral("400"));
    QCOMPARE(h.stored(QStringLiteral("Probe"), QStringLiteral("PayloadBytes")), QStringLiteral("1472"));
    QCOMPARE(h.start().sweep().continuousIntervalMs, 250);
}

void tst_FrmMainWatch::alertsSetDownAfterAndTheOutageLog()
{
    Harness h;
    frmMain& w = h.start();
    QCOMPARE(w.watch().downAfter(), 3);
    QVERIFY(!w.outageLog());
    h.dialogs.onAlerts = [](AlertSettings& s) {
        s.rules.downAfter = 1;
        s.outageLog = true;
        return true;
    };
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAlerts"));
    QCOMPARE(h.dialogs.alertsShown.size(), 1);
    QCOMPARE(h.dialogs.alertsShown.first().rules.downAfter, 3);
    const QString log = QDir(h.dir.path()).filePath(QStringLiteral("outages.csv"));
    QCOMPARE(h.dialogs.alertsShown.first().logPath, log);
    QCOMPARE(w.watch().downAfter(), 1);

    h.prober.set(QStringLiteral("127.0.0.1"), 11010);
    h.sweep();
    QCOMPARE(h.stat(1, QStringLiteral("State")), QStringLiteral("Down"));
    const QByteArray logged = readBytes(log);
    QVERIFY2(logged.startsWith("time,name,address,state,status,text\r\n"), logged.constData());
    QVERIFY2(logged.contains(",srv,127.0.0.1,down,11010,"), logged.constData());

    // Cancel changes nothing.
    h.dialogs.onAlerts = [](AlertSettings& s) {
        s.rules.downAfter = 50;
        return false;
    };
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAlerts"));
    QCOMPARE(w.watch().downAfter(), 1);
    w.close();
    QCOMPARE(h.stored(QStringLiteral("Alerts"), QStringLiteral("DownAfter")), QStringLiteral("1"));
    QCOMPARE(h.stored(QStringLiteral("Alerts"), QStringLiteral("OutageLog")), QStringLiteral("True"));

    // The next run starts with them; a value beyond reason in the file falls back to the default.
    frmMain& again = h.start();
    QCOMPARE(again.watch().downAfter(), 1);
    QVERIFY(again.outageLog());
    again.close();
    h.settings->write(QStringLiteral("Alerts"), QStringLiteral("DownAfter"), QStringLiteral("100000"));
    QVERIFY(h.settings->sync());
    QCOMPARE(h.start().watch().downAfter(), 3);
}

void tst_FrmMainWatch::resetAndReloadStartAfreshRemovalKeepsTheOthers()
{
    Harness h;
    frmMain& w = h.start();
    h.sweep(2);
    QCOMPARE(h.stat(1, QStringLiteral("Sent")), QStringLiteral("2"));
    w.tblTivane->clickMenuItem(QStringLiteral("mnuResetStats"));
    QCOMPARE(h.stat(1, QStringLiteral("Sent")), QString());
    h.sweep();
    QCOMPARE(h.stat(3, QStringLiteral("Sent")), QStringLiteral("1"));

    // Removing a row keeps every other host's statistics.
    w.lstPings->select(2);
    h.messages.queueAnswer(platform::MsgResultYes);
    w.tblTivane->clickMenuItem(QStringLiteral("mnuRem"));
    QCOMPARE(w.lstPings->count(), 2);
    QCOMPARE(h.stat(h.rowOf(QStringLiteral("x")), QStringLiteral("Sent")), QStringLiteral("1"));
    QCOMPARE(w.watch().monitor().count(), 2);

    w.tblTivane->clickMenuItem(QStringLiteral("mnuReload"));
    QCOMPARE(w.lstPings->count(), 2);
    QCOMPARE(h.stat(1, QStringLiteral("Sent")), QString());
    QCOMPARE(w.watch().monitor().count(), 2);
}

void tst_FrmMainWatch::aChangeInFlightAtStopIsToldOnce_data()
{
    QTest::addColumn<QString>("then"); // what the user does after the outcome came
    QTest::newRow("nothing") << QStringLiteral("nothing");
    QTest::newRow("exit") << QStringLiteral("exit");
    QTest::newRow("another sweep") << QStringLiteral("sweep");
}

void tst_FrmMainWatch::aChangeInFlightAtStopIsToldOnce()
{
    // Stop pressed while the probe that turns the host down is out: the sweep ends at once, the
    // outcome comes later, and its change must not wait for a sweep that may never come.
    QFETCH(QString, then);
    Harness h("1|x|127.0.0.3\r\n");
    h.tray.available = true;
    h.settings->write(QStringLiteral("Alerts"), QStringLiteral("DownAfter"), QStringLiteral("1"));
    h.settings->write(QStringLiteral("Alerts"), QStringLiteral("OutageLog"), QStringLiteral("True"));
    QVERIFY(h.settings->sync());
    frmMain& w = h.start();
    const QString log = QDir(h.dir.path()).filePath(QStringLiteral("outages.csv"));
    h.prober.set(QStringLiteral("127.0.0.3"), 11010);
    h.prober.answerAfterMs = 300;
    w.PingList();
    QTRY_COMPARE(h.prober.inFlight(), 1);
    QTest::mouseClick(w.tblTivane->button(tb::Stop), Qt::LeftButton);
    QVERIFY(!w.sweep().isRunning());
    QTRY_VERIFY(w.sweep().isIdle());

    QTRY_COMPARE(h.tray.messages.size(), 1);
    QVERIFY2(h.tray.messages.first().text.contains(QLatin1String("x (127.0.0.3) is down since")),
             qPrintable(h.tray.messages.first().text));
    QCOMPARE(h.sound.played.size(), 1);
    QVERIFY2(h.tray.calls.last().second.startsWith(QLatin1String("Tivane: 1 of 1 down")),
             qPrintable(h.tray.calls.last().second));
    if (then == QLatin1String("exit")) {
        w.close();
    } else if (then == QLatin1String("sweep")) {
        h.prober.answerAfterMs = -1;
        h.sweep();
    }
    QCOMPARE(h.tray.messages.size(), 1);
    QCOMPARE(readBytes(log).count(",x,127.0.0.3,down,"), 1);
}

QTEST_MAIN(tst_FrmMainWatch)
#include "tst_frmmain_watch.moc"
