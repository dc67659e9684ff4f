#pragma once

#include "monitor/history.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace monitor {

// How long each kind of row is kept, and how large the file may grow.
struct HistoryLimits
{
    static constexpr qint64 Day = 86400000;
    static constexpr qint64 Megabyte = qint64(1) << 20;
    static constexpr int MaxDays = 36500;
    static constexpr int MinMegabytes = 16; // below that the cap would drop the last hour
    static constexpr int MaxMegabytes = 1 << 24;
    qint64 rawMs = 7 * Day;
    qint64 minuteMs = 90 * Day;
    qint64 hourMs = 730 * Day;
    qint64 maxBytes = 1024 * Megabyte;
    // Outcomes the writer may fall behind by (a disk that hangs) before the oldest are dropped.
    qint64 maxQueuedRows = 1 << 20;

    // The limits as people give them, in days and megabytes; nothing when one is out of range
    // (1..MaxDays, MinMegabytes..MaxMegabytes).
    static std::optional<HistoryLimits> of(int rawDays, int minuteDays, int hourDays, int maxMegabytes);
    bool operator==(const HistoryLimits&) const = default;
};

// One minute or one hour of a host's samples.
struct HistoryRollup
{
    qint64 atMs = 0;   // start of the minute or hour
    qint64 spanMs = 0; // 60,000 or 3,600,000
    qint64 sent = 0;
    qint64 received = 0;
    qint64 minUs = -1; // -1 without a reply
    qint64 avgUs = -1;
    qint64 maxUs = -1;
    std::int32_t status = 0; // the status seen most
};

enum class RollupLevel
{
    Minute,
    Hour
};

// What a view of a span needs: raw samples where there are few enough of them and they are
// still kept, roll-ups elsewhere, and the state changes.
struct HistorySlice
{
    QVector<HistoryPoint> points;   // oldest first
    QVector<HistoryRollup> rollups; // oldest first; before the points
    QVector<StateEvent> events;     // oldest first
};

// Every probe's outcome on disk, in one SQLite file, so that history outlives the program.
//
// add() and endSweep() only queue: the file is written by a thread of the store's own, one
// transaction per second at most, so the caller's thread (the window's) never waits for the disk.
// The writer also rolls samples up into minutes and hours, drops rows past their retention and
// keeps the file under its size cap by dropping the oldest raw samples first.
//
// Faults never stop the caller: a file that cannot be opened leaves the store off (failed()
// says why, once); a write that fails (a full disk) is told once, and writing goes on by itself
// when it works again (resumed()). A damaged file is moved aside, never overwritten.
class HistoryStore : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>;

    // Opens (or makes) the file at once; see isOpen(). The clock dates roll-ups and retention;
    // empty: the system's.
    explicit HistoryStore(const QString& path, HistoryLimits limits = {}, Clock clock = {}, QObject* parent = nullptr);
    // The file at path for reading only: never made, changed or moved aside, and without a
    // writer (add() does nothing). See isOpen() and openError().
    static std::unique_ptr<HistoryStore> openForReading(const QString& path);
    // Writes what is queued, then stops the writer.
    ~HistoryStore() override;
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    QString path() const { return m_path; }
    const HistoryLimits& limits() const { return m_limits; }
    bool isOpen() const { return m_open; }
    // Why the file could not be opened (empty when it was), and where a damaged one went.
    QString openError() const { return m_openError; }
    QString movedAsideTo() const { return m_movedAside; }

    // From one thread only. rttUs < 0: no reply.
    void add(const QString& name, const QString& address, qint64 atMs, std::int32_t status, qint64 rttUs);
    void addEvent(const QString& name, const QString& address, const StateEvent& event);
    // Hands the sweep's rows to the writer.
    void endSweep();
    // Waits until everything handed over is on disk (tests, the end of the program).
    void sync();
    // Rolls up, drops what is past retention and enforces the size cap now, then waits.
    void maintainNow();

    // Reading, from the thread that made the store. Ranges are [fromMs, toMs). Samples and state
    // changes include what was added and is not on disk yet, so a view shows the latest sweep.
    // Every host the file knows, as (name, address), ordered by name.
    QVector<QPair<QString, QString>> hosts() const;
    // The span as a view shows it: raw samples up to RawSpanMs when they cover the span's
    // start, minute roll-ups up to MinuteSpanMs, hour roll-ups beyond, and raw samples again for
    // the latest minutes not rolled up yet.
    static constexpr qint64 RawSpanMs = 6 * 3600000LL;
    static constexpr qint64 MinuteSpanMs = 14 * HistoryLimits::Day;
    HistorySlice slice(const QString& name, const QString& address, qint64 fromMs, qint64 toMs) const;
    QVector<HistoryPoint> samples(const QString& name, const QString& address, qint64 fromMs, qint64 toMs) const;
    QVector<HistoryRollup> rollups(const QString& name, const QString& address, RollupLevel level, qint64 fromMs,
                                   qint64 toMs) const;
    QVector<StateEvent> events(const QString& name, const QString& address, qint64 fromMs, qint64 toMs) const;
    // The time of the host's oldest raw sample; the largest time there is without one.
    qint64 oldestSample(const QString& name, const QString& address) const;
    // Up to where minutes (hours) are rolled up: samples before this are in the roll-ups.
    qint64 rolledUpTo(RollupLevel level) const;
    // Bytes the file's pages in use take.
    qint64 usedBytes() const;

