// One sweep over 1,000 ticked loopback hosts with the real probe and the real window, offscreen.
// Prints the total and how it splits between probing and the window's own work.
#include "frmmain.h"
#include "messagebox.h"
#include "prober.h"
#include "reportlist.h"
#include "settingsstore.h"
#include "soundplayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

class SilentMessages : public platform::MessageBox
{
public:
    int show(const QString& text, int, const QString&) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return platform::MsgResultOk;
    }
};

class NoSound : public platform::SoundPlayer
{
public:
    void play(const QString&) override {}
};

// The real probe, timed.
class TimedProber : public IcmpProber
{
public:
    std::int32_t PingHost(const QString& address, mdlPing::ICMP_ECHO_REPLY& reply) override
    {
        QElapsedTimer t;
        t.start();
        const std::int32_t status = IcmpProber::PingHost(address, reply);
        probeNs += t.nsecsElapsed();
        if (status != 0)
            ++failures;
        return status;
    }
    qint64 probeNs = 0;
    int failures = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    {
        QFile list(dir.filePath(QStringLiteral("list.txt")));
        if (!list.open(QIODevice::WriteOnly))
            return 1;
        // 127.0.0.1 to 127.0.3.232: 1,000 loopback hosts.
        for (int n = 1; n <= 1000; ++n)
            list.write(QStringLiteral("1|host %1|127.0.%2.%3\r\n").arg(n).arg(n / 256).arg(n % 256).toUtf8());
    }
    SilentMessages messages;
    platform::SettingsStore settings(dir.filePath(QStringLiteral("settings.ini")));
    TimedProber prober;
    NoSound sound;
    MainServices s;
    s.app.Path = dir.path();
    s.messages = &messages;
    s.settings = &settings;
    s.prober = &prober;
    s.sound = &sound;
    s.notifyTray = [](int, const QIcon&, const QString&) { return 0; };
    frmMain window(s);
    window.Form_Load();
    window.show();
    QCoreApplication::processEvents();

    QElapsedTimer t;
    t.start();
    window.PingList();
    const qint64 totalNs = t.nsecsElapsed();

    std::printf("sweep_1000_loopback_ms: %.1f ms\n", totalNs / 1e6);
    std::printf("sweep_1000_probe_ms: %.1f ms\n", prober.probeNs / 1e6);
    std::printf("sweep_1000_window_ms: %.1f ms\n", (totalNs - prober.probeNs) / 1e6);
    if (prober.failures)
        std::printf("sweep_1000_failed_probes: %d\n", prober.failures);
    return 0;
}
