// The command lines of both programs: help and the version are printed and the program ends
// without a window, even where there is no display; anything else unknown is refused. A start
// asked to be minimized stays in the tray, but only when there is one.
#include "app/commandline.h"
#include "app/frmmain.h"
#include "platform/settingsstore.h"
#include "tests/app/windowharness.h"

#include <memory>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

// No display of any kind: a program that tried to open a window could not start at all.
Run runWithoutDisplay(const QString& program, const QStringList& arguments, bool offscreen = false)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    if (offscreen)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    Run r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.exitCode = p.exitCode();
    r.status = p.exitStatus();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

const QString Tivane = QStringLiteral(TIVANE_EXE);
const QString Probe = QStringLiteral(TIVANE_PROBE_EXE);

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void helpNamesEveryOptionAndTheList();

    void programAnswersWithoutADisplay_data();
    void programAnswersWithoutADisplay();
    void programRefusesWhatItDoesNotKnow_data();
    void programRefusesWhatItDoesNotKnow();

    void minimizedStartsInTheTrayOnlyWhenThereIsOne_data();
    void minimizedStartsInTheTrayOnlyWhenThereIsOne();
};

void tst_CommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("strict");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("minimized");

    const auto args = [](std::initializer_list<const char*> words) {
        QStringList list{QStringLiteral("tivane")};
        for (const char* w : words)
            list.append(QString::fromLatin1(w));
        return list;
    };
    QTest::newRow("nothing") << args({}) << true << int(CommandLine::Run) << false;
    QTest::newRow("--help") << args({"--help"}) << true << int(CommandLine::Help) << false;
    QTest::newRow("-h") << args({"-h"}) << true << int(CommandLine::Help) << false;
    QTest::newRow("--version") << args({"--version"}) << true << int(CommandLine::Version) << false;
    QTest::newRow("-v") << args({"-v"}) << true << int(CommandLine::Version) << false;
    QTest::newRow("help wins over version") << args({"--version", "--help"}) << true << int(CommandLine::Help) << false;
    QTest::newRow("--minimized") << args({"--minimized"}) << true << int(CommandLine::Run) << true;
    QTest::newRow("unknown option") << args({"--frobnicate"}) << true << int(CommandLine::Error) << false;
    QTest::newRow("stray argument") << args({"hosts.txt"}) << true << int(CommandLine::Error) << false;
    // A one-dash word is one option, not a bundle of letters that might contain h or v.
    QTest::newRow("one-dash word") << args({"-hv"}) << true << int(CommandLine::Error) << false;
    // Before the toolkit has taken its own options out they are passed over, not refused.
    QTest::newRow("toolkit options, lenient")
        << args({"-platform", "offscreen", "-style", "fusion"}) << false << int(CommandLine::Run) << false;
    QTest::newRow("help among toolkit options")
        << args({"-platform", "offscreen", "--help"}) << false << int(CommandLine::Help) << false;
    QTest::newRow("unknown, lenient") << args({"--frobnicate"}) << false << int(CommandLine::Run) << false;
    QTest::newRow("no arguments at all") << QStringList() << true << int(CommandLine::Run) << false;
}

void tst_CommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, strict);
    QFETCH(int, action);
    QFETCH(bool, minimized);
    const CommandLine line = parseCommandLine(arguments, strict);
    QCOMPARE(int(line.action), action);
    QCOMPARE(line.minimized, minimized);
    QCOMPARE(line.error.isEmpty(), action != CommandLine::Error);
}

void tst_CommandLine::helpNamesEveryOptionAndTheList()
{
    const QString help = helpText();
    for (const char* word : {"--help", "--version", "--minimized", "list.txt", ".local/share/Tivane"})
        QVERIFY2(help.contains(QLatin1String(word)), word);
    QCOMPARE(versionText(), QStringLiteral("tivane %1.%2.%3\n")
                                .arg(TIVANE_VERSION_MAJOR)
                                .arg(TIVANE_VERSION_MINOR)
                                .arg(TIVANE_VERSION_PATCH));
}

