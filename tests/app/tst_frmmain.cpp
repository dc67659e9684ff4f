// The main window's life: start-up settings, first-activation geometry, resizing and
// minimising, the tray icon's events, and what is saved when it closes.
#include "app/frmmain.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/toolbar.h"
#include "platform/twips.h"
#include "tests/app/windowharness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

namespace {

using Harness = WindowHarness;

// Runs what the window has queued for the next turns of the event loop (a deferred hide, say),
// so that a test can check that something did not happen without sleeping.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

QRect twipsRect(int top, int left, int height, int width)
{
    return QRect(left, top, width, height);
}

} // namespace

class tst_FrmMain : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void layoutMatchesTheNumbering();
    void secondCopyEndsWithoutTouchingAnything();
    void firstRunDefaults();
    void storedBooleans_data();
    void storedBooleans();
    void badStoredValuesFallBackAndListStillLoads();
    void missingListIsReportedAndWindowRuns();
    void negativeStoredPositionBecomes120();
    void geometryIsAppliedAtFirstActivationOnly();
    void resizeKeepsMinimumAndFillsBetweenBars();
    void minimiseHidesOnlyWithATray();
    void trayEventCodes();
    void trayMenuIsNotOpenedTwice();
    void settingsWrittenAtExit();
    void failedSettingsWriteIsToldAndEndsNonZero();
    void trayThatComesLaterIsUsedAndOneThatGoesGivesTheWindowBack();
    void storedGeometryFarOffTheScreenComesBack_data();
    void storedGeometryFarOffTheScreenComesBack();
    void storedSizeBelowTheMinimumOpensAtTheMinimum();
    void exitDuringContinuousRun();
    void viewOptionsPersist();
    void hideUnselectedKeepsRowsAndSweeps();
    void columnClicksSortByValueAndASecondClickReverses();
    void onlyRightReleaseOpensTheMenu();
    void editShowsTheSelectedRow();
    void insertAndEditFromTheToolbar();
    void removeAsksAndDropsExactlyThatLine();
    void removeRefusesWhenTheFileChanged();
    void removeDuringASweepSkipsTheRemovedEntry();
    void addAndEditShowTheirRowAtOnce();
    void ticksSurviveReloadAndRestart();
    void importAddsRowsAtOnce();
    void legacyListIsReadAndWrittenInItsCodePage();
    void columnWidthsAreRememberedAndTheLastStretches();
    void listKeysRunTheListCommands();
    void contextMenuOpensFromTheKeyboard();
    void dropDownsOpenFromTheKeyboard_data();
    void dropDownsOpenFromTheKeyboard();
};

namespace {

// Runs `key` and reports whether a pop-up menu opened meanwhile (closing it again), so that a
// menu's own event loop cannot hang the test.
template <typename Key> QMenu* menuOpenedBy(QWidget* context, Key&& key)
{
    QMenu* opened = nullptr;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, context, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            opened = menu;
            menu->close();
        }
    });
    poll.start(20);
    QTimer::singleShot(3000, context, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    key();
    (void)QTest::qWaitFor([&] { return opened != nullptr; }, 3000);
    return opened;
}

} // namespace

void tst_FrmMain::addAndEditShowTheirRowAtOnce()
{
    Harness h;
    frmMain& w = h.start();
    w.lstPings->setChecked(1, false);

    h.dialogs.insertAnswer = hostlist::HostLine{2, QStringLiteral("new"), QStringLiteral("127.0.0.9")};
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAddIp"));
    QCOMPARE(w.lstPings->count(), 4);
    QCOMPARE(w.lstPings->text(4), QStringLiteral("new"));
    QCOMPARE(w.lstPings->subText(4, 1), QStringLiteral("127.0.0.9"));
    QCOMPARE(w.lstPings->smallIcon(4), 2);
    QVERIFY(w.lstPings->isChecked(4));
    QVERIFY(!w.lstPings->isChecked(1)); // no reload behind it
    QCOMPARE(w.lstPings->selectedIndex(), 4);
    QVERIFY(h.listBytes().endsWith("2|new|127.0.0.9\r\n"));

    // The new row is edited without a reload; the row shows the change, the status goes.
    w.lstPings->setSubText(4, 2, QStringLiteral("OK"));
    h.dialogs.editAnswer = hostlist::HostLine{1, QStringLiteral("renamed"), QStringLiteral("127.0.0.10")};
    w.tblTivane->clickMenuItem(QStringLiteral("mnuEdit"));
    QCOMPARE(h.dialogs.edits.size(), 1);
    QCOMPARE(h.dialogs.edits[0].name, QStringLiteral("new"));
    QCOMPARE(w.lstPings->text(4), QStringLiteral("renamed"));
    QCOMPARE(w.lstPings->subText(4, 1), QStringLiteral("127.0.0.10"));
    QCOMPARE(w.lstPings->subText(4, 2), QString());
    QCOMPARE(w.lstPings->smallIcon(4), 1);
    QCOMPARE(h.listBytes(),
             QByteArray("1|srv|127.0.0.1\r\n2|pc|127.0.0.2\r\n3|x|127.0.0.3\r\n1|renamed|127.0.0.10\r\n"));

    // And removed.
    h.messages.queueAnswer(platform::MsgResultYes);
    w.tblTivane->clickMenuItem(QStringLiteral("mnuRem"));
    QCOMPARE(w.lstPings->count(), 3);
    QCOMPARE(h.listBytes(), QByteArray("1|srv|127.0.0.1\r\n2|pc|127.0.0.2\r\n3|x|127.0.0.3\r\n"));

    // Cancelled dialogs change nothing.
    h.dialogs.insertAnswer.reset();
    h.dialogs.editAnswer.reset();
    w.lstPings->select(2);
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAddIp"));
    w.tblTivane->clickMenuItem(QStringLiteral("mnuEdit"));
    QCOMPARE(w.lstPings->count(), 3);
    QCOMPARE(w.lstPings->text(2), QStringLiteral("pc"));
}

