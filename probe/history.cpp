#include "probe/history.h"

#include "probe/statuscodes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace monitor {

namespace {

constexpr std::uint8_t CodeNone = 0;
constexpr std::uint8_t CodeTimedOut = 1;
constexpr std::uint8_t CodeFailed = 2;
constexpr std::uint8_t CodeNotSent = 3;
constexpr std::uint8_t CodeFirstRtt = 4;
// Below 32 us every microsecond has a code of its own; from there up to 10 s the codes left
// follow a logarithmic scale, each step 5.9 % above the one before.
constexpr qint64 ExactBelowUs = 32;
constexpr int CodeFirstScaled = CodeFirstRtt + int(ExactBelowUs);
const double kLogStep = std::log(1e7 / double(ExactBelowUs)) / (255 - CodeFirstScaled);

} // namespace

HostHistory::HostHistory(std::size_t budgetBytes) : m_budget(budgetBytes) {}

HostHistory::~HostHistory() = default;

std::uint8_t HostHistory::encode(std::int32_t status, qint64 rttUs)
{
    if (status == 0) {
        if (rttUs < ExactBelowUs)
            return static_cast<std::uint8_t>(CodeFirstRtt + std::max<qint64>(rttUs, 0));
        const double steps = std::log(double(rttUs) / double(ExactBelowUs)) / kLogStep;
        return static_cast<std::uint8_t>(std::min<long>(std::lround(steps) + CodeFirstScaled, 255));
    }
    if (status == statusCode(Status::TimedOut))
        return CodeTimedOut;
    if (status == statusCode(Status::NotSent))
        return CodeNotSent;
    return CodeFailed;
}

HistoryPoint HostHistory::decode(std::uint8_t code)
{
    HistoryPoint p;
    switch (code) {
    case CodeNone:
    case CodeFailed:
        p.kind = SampleKind::Failed;
        break;
    case CodeTimedOut:
        p.kind = SampleKind::TimedOut;
        break;
    case CodeNotSent:
        p.kind = SampleKind::NotSent;
        break;
    default:
        p.kind = SampleKind::Reply;
        p.rttUs = code < CodeFirstScaled
                      ? qint64(code - CodeFirstRtt)
                      : std::llround(double(ExactBelowUs) * std::exp((code - CodeFirstScaled) * kLogStep));
        break;
    }
    return p;
}

void HostHistory::FreeRing::operator()(std::uint8_t* p) const
{
    if (p)
        munmap(p, bytes);
}

HostHistory::Ring HostHistory::allocateRing(qint64 columns)
{
    const std::size_t bytes = static_cast<std::size_t>(std::max<qint64>(columns, 1));
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return Ring(static_cast<std::uint8_t*>(p), FreeRing{bytes});
}

qint64 HostHistory::wantedCapacity() const
{
    const qint64 perHost = qint64(m_budget / std::size_t(std::max(m_hosts, 1)));
    return std::clamp(perHost, MinColumns, MaxColumns);
}

int HostHistory::eventsPerHost() const
{
    const std::size_t perHost = EventBudget / std::size_t(std::max(m_hosts, 1));
    return int(std::clamp<std::size_t>(perHost, MinEventsPerHost, MaxEventsPerHost));
}

qint64 HostHistory::capacity() const
{
    return m_capacity ? m_capacity : wantedCapacity();
}

qint64 HostHistory::columnsKept() const
{
    return std::min(m_columns, m_capacity);
}

qint64 HostHistory::oldestMs() const
{
    if (m_columns == 0)
        return 0;
    return m_times[std::size_t((m_columns - columnsKept()) % m_capacity)];
}

int HostHistory::addHost()
{
    int slot;
    if (!m_free.empty()) {
        slot = m_free.back();
        m_free.pop_back();
    } else {
        slot = int(m_slots.size());
        m_slots.emplace_back();
    }
    Host& h = m_slots[std::size_t(slot)];
    h.used = true;
    // A host added while a sweep is open may still report into that sweep's column.
    h.firstColumn = m_open ? m_columns - 1 : m_columns;
    h.lastColumn = h.firstColumn - 1;
    h.ring.reset();
    h.events.clear();
    ++m_hosts;
    return slot;
}

void HostHistory::removeHost(int slot)
{
    if (slot < 0 || std::size_t(slot) >= m_slots.size() || !m_slots[std::size_t(slot)].used)
        return;
    Host& h = m_slots[std::size_t(slot)];
    h.used = false;
    h.ring.reset();
    h.events = {};
    m_free.push_back(slot);
    --m_hosts;
}

void HostHistory::clearResults()
{
    for (Host& h : m_slots) {
        h.ring.reset();
        h.events = {};
        h.firstColumn = 0;
        h.lastColumn = -1;
    }
    std::vector<qint64>().swap(m_times);
    m_capacity = 0;
    m_columns = 0;
    m_open = false;
    m_laidOutHosts = -1;
}

