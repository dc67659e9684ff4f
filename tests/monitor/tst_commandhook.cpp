#include "monitor/commandhook.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace monitor;

namespace {

const QTimeZone kZone(3600);
const qint64 kNoon = QDateTime(QDate(2026, 12, 7), QTime(12, 3, 7), kZone).toMSecsSinceEpoch();

StateChange change(HostKey key, const QString& name, HostState from, HostState to, std::int32_t status)
{
    StateChange c;
    c.key = key;
    c.name = name;
    c.address = QStringLiteral("10.0.0.%1").arg(key);
    c.from = from;
    c.to = to;
    c.sinceMs = kNoon;
    c.status = status;
    return c;
}

// A helper script that behaves as its first argument says and leaves what it saw in a file named
// after the host.
struct Script
{
    QTemporaryDir dir;
    QString path;

    Script()
    {
        path = dir.filePath(QStringLiteral("hook.sh"));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("#!/bin/sh\n"
                    "out=\"$(dirname \"$0\")/seen-$TIVANE_ADDRESS\"\n"
                    "env | grep '^TIVANE_' | sort > \"$out.tmp\"\n"
                    "echo \"args=$*\" >> \"$out.tmp\"\n"
                    "mv \"$out.tmp\" \"$out\"\n"
                    "case \"$1\" in\n"
                    "  fail) exit 3 ;;\n"
                    "  sleep) exec sleep 30 ;;\n"
                    "  wait) while [ ! -e \"$(dirname \"$0\")/go\" ]; do sleep 0.05; done ;;\n"
                    "esac\n"
                    "exit 0\n");
        f.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString seen(const QString& address) const
    {
        QFile f(dir.filePath(QStringLiteral("seen-") + address));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString line(const QString& mode) const { return QStringLiteral("'%1' %2").arg(path, mode); }
};

} // namespace

class TestCommandHook : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splitWords_data();
    void splitWords();
    void environmentTellsTheChange_data();
    void environmentTellsTheChange();
    void failuresAreReportedOncePerCommandLine_data();
    void failuresAreReportedOncePerCommandLine();
    void atMostFourRunAndTheQueueIsBounded();
};

void TestCommandHook::splitWords_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    const auto words = [](std::initializer_list<const char*> list) {
        QStringList out;
        for (const char* w : list)
            out.append(QString::fromUtf8(w));
        return out;
    };

    QTest::newRow("blanks") << "notify-send  Tivane\t'A host'" << words({"notify-send", "Tivane", "A host"});
    QTest::newRow("single quotes keep all")
        << R"(sh -c 'echo "$TIVANE_NAME" \x')" << words({"sh", "-c", R"(echo "$TIVANE_NAME" \x)"});
    QTest::newRow("double quotes and escapes") << R"(a "b \"c\" \x $d" e\ f)" << words({"a", R"(b "c" \x $d)", "e f"});
    QTest::newRow("joined parts") << R"(-d'{"k":1}'x)" << words({R"(-d{"k":1}x)"});
    QTest::newRow("empty quotes are a word") << "a '' b" << words({"a", "", "b"});
    QTest::newRow("unterminated") << "a 'b" << QStringList();
    QTest::newRow("nothing") << "   " << QStringList();
}

void TestCommandHook::splitWords()
{
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QCOMPARE(CommandHook::splitWords(line), words);
}

void TestCommandHook::environmentTellsTheChange_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");

    QTest::newRow("down") << int(HostState::Up) << int(HostState::Down) << 11010
                          << "TIVANE_PREVIOUS_STATE=up|TIVANE_RTT_MS=|TIVANE_STATE=down|TIVANE_STATUS=11010|"
                             "TIVANE_STATUS_TEXT=Request Timed Out";
    QTest::newRow("degraded") << int(HostState::Up) << int(HostState::Degraded) << 0
                              << "TIVANE_PREVIOUS_STATE=up|TIVANE_RTT_MS=2.500|TIVANE_STATE=degraded|TIVANE_STATUS=0|"
                                 "TIVANE_STATUS_TEXT=Success!";
    QTest::newRow("back") << int(HostState::Down) << int(HostState::Up) << 0
                          << "TIVANE_PREVIOUS_STATE=down|TIVANE_RTT_MS=2.500|TIVANE_STATE=up|TIVANE_STATUS=0|"
                             "TIVANE_STATUS_TEXT=Success!";
}