void tst_FrmMain::legacyListIsReadAndWrittenInItsCodePage()
{
    // "Принтер" (printer) in Windows-1251.
    Harness h("1|\xCF\xF0\xE8\xED\xF2\xE5\xF0|127.0.0.1\r\n");
    frmMain& w = h.start();
    QCOMPARE(w.lstPings->text(1), QStringLiteral("Принтер"));
    h.dialogs.insertAnswer = hostlist::HostLine{3, QStringLiteral("Сервер"), QStringLiteral("127.0.0.2")};
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAddIp"));
    QCOMPARE(h.listBytes(),
             QByteArray("1|\xCF\xF0\xE8\xED\xF2\xE5\xF0|127.0.0.1\r\n3|\xD1\xE5\xF0\xE2\xE5\xF0|127.0.0.2\r\n"));

    // A setting names another code page; a name that is not a plain word is ignored.
    h.settings->write(QStringLiteral("List"), QStringLiteral("LegacyEncoding"), QStringLiteral("ISO-8859-5"));
    h.writeList("1|\xBF\xE0\xD8\xDD\xE2\xD5\xE0|127.0.0.1\r\n");
    w.tblTivane->clickMenuItem(QStringLiteral("mnuReload"));
    QCOMPARE(w.lstPings->text(1), QStringLiteral("Принтер"));
    h.settings->write(QStringLiteral("List"), QStringLiteral("LegacyEncoding"), QStringLiteral("../../x y"));
    h.writeList("1|\xCF\xF0\xE8\xED\xF2\xE5\xF0|127.0.0.1\r\n");
    w.tblTivane->clickMenuItem(QStringLiteral("mnuReload"));
    QCOMPARE(w.lstPings->text(1), QStringLiteral("Принтер"));
}

void tst_FrmMain::importAddsRowsAtOnce()
{
    Harness h;
    frmMain& w = h.start();
    h.dialogs.importAnswer = QVector<hostlist::HostLine>{{3, QStringLiteral("a"), QStringLiteral("127.0.0.7")},
                                                         {2, QStringLiteral("b"), QStringLiteral("127.0.0.8")}};
    w.tblTivane->clickMenuItem(QStringLiteral("mnuImport"));
    QCOMPARE(h.dialogs.importedOver.size(), 3);
    QCOMPARE(w.lstPings->count(), 5);
    QCOMPARE(w.lstPings->text(5), QStringLiteral("b"));
    QVERIFY(w.lstPings->isChecked(4));
    QVERIFY(h.listBytes().endsWith("3|a|127.0.0.7\r\n2|b|127.0.0.8\r\n"));
    // Imported rows can be removed without a reload.
    h.messages.queueAnswer(platform::MsgResultYes);
    w.lstPings->select(4);
    w.tblTivane->clickMenuItem(QStringLiteral("mnuRem"));
    QVERIFY(h.listBytes().endsWith("3|x|127.0.0.3\r\n2|b|127.0.0.8\r\n"));
}

void tst_FrmMain::ticksSurviveReloadAndRestart()
{
    Harness h("1|srv|127.0.0.1\r\n2|pc|127.0.0.2\r\n3|x|127.0.0.3\r\n");
    {
        frmMain& w = h.start();
        focusList(w);
        w.lstPings->setChecked(2, false);

        QTest::keyClick(w.lstPings, Qt::Key_F5);
        QCOMPARE(w.lstPings->count(), 3);
        QVERIFY(w.lstPings->isChecked(1));
        QVERIFY(!w.lstPings->isChecked(2));
        QVERIFY(w.lstPings->isChecked(3));
        w.mnuExit_Click();
    }
    // list.txt keeps its format; the tick lives in the settings.
    QCOMPARE(h.listBytes(), QByteArray("1|srv|127.0.0.1\r\n2|pc|127.0.0.2\r\n3|x|127.0.0.3\r\n"));
    // Another run, with a line added above by hand: the tick follows the entry, not the row.
    h.writeList("1|new|127.0.0.9\r\n1|srv|127.0.0.1\r\n2|pc|127.0.0.2\r\n3|x|127.0.0.3\r\n");
    frmMain& again = h.start();
    QCOMPARE(again.lstPings->count(), 4);
    QVERIFY(again.lstPings->isChecked(1));
    QVERIFY(again.lstPings->isChecked(2));
    QVERIFY(!again.lstPings->isChecked(3));
    QVERIFY(again.lstPings->isChecked(4));
    again.mnuExit_Click();

    // A run that showed another list (the one beside the program went missing, say) keeps the
    // unticks of the entries it did not show.
    h.writeList("1|other|127.0.0.5\r\n");
    frmMain& other = h.start();
    QCOMPARE(other.lstPings->count(), 1);
    QVERIFY(other.lstPings->isChecked(1));
    other.mnuExit_Click();
    h.writeList("1|srv|127.0.0.1\r\n2|pc|127.0.0.2\r\n");
    frmMain& back = h.start();
    QVERIFY(back.lstPings->isChecked(1));
    QVERIFY(!back.lstPings->isChecked(2));
}

void tst_FrmMain::columnWidthsAreRememberedAndTheLastStretches()
{
    Harness h;
    QHeaderView* header = nullptr;
    {
        frmMain& w = h.start();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        header = w.lstPings->header();
        QVERIFY(header->stretchLastSection());
        const int last = header->count() - 1;
        // The columns fill the list's width: no empty strip at the right.
        QTRY_VERIFY(header->sectionViewportPosition(last) + header->sectionSize(last) >= header->viewport()->width());
        w.resize(w.width() * 3, w.height());
        QTRY_COMPARE(header->sectionViewportPosition(last) + header->sectionSize(last), header->viewport()->width());
        header->resizeSection(0, 211);
        header->resizeSection(1, 133);
        w.mnuExit_Click();
    }
    QVERIFY(h.stored(QStringLiteral("View"), QStringLiteral("ColumnWidths")).startsWith(QStringLiteral("211,133,")));
    frmMain& again = h.start();
    QCOMPARE(again.lstPings->header()->sectionSize(0), 211);
    QCOMPARE(again.lstPings->header()->sectionSize(1), 133);

    // A width no screen could show is not taken.
    h.settings->write(QStringLiteral("View"), QStringLiteral("ColumnWidths"), QStringLiteral("99999999,5"));
    frmMain& third = h.start();
    QVERIFY(third.lstPings->header()->sectionSize(0) < 10000);
}