Q_SIGNALS:
    // Writing stopped; why, in a sentence. Told once until a write works again. From the writer.
    void failed(const QString& why);
    void resumed();

private:
    struct ReadOnly
    {
    };
    HistoryStore(ReadOnly, const QString& path);

    struct Row
    {
        QString name;
        QString address;
        qint64 atMs;
        std::int32_t status;
        qint64 rttUs;
        int state; // -1: a sample; else a state change to this HostState
    };

    struct Pending
    {
        QVector<HistoryPoint> points;
        QVector<StateEvent> events;
    };

    void run();
    // The host's rows not on disk yet, in [fromMs, toMs), sorted.
    Pending pending(const QString& name, const QString& address, qint64 fromMs, qint64 toMs) const;
    QVector<HistoryPoint> querySamples(qint64 id, qint64 fromMs, qint64 toMs) const;
    QVector<HistoryRollup> queryRollups(qint64 id, RollupLevel level, qint64 fromMs, qint64 toMs) const;
    QVector<StateEvent> queryEvents(qint64 id, qint64 fromMs, qint64 toMs) const;
    qint64 oldestSampleOf(qint64 id) const;
    template <typename T, typename Make>
    QVector<T> hostRows(const char* columns, const char* table, qint64 id, qint64 fromMs, qint64 toMs, Make make) const;
    bool openOnWriter();
    bool write(const std::vector<Row>& rows);
    void maintain();
    void rollUp(RollupLevel level, qint64 upToMs);
    void enforceCap();
    qint64 hostId(const QString& name, const QString& address, bool create);
    qint64 readHostId(const QString& name, const QString& address) const;
    qint64 now() const;
    QString readConnection() const;

    QString m_path;
    HistoryLimits m_limits;
    Clock m_clock;
    QString m_writerName;
    bool m_open = false;
    QString m_openError;
    QString m_movedAside;
    bool m_failing = false;
    qint64 m_lastMaintainMs = 0;
    QHash<QString, qint64> m_ids; // writer's: "name\naddress" -> hosts.id

    std::vector<Row> m_local; // the caller's sweep so far
    std::condition_variable m_wake;
    std::condition_variable m_done;
    mutable std::mutex m_mutex;
    std::vector<Row> m_queue;
    // The writer's batch, until it is on disk (or dropped): readers find its rows here meanwhile.
    std::vector<Row> m_writing;
    bool m_dropped = false;  // rows were dropped from a full queue; told once until a write works
    quint64 m_requested = 0; // sync requests made
    quint64 m_served = 0;    // sync requests done
    bool m_maintainAsked = false;
    bool m_stop = false;
    bool m_started = false;
    std::thread m_thread;
};

} // namespace monitor