void tst_CommandLine::programAnswersWithoutADisplay_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("firstLine");
    const QString version =
        QStringLiteral("%1.%2.%3").arg(TIVANE_VERSION_MAJOR).arg(TIVANE_VERSION_MINOR).arg(TIVANE_VERSION_PATCH);
    QTest::newRow("tivane --help") << Tivane << QStringList{QStringLiteral("--help")}
                                   << QStringLiteral("Usage: tivane [--minimized]");
    QTest::newRow("tivane -h") << Tivane << QStringList{QStringLiteral("-h")}
                               << QStringLiteral("Usage: tivane [--minimized]");
    QTest::newRow("tivane --version") << Tivane << QStringList{QStringLiteral("--version")}
                                      << QStringLiteral("tivane ") + version;
    QTest::newRow("tivane -platform xcb --version")
        << Tivane << QStringList{QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("--version")}
        << QStringLiteral("tivane ") + version;
    QTest::newRow("tivane-probe --help") << Probe << QStringList{QStringLiteral("--help")}
                                         << QStringLiteral("Usage: tivane-probe ADDRESS...");
    QTest::newRow("tivane-probe --version")
        << Probe << QStringList{QStringLiteral("--version")} << QStringLiteral("tivane-probe ") + version;
    QTest::newRow("tivane-probe -v") << Probe << QStringList{QStringLiteral("-v")}
                                     << QStringLiteral("tivane-probe ") + version;
}

void tst_CommandLine::programAnswersWithoutADisplay()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, firstLine);
    const Run r = runWithoutDisplay(program, arguments);
    QCOMPARE(r.status, QProcess::NormalExit);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(r.out.section(u'\n', 0, 0), firstLine);
    QVERIFY(r.out.endsWith(u'\n'));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
}

void tst_CommandLine::programRefusesWhatItDoesNotKnow_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentioned");
    QTest::newRow("tivane --frobnicate") << Tivane << QStringList{QStringLiteral("--frobnicate")}
                                         << QStringLiteral("frobnicate");
    QTest::newRow("tivane stray argument")
        << Tivane << QStringList{QStringLiteral("hosts.txt")} << QStringLiteral("hosts.txt");
    QTest::newRow("tivane-probe --frobnicate")
        << Probe << QStringList{QStringLiteral("--frobnicate")} << QStringLiteral("frobnicate");
}

void tst_CommandLine::programRefusesWhatItDoesNotKnow()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentioned);
    // Offscreen, so that refusing it is not mistaken for failing to reach a display.
    const Run r = runWithoutDisplay(program, arguments, true);
    QCOMPARE(r.status, QProcess::NormalExit);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(mentioned) && r.err.contains(QStringLiteral("--help")), qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
}

void tst_CommandLine::minimizedStartsInTheTrayOnlyWhenThereIsOne_data()
{
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("visible");
    QTest::newRow("plain start") << false << true << true;
    QTest::newRow("minimized with a tray") << true << true << false;
    QTest::newRow("minimized without a tray") << true << false << true;
}

void tst_CommandLine::minimizedStartsInTheTrayOnlyWhenThereIsOne()
{
    QFETCH(bool, minimized);
    QFETCH(bool, tray);
    QFETCH(bool, visible);
    WindowHarness h{WindowHarness::WithoutList{}};
    h.tray.available = tray;
    frmMain& w = h.open();
    QVERIFY(w.Form_Load());
    w.showAtStart(minimized);
    QCOMPARE(w.isVisible(), visible);
    if (!visible) {
        // The notification area goes away: the window must come back rather than stay lost.
        h.tray.available = false;
        w.followTray();
        QVERIFY(w.isVisible());
    }
    w.Form_Unload();
}

QTEST_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