void tst_FrmMain::listKeysRunTheListCommands()
{
    Harness h;
    frmMain& w = h.start();
    focusList(w);
    w.lstPings->select(2);

    h.dialogs.insertAnswer = hostlist::HostLine{3, QStringLiteral("k"), QStringLiteral("127.0.0.4")};
    QTest::keyClick(w.lstPings, Qt::Key_Insert);
    QCOMPARE(h.dialogs.inserts, 1);
    QCOMPARE(w.lstPings->count(), 4);

    for (const Qt::Key key : {Qt::Key_F2, Qt::Key_Return, Qt::Key_Enter}) {
        w.lstPings->select(2);
        QTest::keyClick(w.lstPings, key);
    }
    QCOMPARE(h.dialogs.edits.size(), 3);
    QCOMPARE(h.dialogs.edits[0].name, QStringLiteral("pc"));
    QCOMPARE(h.dialogs.edits[2].address, QStringLiteral("127.0.0.2"));

    h.messages.queueAnswer(platform::MsgResultYes);
    w.lstPings->select(1);
    QTest::keyClick(w.lstPings, Qt::Key_Delete);
    QCOMPARE(w.lstPings->count(), 3);
    QVERIFY(h.listBytes().startsWith("2|pc|"));

    // F5 reloads from anywhere in the window.
    h.writeList("1|only|127.0.0.1\r\n");
    QTest::keyClick(w.lstPings, Qt::Key_F5);
    QTRY_COMPARE(w.lstPings->count(), 1);

    // The menus name the keys.
    QCOMPARE(w.tblTivane->menuItem(QStringLiteral("mnuAddIp"))->shortcut(), QKeySequence(Qt::Key_Insert));
    QCOMPARE(w.tblTivane->menuItem(QStringLiteral("mnuReload"))->shortcut(), QKeySequence(Qt::Key_F5));
    for (QAction* a : w.mnu->actions()) {
        if (a->objectName() == QLatin1String("mnuEdit"))
            QCOMPARE(a->shortcut(), QKeySequence(Qt::Key_F2));
    }

    // Without a selected row, Delete asks nothing.
    w.lstPings->clearSelection();
    QTest::keyClick(w.lstPings, Qt::Key_Delete);
    QCOMPARE(w.lstPings->count(), 1);
}

void tst_FrmMain::contextMenuOpensFromTheKeyboard()
{
    Harness h;
    frmMain& w = h.start();
    focusList(w);
    w.lstPings->select(3);
    QMenu* byShiftF10 = menuOpenedBy(&w, [&] { QTest::keyClick(w.lstPings, Qt::Key_F10, Qt::ShiftModifier); });
    QCOMPARE(byShiftF10, w.mnu);
    QCOMPARE(w.ipN, QStringLiteral("x"));
    QVERIFY(!w.mnu->accessibleName().isEmpty());
    w.lstPings->select(1);
    QMenu* byMenuKey = menuOpenedBy(&w, [&] { QTest::keyClick(w.lstPings, Qt::Key_Menu); });
    QCOMPARE(byMenuKey, w.mnu);
    QCOMPARE(w.ipN, QStringLiteral("srv"));
}

void tst_FrmMain::dropDownsOpenFromTheKeyboard_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("mnemonic"); // sent to the window instead of the focused button
    QTest::addColumn<bool>("presses");  // the button's face is pressed; no menu opens
    QTest::newRow("Alt+I") << 4 << int(Qt::Key_I) << int(Qt::AltModifier) << true << false;
    QTest::newRow("Alt+V") << 5 << int(Qt::Key_V) << int(Qt::AltModifier) << true << false;
    // Ping's face is a command of its own: its letter sweeps, its arrow keys open the menu.
    QTest::newRow("Alt+P") << 1 << int(Qt::Key_P) << int(Qt::AltModifier) << true << true;
    QTest::newRow("Down") << 4 << int(Qt::Key_Down) << int(Qt::NoModifier) << false << false;
    QTest::newRow("F4") << 5 << int(Qt::Key_F4) << int(Qt::NoModifier) << false << false;
    QTest::newRow("Alt+Down") << 1 << int(Qt::Key_Down) << int(Qt::AltModifier) << false << false;
    QTest::newRow("F4 on Ping") << 1 << int(Qt::Key_F4) << int(Qt::NoModifier) << false << false;
}

void tst_FrmMain::dropDownsOpenFromTheKeyboard()
{
    QFETCH(int, button);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, mnemonic);
    QFETCH(bool, presses);

    Harness h;
    frmMain& w = h.start();
    focusList(w);
    QToolButton* b = w.tblTivane->button(button);
    QVERIFY(b->focusPolicy() & Qt::TabFocus);
    QVERIFY(!b->accessibleName().isEmpty());
    QVERIFY(!b->accessibleName().contains(u'&'));
    if (!mnemonic) {
        b->setFocus();
        QTRY_VERIFY(b->hasFocus());
    }
    QWidget* target = mnemonic ? static_cast<QWidget*>(w.lstPings) : b;
    QMenu* opened = menuOpenedBy(&w, [&] { QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers)); });
    if (presses) {
        QCOMPARE(opened, nullptr);
        QTRY_COMPARE(h.prober.probed.size(), 3);
        QTRY_VERIFY(w.sweep().isIdle());
        return;
    }
    QCOMPARE(opened, b->menu());
    // Opening the menu ran none of its commands.
    QVERIFY(!w.sweep().isRunning());
    QCOMPARE(h.dialogs.inserts, 0);
}

