// Probe cost on loopback (the probe's own overhead, since the network adds nothing: the
// endpoint is opened once, as the programs do) and how long a probe of a host that never
// answers really takes.

#include "probe/icmpcore.h"
#include "probe/icmpengine.h"
#include "probe/mdlping.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long percentile(std::vector<long long> values, int percent)
{
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(percent / 100.0 * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

// The median and 99th percentile of kProbes loopback probes through the endpoint, printed
// under name; the reason instead when they fail.
void loopbackThrough(mdlPing::detail::IcmpCore* endpoint, const char* name)
{
    constexpr int kProbes = 1000;
    std::vector<long long> micros;
    micros.reserve(kProbes);
    mdlPing::ICMP_ECHO_REPLY reply;
    for (int i = 0; i < kProbes; ++i) {
        const Clock::time_point start = Clock::now();
        const mdlPing::Outcome outcome = endpoint
                                             ? mdlPing::detail::probeHost(*endpoint, QStringLiteral("127.0.0.1"), reply)
                                             : mdlPing::Probe(QStringLiteral("127.0.0.1"), reply);
        const Clock::time_point end = Clock::now();
        const std::int32_t status = outcome.status;
        if (status != 0) {
            const QString reason = status == -1 ? outcome.reason : mdlPing::GetStatusText(status);
            std::printf("%s_p50_us: skipped (%s)\n", name, qPrintable(reason));
            std::printf("%s_p99_us: skipped (%s)\n", name, qPrintable(reason));
            return;
        }
        micros.push_back(std::chrono::duration_cast<std::chrono::microseconds>(end - start).count());
    }
    std::printf("%s_p50_us: %lld us\n", name, percentile(micros, 50));
    std::printf("%s_p99_us: %lld us\n", name, percentile(micros, 99));
}

void loopback()
{
    loopbackThrough(nullptr, "probe_loopback");
}

// The same through the engine the window uses: each probe started from the previous one's
// outcome, so every figure includes the event loop's part.
void engineLoopback()
{
    constexpr int kProbes = 1000;
    mdlPing::IcmpEngine engine;
    std::vector<long long> micros;
    micros.reserve(kProbes);
    QElapsedTimer timer;
    QString failure;
    QObject::connect(&engine, &mdlPing::IcmpEngine::finished, &engine, [&](quint64, const mdlPing::Outcome& outcome) {
        micros.push_back(timer.nsecsElapsed() / 1000);
        if (outcome.status != 0) {
            failure = outcome.status == -1 ? outcome.reason : mdlPing::GetStatusText(outcome.status);
            QCoreApplication::exit(0);
        } else if (micros.size() == kProbes) {
            QCoreApplication::exit(0);
        } else {
            timer.start();
            engine.start(QStringLiteral("127.0.0.1"));
        }
    });
    timer.start();
    engine.start(QStringLiteral("127.0.0.1"));
    QCoreApplication::exec();
    if (!failure.isEmpty()) {
        std::printf("probe_engine_loopback_p50_us: skipped (%s)\n", qPrintable(failure));
        std::printf("probe_engine_loopback_p99_us: skipped (%s)\n", qPrintable(failure));
        return;
    }
    std::printf("probe_engine_loopback_p50_us: %lld us\n", percentile(micros, 50));
    std::printf("probe_engine_loopback_p99_us: %lld us\n", percentile(micros, 99));
}

bool run(const QStringList& args)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), args);
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

