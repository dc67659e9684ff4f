// The window in daily use: monitoring that resumes at start, closing to the tray, many rows at
// once (select, tick, remove), sorting and drop-downs from the keyboard.
#include "app/frmmain.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/toolbar.h"
#include "tests/app/windowharness.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

namespace {

struct Harness : WindowHarness
{
    explicit Harness(const QByteArray& list = "1|b|127.0.0.2\r\n1|a|127.0.0.1\r\n1|c|127.0.0.3\r\n1|d|127.0.0.4\r\n")
        : WindowHarness(list)
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    }

    // Continuous runs sweep back to back, so that a test need not wait out the interval.
    frmMain& make()
    {
        frmMain& w = open();
        w.sweep().continuousIntervalMs = 0;
        w.Form_Load();
        return w;
    }

    void setView(const char* key, const char* value)
    {
        store(QStringLiteral("View"), QString::fromLatin1(key), QString::fromLatin1(value));
    }
};

} // namespace

class tst_DailyUse : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void monitoringResumesAtStartWhenAsked_data();
    void monitoringResumesAtStartWhenAsked();
    void startWithTheSessionTurnsResumingOnAndSaysSo();
    void closeToTray_data();
    void closeToTray();
    void manyRowsAreSelectedTickedAndRemovedAtOnce();
    void removingManyRefusesWhenTheFileChangedAndKeepsIt();
    void ctrlDigitsSortByColumn_data();
    void ctrlDigitsSortByColumn();
    void aDropDownOpenedByKeyHighlightsItsFirstItem();
};

void tst_DailyUse::monitoringResumesAtStartWhenAsked_data()
{
    QTest::addColumn<QByteArray>("stored"); // View/ResumeMonitoring; empty: absent
    QTest::addColumn<bool>("runs");
    QTest::newRow("first run") << QByteArray() << false;
    QTest::newRow("off") << QByteArray("False") << false;
    QTest::newRow("on") << QByteArray("True") << true;
}

void tst_DailyUse::monitoringResumesAtStartWhenAsked()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, runs);
    Harness h;
    if (!stored.isEmpty())
        h.setView("ResumeMonitoring", stored.constData());
    frmMain& w = h.make();
    QCOMPARE(w.resumeMonitoring(), runs);
    QCOMPARE(w.tblTivane->isMenuItemChecked(QStringLiteral("mnuResume")), runs);
    QCOMPARE(w.sweep().isRunning(), runs);
    if (runs)
        QTRY_VERIFY(h.prober.probed.size() >= 8); // sweep after sweep, not one
    // The item turns it round, and the next start follows it.
    w.tblTivane->clickMenuItem(QStringLiteral("mnuResume"));
    QCOMPARE(w.resumeMonitoring(), !runs);
    w.mnuExit_Click();
    QCOMPARE(h.make().sweep().isRunning(), !runs);
}

void tst_DailyUse::startWithTheSessionTurnsResumingOnAndSaysSo()
{
    Harness h;
    frmMain& w = h.make();
    QVERIFY(!w.resumeMonitoring());
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAutoStart"));
    QVERIFY(w.startWithSession());
    QVERIFY(w.resumeMonitoring());
    QCOMPARE(h.messages.shown.size(), 1);
    QVERIFY2(h.messages.shown.first().text.contains(QLatin1String("Resume Monitoring at Start")),
             qPrintable(h.messages.shown.first().text));
    // Turned off again, it stays off: the user's choice.
    w.tblTivane->clickMenuItem(QStringLiteral("mnuResume"));
    QVERIFY(!w.resumeMonitoring());
    QVERIFY(w.startWithSession());
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAutoStart"));
}

void tst_DailyUse::closeToTray_data()
{
    QTest::addColumn<bool>("closeToTray");
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("hidden"); // closing hid the window instead of ending the program
    QTest::newRow("off") << false << true << false;
    QTest::newRow("on, with a tray") << true << true << true;
    QTest::newRow("on, without a tray: nothing to come back by") << true << false << false;
}

void tst_DailyUse::closeToTray()
{
    QFETCH(bool, closeToTray);
    QFETCH(bool, tray);
    QFETCH(bool, hidden);
    Harness h;
    h.tray.available = tray;
    frmMain& w = h.make();
    QVERIFY(!w.closeToTray());
    if (closeToTray)
        w.tblTivane->clickMenuItem(QStringLiteral("mnuCloseTray"));
    QCOMPARE(w.closeToTray(), closeToTray);
    w.show();
    w.commands().tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
    w.close();
    QCOMPARE(w.isVisible(), false);
    QCOMPARE(w.isUnloaded(), !hidden);
    QCOMPARE(w.sweep().isRunning(), hidden); // monitoring goes on behind the tray
    // Exit ends the program all the same.
    if (hidden) {
        QTest::mouseClick(w.tblTivane->button(tb::Exit), Qt::LeftButton);
        QTRY_VERIFY(w.isUnloaded());
    }
    QCOMPARE(h.ends, 1);
    platform::SettingsStore reread(h.dir.filePath(QStringLiteral("settings.ini")));
    QCOMPARE(reread.read(QStringLiteral("View"), QStringLiteral("CloseToTray"), QString()),
             closeToTray ? QStringLiteral("True") : QStringLiteral("False"));
}

