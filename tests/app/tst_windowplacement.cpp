// The arithmetic that keeps the window on a screen: a stored geometry from a larger monitor, or
// one left half off the desktop, must never put the title bar out of reach.
#include "app/windowplacement.h"

#include <QTest>

class TestWindowPlacement : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fitToArea_data()
    {
        QTest::addColumn<QRect>("outer");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<bool>("placed");
        QTest::addColumn<QRect>("expected");
        const QRect desk(0, 0, 1920, 1040);
        QTest::newRow("inside stays") << QRect(100, 50, 800, 600) << desk << false << QRect(100, 50, 800, 600);
        QTest::newRow("off the left and top comes back")
            << QRect(-300, -40, 800, 600) << desk << false << QRect(0, 0, 800, 600);
        QTest::newRow("off the right and bottom comes back")
            << QRect(1500, 900, 800, 600) << desk << false << QRect(1120, 440, 800, 600);
        QTest::newRow("larger than the screen shrinks onto it") << QRect(200, 100, 2560, 1400) << desk << false << desk;
        QTest::newRow("second screen to the right, panel on top")
            << QRect(3700, 10, 800, 600) << QRect(1920, 30, 1920, 1050) << false << QRect(3040, 30, 800, 600);
        QTest::newRow("placed by the compositor: only shrunk")
            << QRect(-300, 900, 2560, 600) << desk << true << QRect(-300, 900, 1920, 600);
    }
    void fitToArea()
    {
        QFETCH(QRect, outer);
        QFETCH(QRect, available);
        QFETCH(bool, placed);
        QFETCH(QRect, expected);
        QCOMPARE(WindowPlacement::fitToArea(outer, available, placed), expected);
    }

    void mostOf_data()
    {
        QTest::addColumn<QRect>("outer");
        QTest::addColumn<QVector<QRect>>("areas");
        QTest::addColumn<int>("expected");
        const QVector<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QTest::newRow("no screens") << QRect(0, 0, 100, 100) << QVector<QRect>() << -1;
        QTest::newRow("mostly on the first") << QRect(1500, 100, 800, 600) << two << 0;
        QTest::newRow("mostly on the second") << QRect(1800, 100, 800, 600) << two << 1;
        QTest::newRow("on none: the first") << QRect(5000, 5000, 800, 600) << two << 0;
    }
    void mostOf()
    {
        QFETCH(QRect, outer);
        QFETCH(QVector<QRect>, areas);
        QFETCH(int, expected);
        QCOMPARE(WindowPlacement::mostOf(outer, areas), expected);
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