void tst_FrmMain::layoutMatchesTheNumbering()
{
    Harness h;
    frmMain& w = h.open();
    platform::ToolBar& tb = *w.tblTivane;
    QCOMPARE(tb.count(), 8);
    QCOMPARE(tb.button(3), nullptr); // a real position, so Alert stays 6, About 7 and Exit 8
    QCOMPARE(tb.buttonKey(6), QStringLiteral("sndAlert"));
    QCOMPARE(tb.button(6)->text(), QStringLiteral("Ale&rt"));
    QVERIFY(tb.button(6)->isCheckable());
    QCOMPARE(tb.button(1)->toolTip(), QStringLiteral("Once & conitnous ping"));
    QCOMPARE(tb.button(7)->toolTip(), QStringLiteral("About Tivane & Author"));
    QCOMPARE(tb.button(8)->text(), QStringLiteral("E&xit"));
    QVERIFY(tb.menuItem(QStringLiteral("mnuPingC")));
    QCOMPARE(tb.menuItem(QStringLiteral("mnuShGrd"))->text(), QStringLiteral("Show Girds"));
    QCOMPARE(tb.menuItem(QStringLiteral("mnuSWndPos"))->text(), QStringLiteral("Save window postiton"));
    QCOMPARE(w.lstPing.count(), 14);
    QCOMPARE(w.mnuImgLst.count(), 7);
    QVERIFY(!w.lstPing.picture(14).isNull());
    QVERIFY(w.lstPing.picture(15).isNull());
    QAbstractItemModel* m = w.lstPings->model();
    QCOMPARE(m->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("IP Adress"));
    QCOMPARE(w.lstPings->columnWidth(2), platform::toPixels(3000));
    QCOMPARE(w.mnuTray->actions().first()->text(), QStringLiteral("&About\u2026"));
}

void tst_FrmMain::secondCopyEndsWithoutTouchingAnything()
{
    Harness h;
    h.otherCopy = true;
    frmMain& w = h.open();
    QVERIFY(!w.Form_Load());
    QCOMPARE(h.messages.shown.size(), 1);
    QCOMPARE(h.messages.shown.first().text,
             QString::fromUtf8("Одна копия программы уже загружена!\r\nПрограмма будет закрыта."));
    QCOMPARE(h.messages.shown.first().style, 64);
    QCOMPARE(h.messages.shown.first().title, QStringLiteral("Tivane"));
    QVERIFY(h.tray.calls.isEmpty());
    QCOMPARE(w.lstPings->count(), 0);
    QVERIFY(!QFile::exists(h.dir.filePath(QStringLiteral("settings.ini"))));
}

void tst_FrmMain::firstRunDefaults()
{
    Harness h;
    frmMain& w = h.open();
    QVERIFY(w.Form_Load());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tivane - 0.1.50"));
    QCOMPARE(h.tray.calls.size(), 1);
    QCOMPARE(h.tray.calls.first(), qMakePair(0, QStringLiteral("Tivane")));
    QVERIFY(!w.lstPings->gridLines());
    QVERIFY(w.lstPings->checkboxes());
    QCOMPARE(w.tblTivane->buttonValue(6), 1);
    QCOMPARE(w.lstPings->count(), 3);
    QVERIFY(h.messages.shown.isEmpty());
    w.show();
    w.Form_Activate();
    // Wide enough for every column on show, as far as the screen allows right of the default
    // place (which it keeps): the statistics start at the default width's right edge.
    const int screen = w.screen()->availableGeometry().right() + 1 - w.frameGeometry().left();
    const int frame = w.frameGeometry().width() - w.width();
    const int wanted = std::min(w.lstPings->widthForAllColumns() + frame, screen);
    QCOMPARE(w.geometryTwips().left(), 120);
    QVERIFY2(qAbs(w.frameGeometry().width() - wanted) <= 1,
             qPrintable(QStringLiteral("%1 for %2").arg(w.frameGeometry().width()).arg(wanted)));
    QVERIFY(w.geometryTwips().width() > 7850);
    QVERIFY(w.frameGeometry().right() < w.screen()->availableGeometry().right() + 1);
    QVERIFY(qAbs(w.geometryTwips().height() - 8350) < 15);

    // Without the statistics the default width shows every column; it stays the stored default.
    Harness off;
    off.settings->write(QStringLiteral("View"), QStringLiteral("Statistics"), QStringLiteral("False"));
    frmMain& narrow = off.open();
    QVERIFY(narrow.Form_Load());
    narrow.show();
    narrow.Form_Activate();
    QCOMPARE(narrow.geometryTwips(), twipsRect(120, 120, 8350, 7850));
    QCOMPARE(narrow.lstPings->horizontalScrollBar()->maximum(), 0);
}

void tst_FrmMain::storedBooleans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("on");
    QTest::newRow("True") << QStringLiteral("True") << true;
    QTest::newRow("true") << QStringLiteral("true") << true;
    QTest::newRow("1") << QStringLiteral("1") << true;
    QTest::newRow("-1") << QStringLiteral("-1") << true;
    QTest::newRow("False") << QStringLiteral("False") << false;
    QTest::newRow("0") << QStringLiteral("0") << false;
}

void tst_FrmMain::storedBooleans()
{
    QFETCH(QString, text);
    QFETCH(bool, on);
    Harness h;
    h.settings->write(QStringLiteral("View"), QStringLiteral("GridLines"), text);
    h.settings->write(QStringLiteral("View"), QStringLiteral("Checkboxes"), text);
    frmMain& w = h.start();
    QCOMPARE(w.lstPings->gridLines(), on);
    QCOMPARE(w.lstPings->checkboxes(), on);
    QCOMPARE(w.tblTivane->isMenuItemChecked(QStringLiteral("mnuShGrd")), on);
}

void tst_FrmMain::badStoredValuesFallBackAndListStillLoads()
{
    Harness h;
    h.settings->write(QStringLiteral("View"), QStringLiteral("GridLines"), QStringLiteral("no"));
    h.settings->write(QStringLiteral("ToolBar"), QStringLiteral("sndAlert"), QStringLiteral("loud"));
    h.settings->write(QStringLiteral("Settings"), QStringLiteral("WndW"), QStringLiteral("wide"));
    frmMain& w = h.start();
    QVERIFY(!w.lstPings->gridLines());
    QCOMPARE(w.tblTivane->buttonValue(6), 1);
    QCOMPARE(w.lstPings->count(), 3);
    QVERIFY(h.messages.shown.isEmpty());
    w.show();
    w.Form_Activate();
    QCOMPARE(w.geometryTwips().width(), 7850);
}