void tst_DailyUse::manyRowsAreSelectedTickedAndRemovedAtOnce()
{
    Harness h;
    frmMain& w = h.make();
    focusList(w);
    // Click a, Ctrl+click c, then Shift+Down takes d as well.
    QTest::mouseClick(w.lstPings->viewport(), Qt::LeftButton, {}, rowCenter(w, 2));
    QTest::mouseClick(w.lstPings->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCenter(w, 3));
    QTest::keyClick(w.lstPings, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(w.lstPings->selectedRowNumbers(), (QVector<int>{2, 3, 4}));

    // Space unticks all of them as the current one goes, and ticks them again.
    QTest::keyClick(w.lstPings, Qt::Key_Space);
    for (int row = 1; row <= 4; ++row)
        QCOMPARE(w.lstPings->isChecked(row), row == 1);
    QTest::keyClick(w.lstPings, Qt::Key_Space);
    for (int row = 1; row <= 4; ++row)
        QVERIFY(w.lstPings->isChecked(row));

    // Edit acts on the current row only.
    QTest::keyClick(w.lstPings, Qt::Key_F2);
    QCOMPARE(h.dialogs.edits.size(), 1);
    QCOMPARE(h.dialogs.edits.first().name, QStringLiteral("d"));

    // Delete asks once, naming how many, and takes their lines out of the file together.
    h.messages.queueAnswer(platform::MsgResultNo);
    QTest::keyClick(w.lstPings, Qt::Key_Delete);
    QCOMPARE(h.messages.shown.last().text, QStringLiteral("Remove the 3 selected hosts from the list?"));
    QCOMPARE(w.lstPings->count(), 4);
    h.messages.queueAnswer(platform::MsgResultYes);
    QTest::keyClick(w.lstPings, Qt::Key_Delete);
    QCOMPARE(h.names(), QStringList{QStringLiteral("b")});
    QCOMPARE(readBytes(h.dir.filePath(QStringLiteral("list.txt"))), QByteArray("1|b|127.0.0.2\r\n"));

    // The sweep still marks its own row alone.
    w.PingList();
    QTRY_VERIFY(w.sweep().isIdle());
    QCOMPARE(w.lstPings->selectedRowNumbers(), QVector<int>{1});
}

void tst_DailyUse::removingManyRefusesWhenTheFileChangedAndKeepsIt()
{
    Harness h;
    frmMain& w = h.make();
    const QByteArray edited = "1|b|127.0.0.2\r\n1|a renamed|127.0.0.1\r\n1|c|127.0.0.3\r\n1|d|127.0.0.4\r\n";
    writeBytes(h.dir.filePath(QStringLiteral("list.txt")), edited);
    w.lstPings->select(1);
    w.lstPings->selectionModel()->select(w.lstPings->items()->index(1, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    h.messages.queueAnswer(platform::MsgResultYes);
    w.mnuDelete_Click();
    // One of the two lines is not as loaded: neither goes.
    QCOMPARE(readBytes(h.dir.filePath(QStringLiteral("list.txt"))), edited);
    QCOMPARE(w.lstPings->count(), 4);
    QCOMPARE(h.messages.shown.size(), 2);
}

void tst_DailyUse::ctrlDigitsSortByColumn_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QStringList>("names");
    const auto list = [](const char* a, const char* b, const char* c, const char* d) {
        return QStringList{QString::fromLatin1(a), QString::fromLatin1(b), QString::fromLatin1(c),
                           QString::fromLatin1(d)};
    };
    QTest::newRow("Ctrl+1: names") << QList<int>{1} << list("a", "b", "c", "d");
    QTest::newRow("Ctrl+1 twice: reversed") << QList<int>{1, 1} << list("d", "c", "b", "a");
    QTest::newRow("Ctrl+2: addresses") << QList<int>{1, 1, 2} << list("a", "b", "c", "d");
    QTest::newRow("Ctrl+9: a column that is there") << QList<int>{9, 9} << list("b", "a", "c", "d");
}

void tst_DailyUse::ctrlDigitsSortByColumn()
{
    QFETCH(QList<int>, keys);
    QFETCH(QStringList, names);
    Harness h;
    frmMain& w = h.make();
    focusList(w);
    for (const int key : keys)
        QTest::keyClick(&w, Qt::Key(Qt::Key_0 + key), Qt::ControlModifier);
    QCOMPARE(h.names(), names);
    QVERIFY(w.lstPings->header()->toolTip().contains(QLatin1String("Ctrl+1")));
}

void tst_DailyUse::aDropDownOpenedByKeyHighlightsItsFirstItem()
{
    Harness h;
    frmMain& w = h.make();
    focusList(w);
    QAction* highlighted = nullptr;
    bool opened = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &w, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            opened = true;
            highlighted = menu->activeAction();
            // Return chooses it: Ping once.
            QTest::keyClick(menu, Qt::Key_Return);
        }
    });
    poll.start(20);
    // Alt+P presses Ping's face; its arrow keys open the menu.
    QToolButton* ping = w.tblTivane->button(1);
    ping->setFocus();
    QTRY_VERIFY(ping->hasFocus());
    QTest::keyClick(ping, Qt::Key_Down, Qt::AltModifier);
    QTRY_VERIFY(opened);
    QVERIFY(highlighted);
    QCOMPARE(highlighted->objectName(), QStringLiteral("mnuPingN"));
    QTRY_VERIFY(!h.prober.probed.isEmpty());
}

QTEST_MAIN(tst_DailyUse)
#include "tst_dailyuse.moc"
