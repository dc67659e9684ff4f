#include "platform/imagelist.h"
#include "platform/progressbar.h"
#include "platform/toolbar.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using platform::ToolBar;

namespace {

// The layout the main window uses: a gap after the second button.
void addStandardButtons(ToolBar& bar)
{
    QCOMPARE(bar.addButton(QStringLiteral("&Start"), QStringLiteral("start"), ToolBar::Plain, 1,
                           QStringLiteral("Start the sweep"), QStringLiteral("Start")),
             1);
    QCOMPARE(bar.addButton(QStringLiteral("&List"), QStringLiteral("list"), ToolBar::DropDown, 2,
                           QStringLiteral("List actions"), QStringLiteral("List")),
             2);
    QCOMPARE(bar.addButton(QString(), QStringLiteral("gap"), ToolBar::Placeholder, 0, QString(), QString()), 3);
    QCOMPARE(bar.addButton(QStringLiteral("&Loop"), QStringLiteral("loop"), ToolBar::Check, 0,
                           QStringLiteral("Repeat the sweep"), QStringLiteral("Loop")),
             4);
    bar.addMenuItem(2, QStringLiteral("&Add entry"), QStringLiteral("add"));
    bar.addMenuItem(2, QStringLiteral("-"), QStringLiteral("sep"));
    bar.addMenuItem(2, QStringLiteral("&Reload"), QStringLiteral("reload"));
}

} // namespace

class TestPlatformWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toolbarPositionsAreOneBased();
    void toolbarClicksReportPositions();
    void checkButtonValue();
    void disabledButtonStaysSilent();
    void dropDownItemsByKey();
    void toolbarIgnoresBadPositions();

    void progressEqualBoundsShowFull_data();
    void progressEqualBoundsShowFull();
    void progressKeepsSingleValues();
    void progressClampsOutOfRange();
};

void TestPlatformWidgets::toolbarPositionsAreOneBased()
{
    platform::ImageList images;
    QPixmap px(16, 16);
    px.fill(Qt::blue);
    images.add(QIcon(px), QStringLiteral("start"));
    ToolBar bar;
    bar.setImageList(&images);
    addStandardButtons(bar);

    QCOMPARE(bar.count(), 4);
    QCOMPARE(bar.buttonKey(1), QStringLiteral("start"));
    QCOMPARE(bar.buttonKey(3), QStringLiteral("gap"));
    QCOMPARE(bar.buttonKey(4), QStringLiteral("loop"));
    QVERIFY(bar.button(1));
    QVERIFY(!bar.button(3));
    QCOMPARE(bar.button(4)->text(), QStringLiteral("&Loop"));
    QCOMPARE(bar.button(1)->toolTip(), QStringLiteral("Start"));
    QVERIFY(!bar.button(1)->icon().isNull());
    // Image 2 is past the end of the list: no picture rather than a failure.
    QVERIFY(bar.button(2)->icon().isNull());
    QVERIFY(bar.button(2)->menu());
    QVERIFY(!bar.button(1)->menu());
}

void TestPlatformWidgets::toolbarClicksReportPositions()
{
    ToolBar bar;
    addStandardButtons(bar);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));

    QSignalSpy clicked(&bar, &ToolBar::buttonClicked);
    bar.clickButton(1);
    bar.clickButton(3); // the gap has nothing to press
    QTest::mouseClick(bar.button(4), Qt::LeftButton);
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(clicked.at(0).at(0).toInt(), 1);
    QCOMPARE(clicked.at(1).at(0).toInt(), 4);
}

void TestPlatformWidgets::checkButtonValue()
{
    ToolBar bar;
    addStandardButtons(bar);
    QCOMPARE(bar.buttonValue(4), 0);
    bar.clickButton(4);
    QCOMPARE(bar.buttonValue(4), 1);
    bar.setButtonValue(4, 0);
    QCOMPARE(bar.buttonValue(4), 0);
    bar.setButtonValue(4, 1);
    QCOMPARE(bar.buttonValue(4), 1);
    // A plain button has no pressed state to keep.
    bar.setButtonValue(1, 1);
    QCOMPARE(bar.buttonValue(1), 0);
}

void TestPlatformWidgets::disabledButtonStaysSilent()
{
    ToolBar bar;
    addStandardButtons(bar);
    QSignalSpy clicked(&bar, &ToolBar::buttonClicked);
    bar.setButtonEnabled(1, false);
    QVERIFY(!bar.isButtonEnabled(1));
    bar.clickButton(1);
    QCOMPARE(clicked.count(), 0);
    bar.setButtonEnabled(1, true);
    QVERIFY(bar.isButtonEnabled(1));
    bar.clickButton(1);
    QCOMPARE(clicked.count(), 1);

    bar.setButtonEnabled(3, false);
    QVERIFY(!bar.isButtonEnabled(3));
}