// Two namespaces joined by a veth pair; the far one's kernel ignores echo requests.
void silent()
{
    if (::geteuid() != 0) {
        std::printf("probe_silent_ms: skipped (needs root for network namespaces)\n");
        return;
    }
    const QString prober = QStringLiteral("tvbench%1p").arg(::getpid());
    const QString host = QStringLiteral("tvbench%1h").arg(::getpid());
    const QString ns = QStringLiteral("netns");
    auto split = [](const char* text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
    const bool built = run({ns, QStringLiteral("add"), prober}) && run({ns, QStringLiteral("add"), host}) &&
                       run(QStringList{QStringLiteral("-n"), prober} +
                           split("link add b0 type veth peer name b1 netns") + QStringList{host}) &&
                       run(QStringList{QStringLiteral("-n"), prober} + split("addr add 198.18.0.1/24 dev b0")) &&
                       run(QStringList{QStringLiteral("-n"), host} + split("addr add 198.18.0.2/24 dev b1")) &&
                       run(QStringList{QStringLiteral("-n"), prober} + split("link set b0 up")) &&
                       run(QStringList{QStringLiteral("-n"), host} + split("link set b1 up")) &&
                       run(QStringList{ns, QStringLiteral("exec"), host, QStringLiteral("sysctl"),
                                       QStringLiteral("-qw"), QStringLiteral("net.ipv4.icmp_echo_ignore_all=1")});

    long long elapsed = -1;
    if (built) {
        // Only this thread enters the namespace.
        std::thread([&] {
            const int fd = ::open(qPrintable(QStringLiteral("/run/netns/") + prober), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
                return;
            ::close(fd);
            // The process's endpoint lives in the namespace it was opened in; this one in P.
            mdlPing::detail::IcmpCore endpoint;
            if (endpoint.open() != 0)
                return;
            mdlPing::ICMP_ECHO_REPLY reply;
            const Clock::time_point start = Clock::now();
            if (mdlPing::detail::pingHost(endpoint, QStringLiteral("198.18.0.2"), reply) == 11010)
                elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        }).join();
    }
    run({ns, QStringLiteral("delete"), host});
    run({ns, QStringLiteral("delete"), prober});

    if (elapsed < 0)
        std::printf("probe_silent_ms: skipped (the test namespaces could not be set up)\n");
    else
        std::printf("probe_silent_ms: %lld ms\n", elapsed);
}

} // namespace

// Each path on its own, in a namespace of its own where datagram sockets are allowed or not:
// loopback probes through the datagram socket and through the helper, and the start-up of
// tivane-probe for one host on either path (the median of several runs).
void paths()
{
    const char* const names[] = {"probe_loopback_datagram_p50_us", "probe_loopback_datagram_p99_us",
                                 "probe_loopback_helper_p50_us",   "probe_loopback_helper_p99_us",
                                 "probe_tool_startup_datagram_ms", "probe_tool_startup_helper_ms"};
    if (::geteuid() != 0) {
        for (const char* name : names)
            std::printf("%s: skipped (needs root for network namespaces)\n", name);
        return;
    }
    const QString lab = QStringLiteral("tvbench%1l").arg(::getpid());
    const QString ns = QStringLiteral("netns");
    auto setRange = [&](const char* range) {
        return run({ns, QStringLiteral("exec"), lab, QStringLiteral("sysctl"), QStringLiteral("-qw"),
                    QStringLiteral("net.ipv4.ping_group_range=") + QLatin1String(range)});
    };
    if (!run({ns, QStringLiteral("add"), lab}) ||
        !run({QStringLiteral("-n"), lab, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
              QStringLiteral("up")}) ||
        !setRange("0 2147483647")) {
        run({ns, QStringLiteral("delete"), lab});
        for (const char* name : names)
            std::printf("%s: skipped (the namespace could not be set up)\n", name);
        return;
    }
    std::thread([&] {
        const int fd = ::open(qPrintable(QStringLiteral("/run/netns/") + lab), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            return;
        ::close(fd);
        {
            mdlPing::detail::IcmpCore datagram(mdlPing::detail::SocketKind::Datagram);
            mdlPing::detail::IcmpCore helper(mdlPing::detail::SocketKind::Helper);
            datagram.open();
            helper.open();
            loopbackThrough(&datagram, "probe_loopback_datagram");
            loopbackThrough(&helper, "probe_loopback_helper");
        }
        constexpr int kRuns = 21;
        for (const bool datagramAllowed : {true, false}) {
            const char* name = datagramAllowed ? "probe_tool_startup_datagram_ms" : "probe_tool_startup_helper_ms";
            if (!setRange(datagramAllowed ? "0 2147483647" : "1 0")) {
                std::printf("%s: skipped (ping_group_range could not be set)\n", name);
                continue;
            }
            std::vector<long long> micros;
            for (int i = 0; i < kRuns; ++i) {
                QProcess tool;
                const Clock::time_point start = Clock::now();
                tool.start(QStringLiteral(TIVANE_PROBE_TOOL), {QStringLiteral("127.0.0.1")});
                if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
                    break;
                micros.push_back(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
            }
            if (micros.size() != kRuns)
                std::printf("%s: skipped (tivane-probe failed)\n", name);
            else
                std::printf("%s: %.1f ms\n", name, double(percentile(micros, 50)) / 1000.0);
        }
    }).join();
    run({ns, QStringLiteral("delete"), lab});
}

int main(int argc, char* argv[])
{
    if (!mdlPing::SocketsStartup())
        return 1;
    // Opened up front, as the programs do, so no probe pays for it.
    mdlPing::detail::IcmpCore::process()->open();
    QCoreApplication app(argc, argv);
    loopback();
    engineLoopback();
    silent();
    paths();
    mdlPing::SocketsCleanup();
    return 0;
}