void TestCommandHook::environmentTellsTheChange()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, status);
    QFETCH(QString, expected);

    HostMonitor m;
    m.setEntry(1, QStringLiteral("mail; rm -rf $HOME"), QStringLiteral("10.0.0.1"));
    m.record(1, 0, 1000, kNoon);
    m.record(1, 0, 2500, kNoon + 1000);
    m.record(1, 11010, -1, kNoon + 2000);
    m.record(1, 0, 2500, kNoon + 3000);

    Script script;
    CommandHook hook;
    hook.setZone(kZone);
    hook.setCommand(script.line(QStringLiteral("plain")));
    QSignalSpy done(&hook, &CommandHook::finished);
    hook.changed({change(1, QStringLiteral("mail; rm -rf $HOME"), HostState(from), HostState(to), status)}, &m);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 10000);
    const QString seen = script.seen(QStringLiteral("10.0.0.1"));
    for (const QString& line : expected.split(u'|'))
        QVERIFY2(seen.contains(line + u'\n'), qPrintable(line + QStringLiteral(" in\n") + seen));
    QVERIFY(seen.contains(QStringLiteral("TIVANE_NAME=mail; rm -rf $HOME\n")));
    QVERIFY(seen.contains(QStringLiteral("TIVANE_ADDRESS=10.0.0.1\n")));
    QVERIFY(seen.contains(QStringLiteral("TIVANE_LOSS_PERCENT=25.0\n")));
    QVERIFY(seen.contains(QStringLiteral("TIVANE_SINCE=2026-12-07T12:03:07.000+01:00\n")));
    // The host never reaches the command line.
    QVERIFY(seen.contains(QStringLiteral("args=plain\n")));
}

void TestCommandHook::failuresAreReportedOncePerCommandLine_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("timeLimitMs");
    QTest::addColumn<QString>("told");

    QTest::newRow("non-zero exit") << "fail" << 30000 << "exited with status 3";
    QTest::newRow("time limit") << "sleep" << 300 << "was ended after 0.3 s";
    QTest::newRow("cannot start") << "" << 30000 << "could not be started";
    QTest::newRow("success is quiet") << "plain" << 30000 << "";
}

void TestCommandHook::failuresAreReportedOncePerCommandLine()
{
    QFETCH(QString, mode);
    QFETCH(int, timeLimitMs);
    QFETCH(QString, told);

    Script script;
    CommandHook hook;
    hook.setTimeLimit(timeLimitMs);
    hook.setCommand(mode.isEmpty() ? script.dir.filePath(QStringLiteral("missing")) : script.line(mode));
    QSignalSpy problems(&hook, &CommandHook::problem);
    QSignalSpy done(&hook, &CommandHook::finished);
    QVector<StateChange> changes;
    for (HostKey k = 1; k <= 3; ++k)
        changes.append(change(k, QStringLiteral("h"), HostState::Up, HostState::Down, 11010));
    hook.changed(changes);
    hook.changed({change(4, QStringLiteral("h"), HostState::Down, HostState::Up, 0)});
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 4, 15000);
    QCOMPARE(hook.running(), 0);
    if (told.isEmpty()) {
        QCOMPARE(problems.size(), 0);
        return;
    }
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.first().first().toString().contains(told), qPrintable(problems.first().first().toString()));
}

void TestCommandHook::atMostFourRunAndTheQueueIsBounded()
{
    Script script;
    CommandHook hook;
    hook.setCommand(script.line(QStringLiteral("wait")));
    QSignalSpy problems(&hook, &CommandHook::problem);
    QSignalSpy done(&hook, &CommandHook::finished);
    QVector<StateChange> changes;
    for (HostKey k = 1; k <= HostKey(CommandHook::MaxQueued + CommandHook::MaxRunning + 5); ++k)
        changes.append(change(k, QStringLiteral("h"), HostState::Up, HostState::Down, 11010));
    hook.changed(changes);
    QCOMPARE(hook.running(), CommandHook::MaxRunning);
    QCOMPARE(hook.queued(), CommandHook::MaxQueued);
    QCOMPARE(problems.size(), 1); // one message for the whole overflow
    QVERIFY(problems.first().first().toString().contains(QStringLiteral("oldest are dropped")));
    hook.setCommand(QString()); // drops the queue; the running four finish
    QFile go(script.dir.filePath(QStringLiteral("go")));
    QVERIFY(go.open(QIODevice::WriteOnly));
    go.close();
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), CommandHook::MaxRunning, 10000);
    QCOMPARE(hook.running(), 0);
    QCOMPARE(problems.size(), 1);
}

QTEST_GUILESS_MAIN(TestCommandHook)
#include "tst_commandhook.moc"