void TestPlatformWidgets::dropDownItemsByKey()
{
    ToolBar bar;
    addStandardButtons(bar);
    QSignalSpy picked(&bar, &ToolBar::buttonMenuClicked);
    QSignalSpy clicked(&bar, &ToolBar::buttonClicked);

    QVERIFY(bar.menuItem(QStringLiteral("add")));
    QVERIFY(bar.menuItem(QStringLiteral("reload")));
    QVERIFY(!bar.menuItem(QStringLiteral("sep")));
    QCOMPARE(bar.button(2)->menu()->actions().size(), 3);
    QVERIFY(bar.button(2)->menu()->actions().at(1)->isSeparator());

    bar.clickMenuItem(QStringLiteral("reload"));
    bar.clickMenuItem(QStringLiteral("sep"));
    bar.clickMenuItem(QStringLiteral("nothing"));
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked.at(0).at(0).toString(), QStringLiteral("reload"));
    QCOMPARE(clicked.count(), 0);

    bar.setMenuItemEnabled(QStringLiteral("add"), false);
    bar.clickMenuItem(QStringLiteral("add"));
    QCOMPARE(picked.count(), 1);

    QVERIFY(!bar.isMenuItemChecked(QStringLiteral("reload")));
    bar.setMenuItemChecked(QStringLiteral("reload"), true);
    QVERIFY(bar.isMenuItemChecked(QStringLiteral("reload")));
    QVERIFY(bar.menuItem(QStringLiteral("reload"))->isCheckable());
    bar.setMenuItemChecked(QStringLiteral("reload"), false);
    QVERIFY(!bar.isMenuItemChecked(QStringLiteral("reload")));
}

void TestPlatformWidgets::toolbarIgnoresBadPositions()
{
    ToolBar bar;
    addStandardButtons(bar);
    // Items for a button without a drop-down, or for no button, go nowhere.
    bar.addMenuItem(1, QStringLiteral("Stray"), QStringLiteral("stray"));
    bar.addMenuItem(9, QStringLiteral("Stray"), QStringLiteral("stray"));
    QVERIFY(!bar.menuItem(QStringLiteral("stray")));
    QVERIFY(!bar.button(0));
    QVERIFY(!bar.button(5));
    QVERIFY(bar.buttonKey(0).isEmpty());
    QCOMPARE(bar.buttonValue(7), 0);
    QVERIFY(!bar.isButtonEnabled(5));
    bar.clickButton(0);
    bar.setButtonEnabled(5, false);
}

void TestPlatformWidgets::progressEqualBoundsShowFull_data()
{
    QTest::addColumn<float>("bound");
    QTest::newRow("zero") << 0.0f;
    QTest::newRow("five") << 5.0f;
}

void TestPlatformWidgets::progressEqualBoundsShowFull()
{
    QFETCH(float, bound);
    platform::ProgressBar bar;
    bar.setMin(bound);
    bar.setMax(bound);
    bar.setValue(bound);
    QCOMPARE(bar.Min(), bound);
    QCOMPARE(bar.Max(), bound);
    // QProgressBar animates "busy" when its own range is empty.
    QVERIFY(bar.maximum() > bar.minimum());
    QCOMPARE(bar.QProgressBar::value(), bar.maximum());
}

void TestPlatformWidgets::progressKeepsSingleValues()
{
    platform::ProgressBar bar;
    bar.setMin(0.0f);
    bar.setMax(1.0f);
    bar.setValue(0.25f);
    QCOMPARE(bar.Value(), 0.25f);
    const int span = bar.maximum() - bar.minimum();
    QCOMPARE(bar.QProgressBar::value() - bar.minimum(), span / 4);

    bar.setMin(10.0f);
    bar.setMax(20.0f);
    bar.setValue(12.5f);
    QCOMPARE(bar.Value(), 12.5f);
    QCOMPARE(bar.QProgressBar::value() - bar.minimum(), span / 4);
}

void TestPlatformWidgets::progressClampsOutOfRange()
{
    platform::ProgressBar bar;
    bar.setMin(0.0f);
    bar.setMax(100.0f);
    bar.setValue(150.0f);
    QCOMPARE(bar.Value(), 150.0f);
    QCOMPARE(bar.QProgressBar::value(), bar.maximum());
    bar.setValue(-3.0f);
    QCOMPARE(bar.QProgressBar::value(), bar.minimum());
}

QTEST_MAIN(TestPlatformWidgets)
#include "tst_platformwidgets.moc"