void tst_FrmMain::missingListIsReportedAndWindowRuns()
{
    Harness h;
    QFile::remove(h.dir.filePath(QStringLiteral("list.txt")));
    frmMain& w = h.open();
    QVERIFY(w.Form_Load());
    QCOMPARE(h.messages.shown.size(), 1);
    QVERIFY(h.messages.shown.first().text.contains(h.dir.filePath(QStringLiteral("list.txt"))));
    QCOMPARE(h.messages.shown.first().style, 0);
    QCOMPARE(w.lstPings->count(), 0);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tivane - 0.1.50"));
}

void tst_FrmMain::negativeStoredPositionBecomes120()
{
    Harness h;
    h.settings->write(QStringLiteral("Settings"), QStringLiteral("WndT"), QStringLiteral("-32000"));
    h.settings->write(QStringLiteral("Settings"), QStringLiteral("WndL"), QStringLiteral("-480"));
    h.settings->write(QStringLiteral("Settings"), QStringLiteral("WndH"), QStringLiteral("6000"));
    h.settings->write(QStringLiteral("Settings"), QStringLiteral("WndW"), QStringLiteral("9000"));
    frmMain& w = h.start();
    w.show();
    w.Form_Activate();
    QCOMPARE(w.geometryTwips(), twipsRect(120, 120, 6000, 9000));
}

void tst_FrmMain::geometryIsAppliedAtFirstActivationOnly()
{
    Harness h;
    frmMain& w = h.start();
    w.show();
    w.Form_Activate();
    w.move(300, 200);
    w.resize(700, 500);
    const QRect moved = w.geometryTwips();
    w.Form_Activate(); // a dialog closed, or the window came back from the tray
    QCOMPARE(w.geometryTwips(), moved);
}

void tst_FrmMain::resizeKeepsMinimumAndFillsBetweenBars()
{
    Harness h;
    frmMain& w = h.start();
    w.show();
    w.Form_Activate();
    w.setGeometryTwips(120, 120, 3000, 5000);
    // Snapped to the minimum, to the nearest whole pixel.
    QCOMPARE(w.geometryTwips().height(), 4800);
    QVERIFY(qAbs(w.geometryTwips().width() - 7850) < 15);
    const int gap = platform::toPixels(60);
    QCOMPARE(w.lstPings->y(), w.tblTivane->height() + gap);
    QCOMPARE(w.lstPings->y() + w.lstPings->height() + gap, w.pBar->y());
    QCOMPARE(w.pBar->y() + w.pBar->height(), w.height());
    QCOMPARE(w.lstPings->width(), w.width());

    w.setGeometryTwips(120, 120, 9000, 12000);
    QCOMPARE(w.lstPings->width(), w.width());
    QCOMPARE(w.lstPings->y() + w.lstPings->height() + gap, w.pBar->y());
}

void tst_FrmMain::minimiseHidesOnlyWithATray()
{
    {
        Harness h; // no notification area: an ordinary minimised window, never lost
        frmMain& w = h.start();
        QVERIFY(!w.trayShown());
        w.show();
        w.showMinimized();
        settle();
        QVERIFY(w.isVisible());
    }
    {
        Harness h;
        h.tray.available = true;
        frmMain& w = h.start();
        QVERIFY(w.trayShown());
        w.show();
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        w.pctTrayIcon_MouseMove(515);
        QVERIFY(w.isVisible());
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
    }
}

void tst_FrmMain::trayEventCodes()
{
    Harness h;
    h.tray.available = true;
    frmMain& w = h.start();
    w.hide();
    for (int code : {512, 513, 514, 516, 518})
        w.pctTrayIcon_MouseMove(code);
    QVERIFY(!w.isVisible());
    QCOMPARE(w.lastTrayCode(), 518);
    w.pctTrayIcon_MouseMove(515);
    QVERIFY(w.isVisible());
    w.pctTrayIcon_MouseMove(515); // showing twice is harmless
    QVERIFY(w.isVisible());
}

void tst_FrmMain::trayMenuIsNotOpenedTwice()
{
    Harness h;
    h.tray.available = true;
    frmMain& w = h.start();
    int menusSeen = 0;
    bool secondBlocked = false;
    QTimer::singleShot(50, &w, [&] {
        if (QApplication::activePopupWidget() == w.mnuTray)
            ++menusSeen;
        w.pctTrayIcon_MouseMove(517); // must return at once: the first menu is still up
        secondBlocked = QApplication::activePopupWidget() == w.mnuTray && w.lastTrayCode() == 517;
        w.mnuTray->close();
    });
    w.pctTrayIcon_MouseMove(517);
    QCOMPARE(menusSeen, 1);
    QVERIFY(secondBlocked);
    // Once the menu call has returned, the next release opens it again.
    QTimer::singleShot(50, &w, [&] {
        if (QApplication::activePopupWidget() == w.mnuTray)
            ++menusSeen;
        w.mnuTray->close();
    });
    w.pctTrayIcon_MouseMove(517);
    QCOMPARE(menusSeen, 2);
}

