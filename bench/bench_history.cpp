// A simulated day of one sweep a second over 1,000 hosts, fed straight into the statistics and
// states: the memory they end up with (the history is on disk, not here) and the time one
// sweep's results take to add.

#include "bench/resident.h"
#include "monitor/hoststats.h"
#include "probe/statuscodes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <vector>

int main()
{
    constexpr int Hosts = 1000;
    constexpr int Sweeps = 86400;
    constexpr std::int32_t TimedOut = statusCode(Status::TimedOut);

    monitor::HostMonitor model;
    for (int k = 0; k < Hosts; ++k)
        model.setEntry(monitor::HostKey(k + 1), QStringLiteral("host %1").arg(k + 1),
                       QStringLiteral("10.0.%1.%2").arg(k / 256).arg(k % 256));

    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    std::vector<qint64> sweepNs;
    sweepNs.reserve(Sweeps);
    qint64 changes = 0;
    QElapsedTimer clock;
    for (int s = 0; s < Sweeps; ++s) {
        const qint64 at = start + qint64(s) * 1000;
        clock.start();
        for (int k = 0; k < Hosts; ++k) {
            // Every host is silent for six seconds an hour, at its own time, and so goes down
            // and comes back 24 times a day; the others answer in 0.2 to 5 ms.
            const bool silent = (s + k * 37) % 3600 < 6;
            const qint64 rtt = 200 + (qint64(k) * 7919 + qint64(s) * 31) % 4800;
            model.record(monitor::HostKey(k + 1), silent ? TimedOut : 0, rtt, at + k);
        }
        changes += model.endSweep().size();
        sweepNs.push_back(clock.nsecsElapsed());
    }

    // Read back, so nothing of it can be optimised away.
    if (model.stats(1)->sent < quint64(Sweeps) || changes < qint64(Hosts) * 40)
        return 1;

    qint64 total = 0;
    for (qint64 ns : sweepNs)
        total += ns;
    std::sort(sweepNs.begin(), sweepNs.end());
    const double meanUs = double(total) / Sweeps / 1000.0;
    const double p99Us = double(sweepNs[std::size_t(Sweeps * 0.99)]) / 1000.0;

    std::printf("rss_1000_hosts_24h_monitor_mb: %.1f MB\n", residentMegabytes());
    std::printf("monitor_record_sweep_us: %.1f us\n", meanUs);
    std::printf("monitor_record_sweep_p99_us: %.1f us\n", p99Us);
    return 0;
}