void HostHistory::clear()
{
    std::vector<Host>().swap(m_slots);
    std::vector<int>().swap(m_free);
    m_hosts = 0;
    clearResults();
}

void HostHistory::layout()
{
    const qint64 wanted = wantedCapacity();
    if (m_capacity == 0) {
        m_capacity = wanted;
        m_times.assign(std::size_t(m_capacity), 0);
    } else if (wanted < m_capacity || wanted > m_capacity + m_capacity / 4) {
        // More hosts than the rings were sized for would break the budget; far fewer would waste
        // it. Either way the newest columns move into rings of the new size.
        const qint64 keep = std::min({m_columns, m_capacity, wanted});
        const qint64 from = m_columns - keep;
        std::vector<qint64> times(std::size_t(wanted), 0);
        for (qint64 c = from; c < m_columns; ++c)
            times[std::size_t(c % wanted)] = m_times[std::size_t(c % m_capacity)];
        for (Host& h : m_slots) {
            if (!h.used || !h.ring)
                continue;
            auto ring = allocateRing(wanted);
            for (qint64 c = std::max(from, h.firstColumn); c <= h.lastColumn; ++c)
                ring.get()[c % wanted] = h.ring.get()[c % m_capacity];
            h.ring = std::move(ring);
        }
        m_times = std::move(times);
        m_capacity = wanted;
    }
    for (Host& h : m_slots) {
        if (h.used && !h.ring)
            h.ring = allocateRing(m_capacity);
    }
    const std::size_t events = std::size_t(eventsPerHost());
    for (Host& h : m_slots) {
        while (h.events.size() > events)
            h.events.pop_front();
    }
}

void HostHistory::openColumn(qint64 atMs)
{
    m_times[std::size_t(m_columns % m_capacity)] = atMs;
    ++m_columns;
    m_open = true;
}

void HostHistory::add(int slot, qint64 atMs, std::int32_t status, qint64 rttUs)
{
    if (slot < 0 || std::size_t(slot) >= m_slots.size() || !m_slots[std::size_t(slot)].used)
        return;
    if (m_capacity == 0 || !m_slots[std::size_t(slot)].ring || m_laidOutHosts != m_hosts) {
        layout();
        m_laidOutHosts = m_hosts;
    }
    Host& h = m_slots[std::size_t(slot)];
    if (!m_open || h.lastColumn == m_columns - 1)
        openColumn(atMs);
    const qint64 column = m_columns - 1;
    std::uint8_t* ring = h.ring.get();
    // The columns this host missed still hold what a host long gone left in the ring.
    for (qint64 c = std::max(h.lastColumn + 1, column - m_capacity + 1); c < column; ++c)
        ring[c % m_capacity] = CodeNone;
    ring[column % m_capacity] = encode(status, rttUs);
    h.lastColumn = column;
}

void HostHistory::addEvent(int slot, const StateEvent& event)
{
    if (slot < 0 || std::size_t(slot) >= m_slots.size() || !m_slots[std::size_t(slot)].used)
        return;
    Host& h = m_slots[std::size_t(slot)];
    h.events.push_back(event);
    const std::size_t cap = std::size_t(eventsPerHost());
    while (h.events.size() > cap)
        h.events.pop_front();
}

QVector<HistoryPoint> HostHistory::points(int slot, qint64 fromMs) const
{
    QVector<HistoryPoint> out;
    if (slot < 0 || std::size_t(slot) >= m_slots.size() || m_capacity == 0)
        return out;
    const Host& h = m_slots[std::size_t(slot)];
    if (!h.used || !h.ring)
        return out;
    const qint64 first = std::max(h.firstColumn, m_columns - columnsKept());
    if (h.lastColumn >= first)
        out.reserve(h.lastColumn - first + 1);
    for (qint64 c = first; c <= h.lastColumn; ++c) {
        const std::uint8_t code = h.ring.get()[c % m_capacity];
        const qint64 at = m_times[std::size_t(c % m_capacity)];
        if (code == CodeNone || at < fromMs)
            continue;
        HistoryPoint p = decode(code);
        p.atMs = at;
        out.append(p);
    }
    return out;
}

QVector<StateEvent> HostHistory::events(int slot) const
{
    QVector<StateEvent> out;
    if (slot < 0 || std::size_t(slot) >= m_slots.size() || !m_slots[std::size_t(slot)].used)
        return out;
    const auto& events = m_slots[std::size_t(slot)].events;
    out.reserve(qsizetype(events.size()));
    for (const StateEvent& e : events)
        out.append(e);
    return out;
}

} // namespace monitor
