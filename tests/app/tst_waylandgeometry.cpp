// The window under a Wayland compositor (weston, headless), which places windows itself: the
// program neither reads nor writes its place, keeps the stored one for X11 sessions, and
// restores and saves the size it really has.
#include "app/frmmain.h"
#include "platform/settingsstore.h"
#include "platform/twips.h"
#include "tests/app/windowharness.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>

namespace {

// The window without a tray, its place and size in twips as the settings keep them.
struct Harness : WindowHarness
{
    Harness() : WindowHarness("1|a|127.0.0.1\r\n") {}

    void store(int top, int left, int height, int width)
    {
        for (const auto& [key, value] : {std::pair{"WndT", top}, {"WndL", left}, {"WndH", height}, {"WndW", width}})
            WindowHarness::store(QStringLiteral("Settings"), QString::fromLatin1(key), QString::number(value));
    }

    QString stored(const char* key) const
    {
        return WindowHarness::stored(QStringLiteral("Settings"), QString::fromLatin1(key), QString());
    }

    frmMain& start()
    {
        MainServices s = services();
        s.tray = nullptr;
        WindowHarness::start(s).showAtStart(false);
        return *window;
    }
};

} // namespace

class tst_WaylandGeometry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void placeIsLeftAloneAndSizeKept_data();
    void placeIsLeftAloneAndSizeKept();
};

void tst_WaylandGeometry::placeIsLeftAloneAndSizeKept_data()
{
    QTest::addColumn<QRect>("stored");    // x left, y top, in twips
    QTest::addColumn<QSize>("resizedTo"); // the user's new client size; empty: untouched
    QTest::newRow("untouched") << QRect(1200, 1500, 12000, 6000) << QSize();
    QTest::newRow("resized") << QRect(1200, 1500, 12000, 6000) << QSize(700, 450);
    QTest::newRow("an X11 place off this screen") << QRect(-3000, 90000, 9000, 5000) << QSize();
}

void tst_WaylandGeometry::placeIsLeftAloneAndSizeKept()
{
    QFETCH(QRect, stored);
    QFETCH(QSize, resizedTo);
    Harness h;
    h.store(stored.y(), stored.x(), stored.height(), stored.width());
    frmMain& w = h.start();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize outer(platform::toPixels(stored.width()), platform::toPixels(stored.height()));
    QTRY_COMPARE(w.size(), outer - (w.frameGeometry().size() - w.size()));
    if (resizedTo.isValid()) {
        w.resize(resizedTo);
        QTRY_COMPARE(w.size(), resizedTo);
    }
    const QSize frame = w.frameGeometry().size() - w.size();
    w.mnuExit_Click();
    // The place is the X11 session's, untouched.
    QCOMPARE(h.stored("WndL"), QString::number(stored.x()));
    QCOMPARE(h.stored("WndT"), QString::number(stored.y()));
    const QSize saved = resizedTo.isValid() ? resizedTo + frame : outer;
    QCOMPARE(h.stored("WndW"),
             resizedTo.isValid() ? QString::number(platform::toTwips(saved.width())) : QString::number(stored.width()));
    QCOMPARE(h.stored("WndH"), resizedTo.isValid() ? QString::number(platform::toTwips(saved.height()))
                                                   : QString::number(stored.height()));

    // The next start has the same size again, not a frame's worth more.
    frmMain& again = h.start();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QTRY_COMPARE(again.frameGeometry().size(), saved);
}

namespace {

// A headless weston of the test's own, on a socket in a runtime folder of its own.
struct Compositor
{
    QTemporaryDir runtime;
    QProcess weston;

    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("weston"));
        if (program.isEmpty())
            return false;
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        weston.start(program, {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=tivane-test"),
                               QStringLiteral("--width=1024"), QStringLiteral("--height=768"),
                               QStringLiteral("--use-pixman"), QStringLiteral("--idle-time=0")});
        const QString socket = QDir(runtime.path()).filePath(QStringLiteral("tivane-test"));
        for (int i = 0; i < 100 && !QFileInfo::exists(socket); ++i)
            QTest::qSleep(50);
        if (!QFileInfo::exists(socket))
            return false;
        qputenv("WAYLAND_DISPLAY", "tivane-test");
        qputenv("QT_QPA_PLATFORM", "wayland");
        return true;
    }
    ~Compositor()
    {
        weston.terminate();
        if (!weston.waitForFinished(3000))
            weston.kill();
    }
};

} // namespace

int main(int argc, char* argv[])
{
    Compositor compositor;
    if (!compositor.start()) {
        std::puts("SKIP: no headless weston could be started (scripts/deps.sh --test installs weston)");
        return 77;
    }
    QApplication app(argc, argv);
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        std::puts("SKIP: Qt's Wayland platform is not installed (qt6-wayland)");
        return 77;
    }
    tst_WaylandGeometry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_waylandgeometry.moc"