void tst_FrmMain::settingsWrittenAtExit()
{
    Harness h;
    h.tray.available = true;
    frmMain& w = h.start();
    w.show();
    w.Form_Activate();
    w.setGeometryTwips(300, 450, 6000, 9000);
    w.commands().tblTivane_ButtonMenuClick(QStringLiteral("mnuShGrd"));
    w.tblTivane->setButtonValue(6, 0);
    w.showMinimized(); // the normal geometry is saved, not the minimised one
    settle();
    w.mnuExit_Click();
    QVERIFY(w.isUnloaded());
    QCOMPARE(h.ends, 1);
    QCOMPARE(w.lstPings->count(), 0);
    QCOMPARE(h.tray.calls.last(), qMakePair(2, QString()));
    QCOMPARE(h.stored(QStringLiteral("Settings"), QStringLiteral("WndT")), QStringLiteral("300"));
    QCOMPARE(h.stored(QStringLiteral("Settings"), QStringLiteral("WndL")), QStringLiteral("450"));
    QCOMPARE(h.stored(QStringLiteral("Settings"), QStringLiteral("WndH")), QStringLiteral("6000"));
    QCOMPARE(h.stored(QStringLiteral("Settings"), QStringLiteral("WndW")), QStringLiteral("9000"));
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("GridLines")), QStringLiteral("True"));
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("Checkboxes")), QStringLiteral("True"));
    QCOMPARE(h.stored(QStringLiteral("ToolBar"), QStringLiteral("sndAlert")), QStringLiteral("0"));
    w.close(); // a second close after the unload does nothing more
    QCOMPARE(h.ends, 1);
}

void tst_FrmMain::failedSettingsWriteIsToldAndEndsNonZero()
{
    // A folder where the settings file belongs: the write fails, and the user must hear of it.
    Harness h;
    const QString ini = h.dir.filePath(QStringLiteral("blocked.ini"));
    QVERIFY(QDir().mkpath(ini));
    h.settings = std::make_unique<platform::SettingsStore>(ini);
    frmMain& w = h.start();
    w.show();
    QTest::mouseClick(w.tblTivane->button(8), Qt::LeftButton);
    QTRY_VERIFY(w.isUnloaded());
    QCOMPARE(h.ends, 1);
    QCOMPARE(h.exitCode, 1);
    QCOMPARE(h.messages.shown.size(), 1);
    QVERIFY2(h.messages.shown.first().text.contains(ini), qPrintable(h.messages.shown.first().text));
}

void tst_FrmMain::trayThatComesLaterIsUsedAndOneThatGoesGivesTheWindowBack()
{
    Harness h; // no notification area at start, as when the panel starts after the program
    frmMain& w = h.start();
    w.show();
    QVERIFY(!w.trayShown());
    h.tray.available = true;
    QTRY_VERIFY_WITH_TIMEOUT(w.trayShown(), 6000);
    w.showMinimized();
    QTRY_VERIFY(!w.isVisible()); // hidden in the tray that came
    h.tray.available = false;
    // The tray went away: the window must not stay hidden with no way back.
    QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), 6000);
    QVERIFY(!w.trayShown());
    w.showMinimized();
    settle();
    QVERIFY(w.isVisible());
}

void tst_FrmMain::storedGeometryFarOffTheScreenComesBack_data()
{
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("size");
    QTest::newRow("30000") << QStringLiteral("30000") << QStringLiteral("8000");
    QTest::newRow("2000000000") << QStringLiteral("2000000000") << QStringLiteral("8000");
    QTest::newRow("1e30") << QStringLiteral("1e30") << QStringLiteral("1e30");
    QTest::newRow("larger than the screen") << QStringLiteral("120") << QStringLiteral("90000");
}

void tst_FrmMain::storedGeometryFarOffTheScreenComesBack()
{
    QFETCH(QString, position);
    QFETCH(QString, size);
    Harness h;
    for (const char* key : {"WndT", "WndL"})
        h.settings->write(QStringLiteral("Settings"), QString::fromLatin1(key), position);
    for (const char* key : {"WndH", "WndW"})
        h.settings->write(QStringLiteral("Settings"), QString::fromLatin1(key), size);
    frmMain& w = h.start();
    w.show();
    w.Form_Activate();
    const QRect screen = w.screen()->availableGeometry();
    QVERIFY2(screen.contains(w.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                .arg(w.frameGeometry().x())
                                                                .arg(w.frameGeometry().y())
                                                                .arg(w.frameGeometry().width())
                                                                .arg(w.frameGeometry().height())));
}

void tst_FrmMain::storedSizeBelowTheMinimumOpensAtTheMinimum()
{
    // The minimum is an outer size; it must neither grow by the frame nor swallow a larger stored size.
    Harness h;
    h.settings->write(QStringLiteral("Settings"), QStringLiteral("WndH"), QStringLiteral("3000"));
    h.settings->write(QStringLiteral("Settings"), QStringLiteral("WndW"), QStringLiteral("5000"));
    frmMain& w = h.start();
    w.show();
    w.Form_Activate();
    QCOMPARE(w.geometryTwips(), twipsRect(120, 120, 4800, 7850));
    w.close();
    QCOMPARE(h.stored(QStringLiteral("Settings"), QStringLiteral("WndW")), QStringLiteral("7850"));
    QCOMPARE(h.stored(QStringLiteral("Settings"), QStringLiteral("WndH")), QStringLiteral("4800"));
}

void tst_FrmMain::exitDuringContinuousRun()
{
    Harness h;
    frmMain& w = h.start();
    w.sweep().continuousIntervalMs = 0;
    int probesAfterExit = 0;
    bool exited = false;
    h.prober.onProbe = [&](const QString&) {
        if (exited)
            ++probesAfterExit;
        if (h.prober.probed.size() == 5)
            QTimer::singleShot(0, &w, [&] {
                exited = true;
                w.mnuExit_Click();
            });
    };
    w.commands().tblTivane_ButtonMenuClick(QStringLiteral("mnuPingC"));
    QTRY_VERIFY(exited);
    QTRY_VERIFY(w.sweep().isIdle());
    QCOMPARE(probesAfterExit, 0);
    QCOMPARE(h.ends, 1);
    QCOMPARE(w.lstPings->count(), 0);
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("Checkboxes")), QStringLiteral("True"));
}

