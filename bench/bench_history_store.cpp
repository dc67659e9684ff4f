// The history on disk: the window thread's share of writing a sweep of 1,000 hosts, the bytes a
// sample takes in the file, opening a week of one-a-second samples (query and first paint), and
// the longest stall of the window's event loop while the writer works.

#include "app/historyview.h"
#include "monitor/historystore.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

constexpr qint64 Minute = 60000;
constexpr qint64 Hour = 60 * Minute;
constexpr qint64 Day = 24 * Hour;

QString hostName(int k)
{
    return QStringLiteral("host %1").arg(k + 1);
}

QString hostAddress(int k)
{
    return QStringLiteral("10.0.%1.%2").arg(k / 256).arg(k % 256);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    constexpr int Hosts = 1000;
    QStringList names;
    QStringList addresses;
    for (int k = 0; k < Hosts; ++k) {
        names << hostName(k);
        addresses << hostAddress(k);
    }

    // 1,000 hosts, one sweep a second in compressed time: the caller's cost per sweep, the file's
    // bytes per sample, and the event loop's longest stall meanwhile.
    {
        const qint64 start = QDateTime::currentMSecsSinceEpoch() - Day;
        std::atomic<qint64> now{start};
        monitor::HistoryStore store(dir.filePath(QStringLiteral("day.sqlite")), {}, [&] { return now.load(); });
        constexpr int Sweeps = 1800;
        qint64 callerNs = 0;
        qint64 maxStallMs = 0;
        QElapsedTimer tick;
        tick.start();
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] { maxStallMs = std::max(maxStallMs, tick.restart()); });
        ticker.start();
        QElapsedTimer clock;
        for (int s = 0; s < Sweeps; ++s) {
            const qint64 at = start + qint64(s) * 1000;
            now = at;
            clock.start();
            for (int k = 0; k < Hosts; ++k) {
                const bool silent = (s + k * 37) % 3600 < 6;
                store.add(names[k], addresses[k], at + k, silent ? 11010 : 0, 200 + (k * 7919 + s * 31) % 4800);
            }
            store.endSweep();
            callerNs += clock.nsecsElapsed();
            // The window's loop runs between sweeps, as it does between the probes' outcomes.
            tick.restart();
            const qint64 until = QDateTime::currentMSecsSinceEpoch() + 2;
            while (QDateTime::currentMSecsSinceEpoch() < until)
                app.processEvents(QEventLoop::AllEvents, 1);
        }
        ticker.stop();
        store.sync();
        now = start + Sweeps * 1000 + 5 * Minute;
        store.maintainNow();
        std::printf("history_write_1000_hosts_per_sweep_ms: %.3f ms\n", double(callerNs) / Sweeps / 1e6);
        std::printf("history_db_bytes_per_sample: %.1f bytes\n", double(store.usedBytes()) / (double(Sweeps) * Hosts));
        std::printf("ui_stall_max_ms: %lld ms\n", static_cast<long long>(maxStallMs));
    }

    // A week of one host at one sample a second, then the week's view: query and first paint.
    {
        const qint64 end = QDateTime::currentMSecsSinceEpoch() / Minute * Minute;
        const qint64 start = end - 7 * Day;
        std::atomic<qint64> now{start};
        monitor::HistoryStore store(dir.filePath(QStringLiteral("week.sqlite")), {}, [&] { return now.load(); });
        for (qint64 t = start; t < end; t += 1000) {
            store.add(names[0], addresses[0], t, (t / 1000) % 900 ? 0 : 11010, 300 + (t / 1000) % 500);
            if ((t / 1000) % 3600 == 0)
                store.endSweep();
        }
        now = end;
        store.maintainNow();
        QElapsedTimer clock;
        clock.start();
        const qint64 minuteDone = store.rolledUpTo(monitor::RollupLevel::Minute);
        HistoryPlot plot;
        plot.resize(760, 300);
        plot.setData(store.samples(names[0], addresses[0], minuteDone, end),
                     store.rollups(names[0], addresses[0], monitor::RollupLevel::Minute, start, minuteDone),
                     store.events(names[0], addresses[0], start, end), start, end);
        const QImage first = plot.grab().toImage();
        const double openMs = double(clock.nsecsElapsed()) / 1e6;
        clock.start();
        constexpr int Repaints = 20;
        for (int i = 0; i < Repaints; ++i)
            plot.grab();
        std::printf("history_open_week_ms: %.1f ms\n", openMs);
        std::printf("history_repaint_week_ms: %.1f ms\n", double(clock.nsecsElapsed()) / 1e6 / Repaints);
        if (first.isNull())
            return 1;
    }
    return 0;
}
