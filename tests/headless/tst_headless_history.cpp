// tivane-monitor's history: the times its history command takes, the default file, and the
// program itself on loopback hosts writing the file that `history` then prints.
#include "headless/historyquery.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <csignal>
#include <unistd.h>

class TestHeadlessHistory : public QObject
{
    Q_OBJECT

    static QProcessEnvironment environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        return env;
    }
    // Runs `tivane-monitor history ...`; the output, the errors and the exit status.
    static int history(const QStringList& args, QByteArray* out, QByteArray* err = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(TIVANE_MONITOR), QStringList{QStringLiteral("history")} + args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(2000);
            return -1;
        }
        *out = p.readAllStandardOutput();
        if (err)
            *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private Q_SLOTS:
    void historyLimitsOnTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("taken") << QStringList{u"--history-days"_qs, u"1,30,3650"_qs, u"--history-max-mb"_qs, u"16"_qs,
                                              u"--help"_qs}
                               << 0 << QString();
        QTest::newRow("two numbers") << QStringList{u"--history-days"_qs, u"7,90"_qs} << 2
                                     << u"--history-days needs three numbers of days"_qs;
        QTest::newRow("a day too few") << QStringList{u"--history-days"_qs, u"0,90,730"_qs} << 2 << u"1 to 36500"_qs;
        QTest::newRow("none given") << QStringList{u"--history-days"_qs} << 2 << u"RAW,MINUTES,HOURS"_qs;
        QTest::newRow("too small a file") << QStringList{u"--history-max-mb"_qs, u"15"_qs} << 2
                                          << u"--history-max-mb needs a number of megabytes, 16 to"_qs;
        QTest::newRow("not a number") << QStringList{u"--history-max-mb"_qs, u"1G"_qs} << 2 << u"megabytes"_qs;
    }
    void historyLimitsOnTheCommandLine()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(QStringLiteral(TIVANE_MONITOR), args);
        QVERIFY(p.waitForFinished(10000));
        QTEST(p.exitCode(), "status");
        QFETCH(QString, said);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains(said), qPrintable(err));
    }
    void parseWhen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected"); // -1: refused
        const qint64 now = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
        const qint64 local = QDateTime(QDate(2026, 12, 8), QTime(9, 30)).toMSecsSinceEpoch();
        QTest::newRow("ISO with offset") << QStringLiteral("2026-12-08T09:30:00+01:00")
                                         << now - 3 * 3600000 - 30 * 60000;
        QTest::newRow("ISO in UTC, ms") << QStringLiteral("2026-12-08T11:59:59.500Z") << now - 500;
        QTest::newRow("ISO local") << QStringLiteral("2026-12-08T09:30") << local;
        QTest::newRow("date alone") << QStringLiteral("2026-12-08")
                                    << QDate(2026, 12, 8).startOfDay().toMSecsSinceEpoch();
        QTest::newRow("seconds") << QStringLiteral("90s") << now - 90000;
        QTest::newRow("10m") << QStringLiteral("10m") << now - 600000;
        QTest::newRow("2h") << QStringLiteral("2h") << now - 7200000;
        QTest::newRow("7d") << QStringLiteral("7d") << now - 7 * 86400000;
        QTest::newRow("before 1970") << QStringLiteral("999999999d") << qint64(0);
        QTest::newRow("empty") << QStringLiteral("") << qint64(-1);
        QTest::newRow("number alone") << QStringLiteral("10") << qint64(-1);
        QTest::newRow("unknown unit") << QStringLiteral("10w") << qint64(-1);
        QTest::newRow("negative") << QStringLiteral("-5m") << qint64(-1);
        QTest::newRow("space") << QStringLiteral("10 m") << qint64(-1);
        QTest::newRow("word") << QStringLiteral("yesterday") << qint64(-1);
        QTest::newRow("month 13") << QStringLiteral("2026-13-01") << qint64(-1);
    }
    void parseWhen()
    {
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        const qint64 now = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
        qint64 ms = -1;
        QString error;
        const bool ok = headless::parseWhen(text, now, &ms, &error);
        QCOMPARE(ok, expected >= 0);
        if (ok) {
            QCOMPARE(ms, expected);
            QVERIFY(error.isEmpty());
        } else {
            QVERIFY2(error.contains(QLatin1Char('\'') + text + QLatin1Char('\'')) &&
                         error.contains(QLatin1String("7d")),
                     qPrintable(error));
        }
    }

    void defaultFile_data()
    {
        QTest::addColumn<QString>("stateDirectory");
        QTest::addColumn<QString>("xdgStateHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("systemd service") << QStringLiteral("/var/lib/tivane-monitor") << QStringLiteral("/home/u/st")
                                         << QStringLiteral("/var/lib/tivane-monitor/history.sqlite");
        QTest::newRow("several state folders") << QStringLiteral("/var/lib/a:/var/lib/b") << QStringLiteral("")
                                               << QStringLiteral("/var/lib/a/history.sqlite");
        QTest::newRow("XDG_STATE_HOME") << QStringLiteral("") << QStringLiteral("/home/u/st")
                                        << QStringLiteral("/home/u/st/Tivane/monitor-history.sqlite");
        QTest::newRow("relative ones ignored") << QStringLiteral("rel") << QStringLiteral("st")
                                               << QStringLiteral("/home/u/.local/state/Tivane/monitor-history.sqlite");
    }
    void defaultFile()
    {
        QFETCH(QString, stateDirectory);
        QFETCH(QString, xdgStateHome);
        QFETCH(QString, expected);
        QCOMPARE(headless::defaultHistoryFile(stateDirectory, xdgStateHome, QStringLiteral("/home/u")), expected);
    }

    // The program probes two loopback hosts into a fresh file, ends on SIGTERM with its last
    // samples on disk, and `history` prints them; a file that cannot be opened leaves it running.
    void programWritesWhatHistoryPrints()
    {
        if (::geteuid() != 0)
            QSKIP("needs root for raw ICMP sockets");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile list(dir.filePath(QStringLiteral("list.txt")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("1|loopback|127.0.0.1\n1|second|127.0.0.2\n");
        list.close();
        const QString file = dir.filePath(QStringLiteral("state/history.sqlite"));
        const QString port = QString::number(20000 + ::getpid() % 20000);

        QProcess monitor;
        monitor.setProcessEnvironment(environment());
        monitor.start(QStringLiteral(TIVANE_MONITOR),
                      {QStringLiteral("--list"), list.fileName(), QStringLiteral("--history"), file,
                       QStringLiteral("--interval"), QStringLiteral("0.2"), QStringLiteral("--listen"),
                       QStringLiteral("127.0.0.1:") + port});
        QVERIFY(monitor.waitForStarted(5000));
        // Read while the monitor writes, until a few sweeps are on disk.
        QByteArray out;
        QByteArray err;
        const QStringList ofLoopback{QStringLiteral("loopback"), QStringLiteral("--history"), file};
        QTRY_VERIFY_WITH_TIMEOUT(history(ofLoopback, &out) == 0 && out.count('\n') >= 4, 15000);
        const qsizetype seen = out.count('\n') - 1;
        const qint64 stoppedAt = QDateTime::currentMSecsSinceEpoch();
        ::kill(pid_t(monitor.processId()), SIGTERM);
        QVERIFY2(monitor.waitForFinished(2000), "not ended within 2 s of SIGTERM");
        QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
        QCOMPARE(monitor.exitCode(), 0);

        QCOMPARE(history(ofLoopback, &out, &err), 0);
        QList<QByteArray> lines = out.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.takeFirst(), QByteArray("time,name,address,result,rtt_ms\r"));
        QVERIFY2(lines.size() >= seen, out.constData());
        qint64 previous = 0;
        for (const QByteArray& l : std::as_const(lines)) {
            const QList<QByteArray> f = l.chopped(1).split(',');
            QCOMPARE(f.size(), 5);
            const QDateTime at = QDateTime::fromString(QString::fromLatin1(f[0]), Qt::ISODateWithMs);
            QVERIFY2(at.isValid() && at.toMSecsSinceEpoch() >= previous && at.toMSecsSinceEpoch() <= stoppedAt + 2000,
                     l.constData());
            previous = at.toMSecsSinceEpoch();
            QCOMPARE(f[1], QByteArray("loopback"));
            QCOMPARE(f[2], QByteArray("127.0.0.1"));
            QCOMPARE(f[3], QByteArray("reply"));
            bool ok = false;
            QVERIFY(f[4].toDouble(&ok) >= 0 && ok);
        }
        // The sweeps of the last second were queued at SIGTERM: on disk too (a sweep is 0.2 s).
        QVERIFY2(previous >= stoppedAt - 800, qPrintable(QString::number(stoppedAt - previous)));

        // By address, a window that holds nothing, and the refusals.
        QCOMPARE(history({QStringLiteral("127.0.0.2"), QStringLiteral("--history"), file}, &out), 0);
        QVERIFY(out.count('\n') >= 4 && out.contains(",second,127.0.0.2,reply,"));
        QCOMPARE(history({QStringLiteral("loopback"), QStringLiteral("--history"), file, QStringLiteral("--until"),
                          QStringLiteral("2000-01-01")},
                         &out),
                 0);
        QCOMPARE(out, QByteArray("time,name,address,result,rtt_ms\r\n"));
        QCOMPARE(history({QStringLiteral("nobody"), QStringLiteral("--history"), file}, &out, &err), 1);
        QVERIFY2(err.contains("no host named or at 'nobody'"), err.constData());
        QCOMPARE(history({QStringLiteral("loopback"), QStringLiteral("--since"), QStringLiteral("soon")}, &out, &err),
                 2);
        QVERIFY2(err.contains("--since: 'soon' is not a time"), err.constData());
        QCOMPARE(
            history({QStringLiteral("loopback"), QStringLiteral("--history"), dir.filePath(QStringLiteral("none"))},
                    &out, &err),
            1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("none"))));
        // A look never changes the file looked at: a damaged one stays where and as it is.
        const QString damaged = dir.filePath(QStringLiteral("damaged.sqlite"));
        {
            QFile f(damaged);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(8192, 'x'));
        }
        QCOMPARE(history({QStringLiteral("loopback"), QStringLiteral("--history"), damaged}, &out, &err), 1);
        QVERIFY2(err.contains("cannot be opened"), err.constData());
        QCOMPARE(QFileInfo(damaged).size(), 8192);
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("damaged.sqlite*")}), QStringList{u"damaged.sqlite"_qs});

        // A folder in the file's place: said once, and the monitor serves on without history.
        QProcess without;
        without.setProcessEnvironment(environment());
        without.start(QStringLiteral(TIVANE_MONITOR),
                      {QStringLiteral("--list"), list.fileName(), QStringLiteral("--history"), dir.path(),
                       QStringLiteral("--listen"), QStringLiteral("127.0.0.1:") + port});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += without.readAllStandardError()).contains("monitoring 2 hosts"), 10000);
        QCOMPARE(said.count("history is off"), 1);
        QCOMPARE(without.state(), QProcess::Running);
        ::kill(pid_t(without.processId()), SIGTERM);
        QVERIFY(without.waitForFinished(2000));
        QCOMPARE(without.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHeadlessHistory)
#include "tst_headless_history.moc"
