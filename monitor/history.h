#pragma once

#include <QVector>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

namespace monitor {

enum class HostState : std::uint8_t
{
    Unknown,
    Up,
    Down,
    Degraded // up, but losing or slow over the recent probes
};

// What one probe of a host gave, as the history keeps it.
enum class SampleKind : std::uint8_t
{
    Reply,    // answered; rttUs holds the round trip
    TimedOut, // no answer in time
    Failed,   // an error came back (unreachable and the like)
    NotSent,  // no request could be sent at all
};

struct HistoryPoint
{
    qint64 atMs = 0; // when the sweep that took it began, ms since the epoch
    SampleKind kind = SampleKind::Reply;
    qint64 rttUs = -1; // the round trip to within RttPrecision; -1 unless kind is Reply
};

struct StateEvent
{
    qint64 atMs = 0; // when the new state began
    HostState state = HostState::Unknown;
    std::int32_t status = 0; // the probe's status that made the change
};

// The results of every host for a long stretch of sweeps, in bounded memory.
//
// Each sweep is a column stamped with the time of its first result; every host has one byte per
// column: the outcome's kind, or the round trip on a logarithmic scale (to within RttPrecision).
// A day at one sweep a second is 86,400 bytes a host. The columns kept are as many as the byte
// budget allows for the hosts there are, at least MinColumns and at most MaxColumns; the oldest
// go first. State changes are kept apart, a bounded number per host.
//
// Hosts are slots handed out by addHost(); a removed slot is given out again.
class HostHistory
{
public:
    static constexpr std::size_t DefaultBudgetBytes = std::size_t(96) << 20;
    static constexpr qint64 MinColumns = 1800;          // half an hour at one sweep a second
    static constexpr qint64 MaxColumns = 7 * 86400;     // a week
    static constexpr std::size_t EventBudget = 1 << 19; // state changes kept over all hosts
    static constexpr int MinEventsPerHost = 16;
    static constexpr int MaxEventsPerHost = 1024;
    static constexpr double RttPrecision = 0.035; // relative error of a kept round trip; exact below 32 us

    explicit HostHistory(std::size_t budgetBytes = DefaultBudgetBytes);
    ~HostHistory();
    HostHistory(const HostHistory&) = delete;
    HostHistory& operator=(const HostHistory&) = delete;

    int addHost();
    void removeHost(int slot);
    // Forgets every result and event; the hosts stay.
    void clearResults();
    // Forgets everything, hosts too.
    void clear();

    // Adds one result of the host to the open column, opening one stamped atMs when none is open
    // or when the host already has a result in it.
    void add(int slot, qint64 atMs, std::int32_t status, qint64 rttUs);
    // The sweep is over: the next result opens a new column.
    void closeColumn() { m_open = false; }
    void addEvent(int slot, const StateEvent& event);

    // The host's results, oldest first, from fromMs on (column times).
    QVector<HistoryPoint> points(int slot, qint64 fromMs = 0) const;
    // The host's state changes, oldest first.
    QVector<StateEvent> events(int slot) const;

    int hostCount() const { return m_hosts; }
    // How many columns are kept now, and how many columns hold results.
    qint64 capacity() const;
    qint64 columnsKept() const;
    // Time of the oldest column still kept, or 0 when there is none.
    qint64 oldestMs() const;

    static std::uint8_t encode(std::int32_t status, qint64 rttUs);
    static HistoryPoint decode(std::uint8_t code);

private:
    // Rings are mapped from the system directly: their pages are zero and only take memory
    // once written. From the heap, every ring would be cleared at once, which for a thousand
    // hosts stalls the first sweep for a tenth of a second.
    struct FreeRing
    {
        std::size_t bytes; // value-initialised to 0 with an empty ring
        void operator()(std::uint8_t* p) const;
    };
    using Ring = std::unique_ptr<std::uint8_t[], FreeRing>;

    struct Host
    {
        bool used = false;
        qint64 firstColumn = 0; // results before this column belong to an earlier host
        qint64 lastColumn = -1; // the newest column this host has a result in
        Ring ring;
        std::deque<StateEvent> events;
    };

    void layout();
    void openColumn(qint64 atMs);
    qint64 wantedCapacity() const;
    int eventsPerHost() const;
    static Ring allocateRing(qint64 columns);

    std::size_t m_budget;
    std::vector<Host> m_slots;
    std::vector<int> m_free;
    int m_hosts = 0;
    qint64 m_capacity = 0;       // columns in every ring; 0 until the first result
    std::vector<qint64> m_times; // column start times, ring of m_capacity
    qint64 m_columns = 0;        // columns ever opened since the last clear
    bool m_open = false;
    int m_laidOutHosts = -1; // the host count the rings were last sized for
};

} // namespace monitor
