#include "singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QSignalSpy>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

class TestSingleInstance : public QObject
{
    Q_OBJECT

    // Unique per test and per run, so parallel runs and earlier failures never collide.
    static QString uniqueName(const char* test)
    {
        return QStringLiteral("tivane-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(QLatin1StringView(test));
    }

    // A process id that surely belonged to a process and no longer does.
    static pid_t deadPid()
    {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        ::waitpid(child, nullptr, 0);
        return child;
    }

private Q_SLOTS:
    void secondCopyFindsTheFirst()
    {
        const QString name = uniqueName("second");
        {
            SingleInstance first(name);
            QVERIFY(!first.PrevInstance());
            QVERIFY(QFile::exists(first.lockPath()));
            SingleInstance second(name);
            QVERIFY(second.PrevInstance());
            // The loser must leave the winner's lock and socket alone.
            QVERIFY(QFile::exists(first.lockPath()));
            QSignalSpy shown(&first, &SingleInstance::showRequested);
            QVERIFY(second.notifyRunning());
            QTRY_COMPARE(shown.size(), 1);
        }
        SingleInstance next(name);
        QVERIFY(!next.PrevInstance());
    }

    void staleLockOfDeadCopyDoesNotBlock()
    {
        const QString name = uniqueName("stale");
        SingleInstance probe(name);
        const QString path = probe.lockPath();

        // Take the content QLockFile writes, then make it claim a process that has ended.
        QByteArray content;
        {
            QLockFile model(path);
            QVERIFY(model.tryLock(0));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            content = f.readAll();
        }
        QVERIFY(!QFile::exists(path));
        const qsizetype eol = content.indexOf('\n');
        QVERIFY(eol > 0);
        content.replace(0, eol, QByteArray::number(deadPid()));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        // The crashed copy also left its socket file, where a bare name puts it; it must not stop listening.
        QFile leftover(QDir::tempPath() + u'/' + probe.serverName());
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();

        QVERIFY(!probe.PrevInstance());
        QSignalSpy shown(&probe, &SingleInstance::showRequested);
        QVERIFY(SingleInstance(name).notifyRunning());
        QTRY_COMPARE(shown.size(), 1);
    }

    void notifyWithoutRunningCopyFails()
    {
        SingleInstance lonely(uniqueName("lonely"));
        QVERIFY(!lonely.notifyRunning(200));
    }

    void strayClientsAreIgnored()
    {
        const QString name = uniqueName("stray");
        SingleInstance running(name);
        QVERIFY(!running.PrevInstance());
        QSignalSpy shown(&running, &SingleInstance::showRequested);

        QLocalSocket stranger;
        stranger.connectToServer(running.serverName());
        QVERIFY(stranger.waitForConnected(1000));
        stranger.write("hello there");
        QVERIFY(stranger.waitForBytesWritten(1000) || stranger.bytesToWrite() == 0);

        // A real request after the stray one still gets through.
        QVERIFY(SingleInstance(name).notifyRunning());
        QTRY_COMPARE(shown.size(), 1);
        QTest::qWait(100);
        QCOMPARE(shown.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
