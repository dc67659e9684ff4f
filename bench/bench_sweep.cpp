// Sweeps through the real window and the real ICMP engine, offscreen:
// - 1,000 loopback hosts, one at a time and all at once;
// - silent hosts in network namespaces built here (root only): how late a 10 ms heartbeat
//   gets while a one-at-a-time sweep waits for them, and how long an all-at-once sweep over
//   20 of them takes; and the same heartbeat while the five silent hosts are host names,
//   looked up at each sweep through the namespace's own hosts file.
// Each figure is one run; nothing here judges the numbers.
#include "app/frmmain.h"
#include "platform/messagebox.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/soundplayer.h"
#include "probe/icmpcore.h"
#include "probe/prober.h"
#include "tests/probe/netlab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int StatusCol = 2;

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

// The real window over a list.txt of the given addresses, each ticked, in a folder of its own.
// The window opens no dialog during a sweep.
class NoDialogs : public MainDialogs
{
public:
    std::optional<hostlist::KeyedHostLine> insertEntry(QWidget*, hostlist::HostListFile&,
                                                       const platform::ImageList&) override
    {
        return std::nullopt;
    }
    std::optional<hostlist::HostLine> showEntry(QWidget*, hostlist::HostListFile&, const platform::ImageList&,
                                                hostlist::EntryKey, const QString&, const QString&, int) override
    {
        return std::nullopt;
    }
    void about(QWidget*) override {}
    bool openFolder(const QString&) override { return false; }
};

class Bench
{
public:
    explicit Bench(const QStringList& addresses) : m_settings(m_dir.filePath(QStringLiteral("settings.ini")))
    {
        QFile list(m_dir.filePath(QStringLiteral("list.txt")));
        if (!m_dir.isValid() || !list.open(QIODevice::WriteOnly))
            return;
        for (int n = 0; n < addresses.size(); ++n)
            list.write(QStringLiteral("1|host %1|%2\r\n").arg(n + 1).arg(addresses[n]).toUtf8());
        if (!list.flush())
            return;
        list.close();
        MainServices s(platform::AppInfo(), m_messages, m_settings, m_prober, m_sound, m_dialogs);
        s.app.Path = m_dir.path();
        m_window = std::make_unique<frmMain>(s);
        m_window->Form_Load();
        m_window->show();
        QCoreApplication::processEvents();
        if (m_window->lstPings->count() != addresses.size())
            m_window.reset();
    }

    bool ready() const { return m_window != nullptr; }
    frmMain& window() { return *m_window; }

    // Runs one sweep and returns how long it took until nothing was outstanding, in
    // milliseconds; -1 if it had not ended within limitMs.
    double sweep(bool allAtOnce, int limitMs)
    {
        Sweep& sweep = m_window->sweep();
        sweep.setAllAtOnce(allAtOnce);
        QEventLoop loop;
        QObject::connect(&sweep, &Sweep::idle, &loop, &QEventLoop::quit);
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        m_window->PingList();
        if (!sweep.isIdle()) {
            limit.start(limitMs);
            loop.exec();
        }
        const qint64 ns = t.nsecsElapsed();
        if (!sweep.isIdle()) {
            sweep.abandon();
            return -1;
        }
        return double(ns) / 1e6;
    }

    // Rows whose status column is not the given text.
    int rowsOtherThan(const QString& status) const
    {
        int other = 0;
        for (int row = 1; row <= m_window->lstPings->count(); ++row)
            other += m_window->lstPings->subText(row, StatusCol) != status;
        return other;
    }

private:
    QTemporaryDir m_dir;
    SilentMessages m_messages;
    platform::SettingsStore m_settings;
    IcmpProber m_prober;
    NoSound m_sound;
    NoDialogs m_dialogs;
    std::unique_ptr<frmMain> m_window;
};

void printSkipped(const char* name, const QString& why)
{
    std::printf("%s: skipped (%s)\n", name, qPrintable(why));
}

void printMs(const char* name, double ms)
{
    std::printf("%s: %.1f ms\n", name, ms);
}

void loopback()
{
    // 127.0.0.1 to 127.0.3.232.
    QStringList addresses;
    for (int n = 1; n <= 1000; ++n)
        addresses.append(QStringLiteral("127.0.%1.%2").arg(n / 256).arg(n % 256));
    const struct
    {
        const char* name;
        bool allAtOnce;
    } modes[] = {{"sweep_1000_loopback_ms", false}, {"sweep_1000_loopback_all_at_once_ms", true}};
    for (const auto& mode : modes) {
        Bench bench(addresses);
        if (!bench.ready()) {
            printSkipped(mode.name, QStringLiteral("the window could not load the host list"));
            continue;
        }
        const double ms = bench.sweep(mode.allAtOnce, 30000);
        const int failed = bench.rowsOtherThan(QStringLiteral("OK"));
        if (ms < 0)
            printSkipped(mode.name, QStringLiteral("the sweep had not ended after 30 s"));
        else if (failed == int(addresses.size()))
            // The first row's tooltip says why, e.g. that this user may not send ICMP.
            printSkipped(mode.name,
                         QStringLiteral("no host answered: %1").arg(bench.window().lstPings->subToolTip(1, StatusCol)));
        else
            printMs(mode.name, ms);
        if (failed && failed < int(addresses.size()))
            std::printf("%s_failed_probes: %d\n", mode.name, failed);
    }
}