void tst_FrmMain::viewOptionsPersist()
{
    Harness h;
    {
        frmMain& w = h.start();
        QVERIFY(w.saveWndPos());
        w.show();
        w.Form_Activate();
        w.setGeometryTwips(600, 600, 6000, 9000);
        w.commands().tblTivane_ButtonMenuClick(QStringLiteral("mnuAOT"));
        w.commands().tblTivane_ButtonMenuClick(QStringLiteral("mnuHUS"));
        QVERIFY(w.alwaysOnTop());
        QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(w.tblTivane->isMenuItemChecked(QStringLiteral("mnuAOT")));
        w.mnuExit_Click();
    }
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("AlwaysOnTop")), QStringLiteral("True"));
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("HideUnselected")), QStringLiteral("True"));
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("SaveWndPos")), QStringLiteral("True"));
    QVERIFY(h.messages.shown.isEmpty());
    {
        frmMain& w = h.start();
        QVERIFY(w.alwaysOnTop());
        QVERIFY(w.hideUnselected());
        w.show();
        w.Form_Activate();
        QCOMPARE(w.geometryTwips(), twipsRect(600, 600, 6000, 9000));
        // Unchecked, the geometry is left as it was saved before.
        w.commands().tblTivane_ButtonMenuClick(QStringLiteral("mnuSWndPos"));
        QVERIFY(!w.saveWndPos());
        w.setGeometryTwips(900, 900, 7000, 10000);
        w.mnuExit_Click();
    }
    QCOMPARE(h.stored(QStringLiteral("Settings"), QStringLiteral("WndT")), QStringLiteral("600"));
    QCOMPARE(h.stored(QStringLiteral("View"), QStringLiteral("SaveWndPos")), QStringLiteral("False"));
}

void tst_FrmMain::hideUnselectedKeepsRowsAndSweeps()
{
    Harness h;
    frmMain& w = h.start();
    w.lstPings->setChecked(2, false);
    w.setHideUnselected(true);
    QCOMPARE(w.lstPings->count(), 3);
    QVERIFY(w.lstPings->isRowHidden(1, {}));
    QVERIFY(!w.lstPings->isRowHidden(0, {}));
    w.lstPings->setChecked(3, false);
    QVERIFY(w.lstPings->isRowHidden(2, {}));
    w.PingList();
    QTRY_VERIFY(w.sweep().isIdle());
    QCOMPARE(h.prober.probed, QStringList{QStringLiteral("127.0.0.1")});
    w.setHideUnselected(false);
    QVERIFY(!w.lstPings->isRowHidden(1, {}));
}

