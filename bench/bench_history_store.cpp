// The history on disk: the window thread's share of writing a sweep of 1,000 hosts, the bytes a
// sample takes in the file after a day, the time that day takes to write, opening a week of
// one-a-second samples (query and first paint), and the longest stall of the window's event loop
// while the writer commits and rolls up. An argument writes that many sweeps instead of a day.

#include "app/historyview.h"
#include "monitor/historystore.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
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

    // A day of 1,000 hosts at one sweep a second, written in compressed time through the store's
    // own code: the caller's cost per sweep, the file's bytes per sample, the day's writing time.
    // Then half an hour more, paced in real time, for the event loop's longest stall while the
    // writer commits and rolls up on a day-sized file.
    {
        const qint64 daySweeps = argc > 1 ? std::max(60LL, QByteArray(argv[1]).toLongLong()) : Day / 1000;
        const qint64 start = (QDateTime::currentMSecsSinceEpoch() - 2 * Day) / Day * Day;
        std::atomic<qint64> now{start};
        monitor::HistoryLimits limits;
        limits.maxBytes = qint64(1) << 40; // the whole day stays, so that the figure is the file's own
        const QString path = dir.filePath(QStringLiteral("day.sqlite"));
        monitor::HistoryStore store(path, limits, [&] { return now.load(); });
        const auto sweep = [&](qint64 s) {
            const qint64 at = start + s * 1000;
            now = at;
            for (int k = 0; k < Hosts; ++k) {
                const bool silent = (s + k * 37) % 3600 < 6;
                store.add(names[k], addresses[k], at + k, silent ? 11010 : 0, 200 + (k * 7919 + s * 31) % 4800);
            }
            store.endSweep();
        };

        QElapsedTimer dayClock;
        dayClock.start();
        QElapsedTimer clock;
        qint64 dayCallerNs = 0;
        for (qint64 s = 0; s < daySweeps; ++s) {
            clock.start();
            sweep(s);
            dayCallerNs += clock.nsecsElapsed();
            // The writer takes what is queued in one transaction; waiting now and then keeps the
            // queue (and the bench's memory) bounded, as a second of real time does.
            if (s % 300 == 299)
                store.sync();
        }
        now = start + daySweeps * 1000 + 5 * Minute;
        store.maintainNow();
        const double dayS = double(dayClock.nsecsElapsed()) / 1e9;
        const qint64 used = store.usedBytes();
        qint64 kept = 0;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-count"));
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(QStringLiteral("SELECT count(*) FROM samples")) && q.next())
                    kept = q.value(0).toLongLong();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bench-count"));
        const qint64 written = daySweeps * Hosts;
        std::printf("history_day_write_s: %.1f s\n", dayS);
        std::printf("history_day_samples_written: %lld samples\n", static_cast<long long>(written));
        std::printf("history_day_samples_kept: %lld samples\n", static_cast<long long>(kept));
        std::printf("history_day_db_bytes: %lld bytes\n", static_cast<long long>(used));
        std::printf("history_day_write_per_sweep_ms: %.3f ms\n", double(dayCallerNs) / double(daySweeps) / 1e6);
        std::printf("history_db_bytes_per_sample: %.1f bytes\n", double(used) / double(std::max<qint64>(1, kept)));

        constexpr int Paced = 1800;
        qint64 callerNs = 0;
        qint64 maxStallMs = 0;
        QElapsedTimer tick;
        tick.start();
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] { maxStallMs = std::max(maxStallMs, tick.restart()); });
        ticker.start();
        const qint64 rolledBefore = store.rolledUpTo(monitor::RollupLevel::Minute);
        for (qint64 s = daySweeps + 6 * 60; s < daySweeps + 6 * 60 + Paced; ++s) {
            clock.start();
            sweep(s);
            callerNs += clock.nsecsElapsed();
            // The window's loop runs between sweeps, as it does between the probes' outcomes.
            tick.restart();
            const qint64 until = QDateTime::currentMSecsSinceEpoch() + 2;
            while (QDateTime::currentMSecsSinceEpoch() < until)
                app.processEvents(QEventLoop::AllEvents, 1);
        }
        ticker.stop();
        store.sync();
        const qint64 rolledMinutes = (store.rolledUpTo(monitor::RollupLevel::Minute) - rolledBefore) / Minute;
        std::printf("history_write_1000_hosts_per_sweep_ms: %.3f ms\n", double(callerNs) / Paced / 1e6);
        std::printf("ui_stall_max_ms: %lld ms\n", static_cast<long long>(maxStallMs));
        std::printf("ui_stall_minutes_rolled_up: %lld minutes\n", static_cast<long long>(rolledMinutes));
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
        // What an open History window does after each sweep: the slice of the last 6 hours
        // (21,600 raw samples) read again and painted, on the window's thread.
        constexpr int Refreshes = 10;
        clock.start();
        for (int i = 0; i < Refreshes; ++i) {
            monitor::HistorySlice slice = store.slice(names[0], addresses[0], end - 6 * Hour, end);
            plot.setData(std::move(slice.points), std::move(slice.rollups), std::move(slice.events), end - 6 * Hour,
                         end);
            plot.grab();
        }
        std::printf("history_refresh_6h_ms: %.1f ms\n", double(clock.nsecsElapsed()) / 1e6 / Refreshes);
        if (first.isNull())
            return 1;
    }
    return 0;
}