// How late a 10 ms heartbeat gets while a one-at-a-time sweep waits for the hosts, which
// must all time out.
void stallWhileSweeping(const QStringList& hosts, const char* stallName, const char* sweepName, const char* beatsName)
{
    const QString timedOut = QStringLiteral("11010: Request Timed Out");
    Bench bench(hosts);
    if (!bench.ready()) {
        printSkipped(stallName, QStringLiteral("the window could not load the host list"));
        return;
    }
    // The heartbeat runs only while the sweep does; its worst lateness is how long the window
    // could not answer.
    QElapsedTimer clock;
    qint64 lastNs = -1;
    qint64 worstNs = 0;
    int beats = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(10);
    QObject::connect(&heartbeat, &QTimer::timeout, &heartbeat, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastNs >= 0)
            worstNs = std::max(worstNs, now - lastNs - 10'000'000);
        lastNs = now;
        ++beats;
    });
    clock.start();
    heartbeat.start();
    const double ms = bench.sweep(false, 15000);
    heartbeat.stop();
    const int wrong = bench.rowsOtherThan(timedOut);
    if (ms < 0) {
        printSkipped(stallName, QStringLiteral("the sweep had not ended after 15 s"));
    } else if (wrong) {
        printSkipped(stallName, QStringLiteral("%1 of %2 silent hosts did not time out").arg(wrong).arg(hosts.size()));
    } else {
        printMs(stallName, double(worstNs) / 1e6);
        printMs(sweepName, ms);
        std::printf("%s: %d\n", beatsName, beats);
    }
}

const char* const kNamesStall = "ui_stall_max_ms_names";
const char* const kNamesOption = "--stall-with-names";

QStringList silentNames(int n)
{
    QStringList names;
    for (int i = 0; i < n; ++i)
        names.append(QStringLiteral("silent%1.lab").arg(i + 1));
    return names;
}

// Runs inside the prober's namespace (ip netns exec), so the endpoint and every lookup are there.
void stallWithNames()
{
    stallWhileSweeping(silentNames(5), kNamesStall, "sweep_5_silent_names_ms", "ui_stall_names_heartbeats");
}

// Hosts that never answer, behind a router in namespaces of our own. The process's ICMP
// endpoint is opened again inside the prober's namespace, so the window probes from there.
void silentHosts()
{
    const char* const stallName = "ui_stall_max_ms";
    const char* const allName = "sweep_20_silent_all_at_once_ms";
    const auto skipBoth = [&](const QString& why) {
        printSkipped(stallName, why);
        printSkipped(allName, why);
    };
    const QString unavailable = NetLab::unavailableReason();
    if (!unavailable.isEmpty()) {
        skipBoth(unavailable);
        return;
    }
    // Deleted again when it goes out of scope, whatever happened; a run that was killed
    // leaves namespaces the next run removes.
    NetLab lab(QStringLiteral("bench"));
    QStringList silent;
    for (int n = 0; n < 20; ++n)
        silent.append(QStringLiteral("198.18.1.%1").arg(100 + n));
    if (!lab.buildProbeNetwork() || !lab.addHostAddresses(silent)) {
        skipBoth(QStringLiteral("the namespaces could not be built: ") + lab.error());
        return;
    }
    const std::shared_ptr<mdlPing::detail::IcmpCore>& endpoint = mdlPing::detail::IcmpCore::process();
    endpoint->reset(endpoint->kind());
    int openError = -1;
    if (!lab.runIn(QStringLiteral("P"), [&] { openError = endpoint->open(); }) || openError != 0) {
        skipBoth(QStringLiteral("no ICMP endpoint in the namespace: ") +
                 (openError > 0 ? qt_error_string(openError) : lab.error()));
        return;
    }
    const QString timedOut = QStringLiteral("11010: Request Timed Out");

    stallWhileSweeping(silent.mid(0, 5), stallName, "sweep_5_silent_ms", "ui_stall_heartbeats");
    {
        Bench bench(silent);
        if (!bench.ready()) {
            printSkipped(allName, QStringLiteral("the window could not load the host list"));
        } else {
            const double ms = bench.sweep(true, 10000);
            const int wrong = bench.rowsOtherThan(timedOut);
            if (ms < 0)
                printSkipped(allName, QStringLiteral("the sweep had not ended after 10 s"));
            else if (wrong)
                printSkipped(allName, QStringLiteral("%1 of 20 silent hosts did not time out").arg(wrong));
            else
                printMs(allName, ms);
        }
    }

    // The names live in the namespace's hosts file; its resolver is its own loopback, so
    // no lookup leaves it. A process of its own, started by ip netns exec, sees both.
    QStringList hosts;
    const QStringList names = silentNames(5);
    for (int i = 0; i < names.size(); ++i)
        hosts.append(silent[i] + QLatin1Char(' ') + names[i]);
    if (!lab.setNameService(QStringLiteral("P"), hosts)) {
        printSkipped(kNamesStall, lab.error());
        return;
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), lab.name(QStringLiteral("P")),
                                       QCoreApplication::applicationFilePath(), QString::fromLatin1(kNamesOption)});
    if (!child.waitForFinished(30000) || child.exitCode() != 0) {
        child.kill();
        child.waitForFinished();
        printSkipped(kNamesStall, QStringLiteral("the sweep in the namespace did not end"));
        return;
    }
    std::fputs(child.readAllStandardOutput().constData(), stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], kNamesOption) == 0) {
        stallWithNames();
        return 0;
    }
    loopback();
    silentHosts();
    return 0;
}
