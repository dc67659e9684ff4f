#include "shell/mdlmore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace mdlMore;

namespace {

QByteArray le16(quint16 v)
{
    QByteArray b(2, Qt::Uninitialized);
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray chunk(const char* id, const QByteArray& body, quint32 declared)
{
    return QByteArray(id, 4) + le32(declared) + body + (body.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

// 8 kHz mono 16-bit PCM: 16000 bytes a second. `declaredData` lets a test lie about the data size.
QByteArray wave(int milliseconds, quint16 format = 1, const QByteArray& extraChunk = {}, qint64 declaredData = -1)
{
    constexpr quint32 byteRate = 16000;
    const QByteArray fmt = le16(format) + le16(1) + le32(8000) + le32(byteRate) + le16(2) + le16(16);
    const QByteArray samples(int(byteRate * milliseconds / 1000), '\x10');
    const quint32 dataSize = declaredData < 0 ? quint32(samples.size()) : quint32(declaredData);
    const QByteArray body =
        QByteArray("WAVE") + extraChunk + chunk("fmt ", fmt, quint32(fmt.size())) + chunk("data", samples, dataSize);
    return QByteArray("RIFF") + le32(quint32(body.size())) + body;
}

} // namespace

class TestMdlMore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void waveDuration_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("half a second") << wave(500) << qint64(500);
        QTest::newRow("odd chunk before fmt") << wave(250, 1, chunk("LIST", "abc", 3)) << qint64(250);
        QTest::newRow("float samples") << wave(100, 3) << qint64(100);
        QTest::newRow("streamed, size open") << wave(500, 1, {}, 0xFFFFFFFF) << qint64(500);
        QTest::newRow("streamed, size zero") << wave(500, 1, {}, 0) << qint64(500);
        QByteArray slow = wave(500);
        slow.replace(slow.indexOf("fmt ") + 16, 4, le32(1)); // one byte a second: hours long
        QTest::newRow("absurd byte rate is capped") << slow << qint64(60000);
        QTest::newRow("compressed format") << wave(500, 2) << qint64(-1);
        QTest::newRow("not a wave") << QByteArray("ID3\x03 some mp3 bytes and more bytes") << qint64(-1);
        QTest::newRow("header only") << QByteArray("RIFF\x04\0\0\0WAVE", 12) << qint64(-1);
        QTest::newRow("empty") << QByteArray() << qint64(-1);
        QByteArray noRate = wave(500);
        noRate.replace(noRate.indexOf("fmt ") + 16, 4, le32(0));
        QTest::newRow("zero byte rate") << noRate << qint64(-1);
    }

    void waveDuration()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, expected);
        QCOMPARE(waveDurationMs(write(QStringLiteral("d.wav"), bytes)), expected);
    }

    void gateHoldsForTheLongerOfClockAndEngine()
    {
        PlaybackGate gate;
        QVERIFY(!gate.isBusy(0));
        QVERIFY(gate.tryStart(1000, 500));
        // The engine stopped at once (no device): still refused until the sound's length has passed.
        QVERIFY(!gate.tryStart(1001, 500, false));
        QVERIFY(!gate.tryStart(1499, 500, false));
        QVERIFY(gate.isBusy(1499));
        QVERIFY(!gate.isBusy(1500));
        // The engine runs longer than the header promised: still refused, for a while.
        QVERIFY(!gate.tryStart(1600, 500, true));
        QVERIFY(gate.isBusy(1500 + PlaybackGate::EngineGraceMs - 1, true));
        // An engine that claims to play on and on (no device) must not silence everything after it.
        QVERIFY(gate.tryStart(1500 + PlaybackGate::EngineGraceMs, 500, true));
        QVERIFY(gate.isBusy(1500 + PlaybackGate::EngineGraceMs + 499));
    }

    void playerIsSilentForUnplayableFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("nothing.wav"));
        QTest::newRow("directory") << m_dir.path();
        QTest::newRow("garbage") << write(QStringLiteral("garbage.wav"), QByteArray(4096, '\x7f'));
        QTest::newRow("empty name") << QString();
    }

    void playerIsSilentForUnplayableFiles()
    {
        QFETCH(QString, file);
        WavePlayer player;
        player.setOutputProbe([] { return true; });
        player.play(file);
        QCOMPARE(player.acceptedCount(), 0);
        QVERIFY(!player.isPlaying());
    }

    void playerIsSilentWithoutOutput()
    {
        WavePlayer player;
        player.setOutputProbe([] { return false; });
        player.play(write(QStringLiteral("a.wav"), wave(500)));
        QCOMPARE(player.acceptedCount(), 0);
        QVERIFY(!player.isPlaying());
    }

    void playerRefusesWhileSoundPlays()
    {
        const QString first = write(QStringLiteral("first.wav"), wave(500));
        const QString second = write(QStringLiteral("second.wav"), wave(100));
        WavePlayer player;
        // Acts as if a device existed; on a machine without one the engine stops at once,
        // which is exactly the case where the expected length must keep the gate shut.
        player.setOutputProbe([] { return true; });

        QElapsedTimer clock;
        clock.start();
        PlayWave(player, first);
        QVERIFY2(clock.elapsed() < 400, "PlayWave waited for the sound");
        QCOMPARE(player.acceptedCount(), 1);
        QVERIFY(player.isPlaying());

        PlayWave(player, second);
        QCOMPARE(player.acceptedCount(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
        PlayWave(player, second);
        QCOMPARE(player.acceptedCount(), 2);
    }

    void trayTipIsCut_data()
    {
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("expected");
        const QString full(MaxTrayTipLength, u'x');
        QTest::newRow("short") << QStringLiteral("Tivane") << QStringLiteral("Tivane");
        QTest::newRow("exactly full") << full << full;
        QTest::newRow("one over") << full + u'y' << full;
        // A character outside the BMP straddling the limit goes whole, not half.
        const QString smile = QString::fromUcs4(U"\U0001F600");
        const QString straddle = QString(MaxTrayTipLength - 1, u'x') + smile;
        QTest::newRow("surrogate at the limit") << straddle << QString(MaxTrayTipLength - 1, u'x');
    }

    void trayTipIsCut()
    {
        QFETCH(QString, tip);
        QFETCH(QString, expected);
        QCOMPARE(trayTip(tip), expected);
    }

    void trayEventCodes_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("statusNotifier");
        QTest::addColumn<int>("code");
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false << int(TrayLeftDoubleClick);
        QTest::newRow("context") << int(QSystemTrayIcon::Context) << false << int(TrayRightUp);
        QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << false << int(TrayLeftUp);
        QTest::newRow("middle") << int(QSystemTrayIcon::MiddleClick) << false << 0;
        QTest::newRow("sni activation") << int(QSystemTrayIcon::Trigger) << true << int(TrayLeftDoubleClick);
        QTest::newRow("sni context") << int(QSystemTrayIcon::Context) << true << int(TrayRightUp);
        QTest::newRow("sni secondary") << int(QSystemTrayIcon::MiddleClick) << true << 0;
    }

    void trayEventCodes()
    {
        QFETCH(int, reason);
        QFETCH(bool, statusNotifier);
        QFETCH(int, code);
        QCOMPARE(trayEventCode(QSystemTrayIcon::ActivationReason(reason), statusNotifier), code);
    }

    void trayWithoutHostShowsNothing()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this session has a tray host");
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::red);
        const QIcon icon(pixmap);
        TrayIcon tray;
        QCOMPARE(NotifyTrayIcon(NIM_DELETE, tray, {}, {}), 0);
        QCOMPARE(NotifyTrayIcon(NIM_ADD, tray, icon, QString(100, u'a')), 0);
        QVERIFY(!tray.isShown());
        QCOMPARE(tray.toolTip().size(), MaxTrayTipLength);
        QCOMPARE(NotifyTrayIcon(NIM_MODIFY, tray, icon, QStringLiteral("x")), 0);
        QCOMPARE(NotifyTrayIcon(NIM_DELETE, tray, {}, {}), 0);
        QCOMPARE(NotifyTrayIcon(7, tray, icon, {}), 0);
        QVERIFY(!tray.native()->isVisible());
    }

    void trayReportsActivations()
    {
        TrayIcon tray;
        QSignalSpy spy(&tray, &TrayIcon::mouseEvent);
        Q_EMIT tray.native()->activated(QSystemTrayIcon::DoubleClick);
        Q_EMIT tray.native()->activated(QSystemTrayIcon::Context);
        Q_EMIT tray.native()->activated(QSystemTrayIcon::MiddleClick);
        Q_EMIT tray.native()->activated(QSystemTrayIcon::Trigger);
        const int single = TrayIcon::statusNotifierHost() ? TrayLeftDoubleClick : TrayLeftUp;
        // Never from inside the tray's own handler: a menu opened there may remove the icon
        // and free the window whose handler is still running.
        QCOMPARE(spy.size(), 0);
        QTRY_COMPARE(spy.size(), 3);
        QCOMPARE(spy.at(0).at(0).toInt(), int(TrayLeftDoubleClick));
        QCOMPARE(spy.at(1).at(0).toInt(), int(TrayRightUp));
        QCOMPARE(spy.at(2).at(0).toInt(), single);
    }

    void statusNotifierWatcherIsDetected()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("no dbus-daemon to run a private bus");
        QProcess bus;
        bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY(bus.waitForStarted());
        QVERIFY(bus.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(bus.readLine().trimmed());
        auto stop = qScopeGuard([&bus] {
            bus.terminate();
            bus.waitForFinished();
        });

        QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        QDBusConnection host = QDBusConnection::connectToBus(address, QStringLiteral("host"));
        QVERIFY(client.isConnected() && host.isConnected());
        QVERIFY(!TrayIcon::statusNotifierHost(client));
        QVERIFY(host.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        QVERIFY(TrayIcon::statusNotifierHost(client));

        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("host"));
    }
};

QTEST_MAIN(TestMdlMore)
#include "tst_mdlmore.moc"