void tst_FrmMain::columnClicksSortByValueAndASecondClickReverses()
{
    Harness h("1|b|9.0.0.1\r\n1|a|10.0.0.2\r\n1|c|10.0.0.10\r\n1|d|host.example\r\n");
    frmMain& w = h.start();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.lstPings->setSubText(1, 3, QStringLiteral("120"));
    w.lstPings->setSubText(2, 3, QStringLiteral("15"));
    w.lstPings->setSubText(3, 3, QStringLiteral("3"));
    QHeaderView* header = w.lstPings->header();
    const auto clickHeader = [&](int section) {
        const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    const auto column = [&](int sub) {
        QStringList out;
        for (int i = 1; i <= w.lstPings->count(); ++i)
            out.append(sub == 0 ? w.lstPings->text(i) : w.lstPings->subText(i, sub));
        return out;
    };

    clickHeader(1); // "IP Adress": by value, names after
    QCOMPARE(w.lstPings->sortKey(), 1);
    QCOMPARE(column(1), (QStringList{QStringLiteral("9.0.0.1"), QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.10"),
                                     QStringLiteral("host.example")}));
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), 1);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    clickHeader(1);
    QCOMPARE(column(1), (QStringList{QStringLiteral("host.example"), QStringLiteral("10.0.0.10"),
                                     QStringLiteral("10.0.0.2"), QStringLiteral("9.0.0.1")}));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    clickHeader(1);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);

    clickHeader(3); // times by number; another column starts ascending
    QCOMPARE(column(0),
             (QStringList{QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("d")}));
    QCOMPARE(header->sortIndicatorSection(), 3);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);

    clickHeader(0); // names as text
    QCOMPARE(column(0),
             (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    // Sorting is the view's business only.
    QCOMPARE(h.listBytes(), QByteArray("1|b|9.0.0.1\r\n1|a|10.0.0.2\r\n1|c|10.0.0.10\r\n1|d|host.example\r\n"));
}

void tst_FrmMain::onlyRightReleaseOpensTheMenu()
{
    Harness h;
    frmMain& w = h.start();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* viewport = w.lstPings->viewport();
    const QPoint second = w.lstPings->visualRect(w.lstPings->items()->index(1, 0)).center();
    // The menu runs its own loop, so a click that opens it returns only once it is closed: each
    // opening is counted, its Edit item read, and the menu closed from inside that loop.
    int menus = 0;
    bool editEnabled = true;
    connect(w.mnu, &QMenu::aboutToShow, &w, [&] {
        ++menus;
        for (QAction* a : w.mnu->actions())
            if (a->objectName() == QStringLiteral("mnuEdit"))
                editEnabled = a->isEnabled();
        QTimer::singleShot(0, w.mnu, &QMenu::close);
    });
    QTest::mouseClick(viewport, Qt::LeftButton, {}, second);
    QTest::mouseClick(viewport, Qt::MiddleButton, {}, second);
    QCOMPARE(menus, 0);
    QCOMPARE(w.lstPings->selectedIndex(), 2);
    QCOMPARE(w.ipN, QString());
    QTest::mouseClick(viewport, Qt::RightButton, {}, second);
    QCOMPARE(menus, 1);
    QVERIFY(editEnabled);
    QCOMPARE(w.ipN, QStringLiteral("pc"));
    QCOMPARE(w.ipA, QStringLiteral("127.0.0.2"));

    // With nothing selected the menu still opens, offering Insert only.
    w.lstPings->clearSelection();
    // Below the last row: a right click on empty space selects nothing.
    QTest::mouseClick(viewport, Qt::RightButton, {}, QPoint(second.x(), viewport->height() - 5));
    QCOMPARE(menus, 2);
    QVERIFY(!editEnabled);
    QCOMPARE(w.ipN, QStringLiteral("pc")); // kept from the last right-click on a row
}

void tst_FrmMain::editShowsTheSelectedRow()
{
    Harness h("7|seven|10.0.0.7\r\n0|zero|10.0.0.8\r\n2|gw|10.0.0.1\r\n");
    frmMain& w = h.start();
    for (int row : {1, 2, 3}) {
        w.lstPings->select(row);
        w.ipN = w.lstPings->text(row);
        w.ipA = w.lstPings->subText(row, 1);
        w.mnuEdit_Click();
    }
    QCOMPARE(h.dialogs.edits.size(), 3);
    QCOMPARE(h.dialogs.edits[0].type, 3);
    QCOMPARE(h.dialogs.edits[1].type, 0);
    QCOMPARE(h.dialogs.edits[2].name, QStringLiteral("gw"));
    QCOMPARE(h.dialogs.edits[2].address, QStringLiteral("10.0.0.1"));
    QCOMPARE(h.dialogs.edits[2].type, 2);
    w.mnuIns_Click();
    QCOMPARE(h.dialogs.inserts, 1);
}

void tst_FrmMain::insertAndEditFromTheToolbar()
{
    Harness h;
    frmMain& w = h.start();
    w.lstPings->clearSelection();
    QVERIFY(!w.tblTivane->menuItem(QStringLiteral("mnuEdit"))->isEnabled());
    QVERIFY(!w.tblTivane->menuItem(QStringLiteral("mnuRem"))->isEnabled());
    w.tblTivane->clickMenuItem(QStringLiteral("mnuAddIp"));
    QCOMPARE(h.dialogs.inserts, 1);
    w.lstPings->select(3);
    QVERIFY(w.tblTivane->menuItem(QStringLiteral("mnuEdit"))->isEnabled());
    w.tblTivane->clickMenuItem(QStringLiteral("mnuEdit"));
    QCOMPARE(h.dialogs.edits.size(), 1);
    QCOMPARE(h.dialogs.edits[0].name, QStringLiteral("x"));
    QCOMPARE(h.dialogs.edits[0].type, 3);
    QVERIFY(h.messages.shown.isEmpty()); // no longer answered with the item's key
}

void tst_FrmMain::removeAsksAndDropsExactlyThatLine()
{
    // Two identical lines, an empty line between them and no line break at the end.
    Harness h("1|a|127.0.0.1\r\n2|dup|127.0.0.2\r\n\r\n2|dup|127.0.0.2\r\n3|z|127.0.0.3");
    frmMain& w = h.start();
    QCOMPARE(w.lstPings->count(), 4);

    w.lstPings->select(2);
    h.messages.queueAnswer(platform::MsgResultNo);
    w.mnuDelete_Click();
    QCOMPARE(h.messages.shown.last().text, QStringLiteral("Remove \"dup\" (127.0.0.2) from the list?"));
    QCOMPARE(h.messages.shown.last().style, platform::MsgYesNo | platform::MsgQuestion);
    QCOMPARE(w.lstPings->count(), 4);

    // After a sort by name the rows are a, dup, dup, z: the third row came from the file's fourth line.
    Q_EMIT w.lstPings->columnClicked(1);
    QCOMPARE(w.lstPings->text(3), QStringLiteral("dup"));
    w.lstPings->select(3);
    h.messages.queueAnswer(platform::MsgResultYes);
    w.tblTivane->clickMenuItem(QStringLiteral("mnuRem"));
    QCOMPARE(w.lstPings->count(), 3);
    QCOMPARE(h.listBytes(), QByteArray("1|a|127.0.0.1\r\n2|dup|127.0.0.2\r\n\r\n3|z|127.0.0.3"));

    // Line numbers below the removed line moved up; a second removal works without a Reload.
    for (int i = 1; i <= w.lstPings->count(); ++i)
        if (w.lstPings->text(i) == QStringLiteral("z"))
            w.lstPings->select(i);
    h.messages.queueAnswer(platform::MsgResultYes);
    w.mnuDelete_Click();
    QCOMPARE(h.listBytes(), QByteArray("1|a|127.0.0.1\r\n2|dup|127.0.0.2\r\n\r\n"));
    QCOMPARE(w.lstPings->count(), 2);
}

void tst_FrmMain::removeRefusesWhenTheFileChanged()
{
    Harness h;
    frmMain& w = h.start();
    const QByteArray edited = "1|srv|127.0.0.1\r\n2|pc renamed|127.0.0.2\r\n3|x|127.0.0.3\r\n";
    h.writeList(edited);
    w.lstPings->select(2);
    h.messages.queueAnswer(platform::MsgResultYes);
    w.mnuDelete_Click();
    QCOMPARE(h.messages.shown.last().style, int(platform::MsgExclamation));
    QVERIFY(h.messages.shown.last().text.contains(QStringLiteral("Reload")));
    QCOMPARE(w.lstPings->count(), 3);
    QCOMPARE(h.listBytes(), edited);
}

void tst_FrmMain::removeDuringASweepSkipsTheRemovedEntry()
{
    Harness h("1|a|127.0.0.1\r\n1|b|127.0.0.2\r\n1|c|127.0.0.3\r\n1|d|127.0.0.4\r\n");
    frmMain& w = h.start();
    h.prober.onProbe = [&](const QString& address) {
        if (address != QStringLiteral("127.0.0.2"))
            return;
        QTimer::singleShot(0, &w, [&] {
            w.lstPings->select(4);
            h.messages.queueAnswer(platform::MsgResultYes);
            w.mnuDelete_Click();
        });
    };
    w.PingList();
    QTRY_VERIFY(w.sweep().isIdle());
    // The sweep goes on without the removed entry.
    QCOMPARE(h.prober.probed,
             (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")}));
    QCOMPARE(w.lstPings->count(), 3);
    QVERIFY(w.tblTivane->isButtonEnabled(1));
    QVERIFY(!w.tblTivane->isButtonEnabled(2));
    QCOMPARE(h.listBytes(), QByteArray("1|a|127.0.0.1\r\n1|b|127.0.0.2\r\n1|c|127.0.0.3\r\n"));
}

QTEST_MAIN(tst_FrmMain)
#include "tst_frmmain.moc"
