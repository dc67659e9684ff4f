#include "monitor/hoststats.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>

namespace monitor {

double HostStats::lossPercent() const
{
    if (sent == 0)
        return -1.0;
    return 100.0 * double(sent - replies) / double(sent);
}

qint64 HostStats::avgRttUs() const
{
    if (replies == 0)
        return -1;
    return (sumRttUs + qint64(replies / 2)) / qint64(replies);
}

HostMonitor::HostMonitor(std::size_t historyBudgetBytes) : m_history(historyBudgetBytes) {}

void HostMonitor::setDownAfter(int failures)
{
    m_downAfter = std::clamp(failures, 1, MaxDownAfter);
}

void HostMonitor::setEntry(HostKey key, const QString& name, const QString& address)
{
    const auto it = m_index.constFind(key);
    if (it != m_index.constEnd()) {
        Entry& e = m_entries[std::size_t(*it)];
        if (e.stats.address != address) {
            forget(e);
            e.stats.address = address;
        }
        e.stats.name = name;
        return;
    }
    Entry e;
    e.stats.name = name;
    e.stats.address = address;
    e.slot = m_history.addHost();
    m_index.insert(key, int(m_entries.size()));
    m_entries.push_back(std::move(e));
    m_entryKeys.push_back(key);
}

// Back to never probed: counts, state and history.
void HostMonitor::forget(Entry& e)
{
    if (e.stats.state == HostState::Down)
        --m_down;
    else if (e.stats.state == HostState::Up)
        --m_up;
    HostStats fresh;
    fresh.name = std::move(e.stats.name);
    fresh.address = std::move(e.stats.address);
    e.stats = std::move(fresh);
    m_history.removeHost(e.slot);
    e.slot = m_history.addHost();
}

void HostMonitor::removeEntry(HostKey key)
{
    const auto it = m_index.constFind(key);
    if (it == m_index.constEnd())
        return;
    const std::size_t i = std::size_t(*it);
    m_index.erase(it);
    Entry& e = m_entries[i];
    if (e.stats.state == HostState::Down)
        --m_down;
    else if (e.stats.state == HostState::Up)
        --m_up;
    m_history.removeHost(e.slot);
    const std::size_t last = m_entries.size() - 1;
    if (i != last) {
        m_entries[i] = std::move(m_entries[last]);
        m_entryKeys[i] = m_entryKeys[last];
        m_index[m_entryKeys[i]] = int(i);
    }
    m_entries.pop_back();
    m_entryKeys.pop_back();
    // A change already reported for a host that is gone would name a row that is not there.
    m_pending.removeIf([key](const StateChange& c) { return c.key == key; });
}

bool HostMonitor::rekey(HostKey from, HostKey to)
{
    const auto it = m_index.constFind(from);
    if (it == m_index.constEnd())
        return false;
    if (from == to)
        return true;
    if (m_index.contains(to))
        return false;
    const int i = *it;
    m_index.erase(it);
    m_index.insert(to, i);
    m_entryKeys[std::size_t(i)] = to;
    for (StateChange& c : m_pending) {
        if (c.key == from)
            c.key = to;
    }
    return true;
}

void HostMonitor::clear()
{
    m_index.clear();
    m_entries.clear();
    m_entryKeys.clear();
    m_pending.clear();
    m_history.clear();
    m_down = 0;
    m_up = 0;
}

void HostMonitor::resetStatistics()
{
    m_history.clearResults();
    for (Entry& e : m_entries) {
        HostStats fresh;
        fresh.name = std::move(e.stats.name);
        fresh.address = std::move(e.stats.address);
        e.stats = std::move(fresh);
    }
    m_pending.clear();
    m_down = 0;
    m_up = 0;
}

void HostMonitor::setState(HostKey key, Entry& e, HostState to, qint64 sinceMs, std::int32_t status)
{
    HostStats& s = e.stats;
    StateChange change;
    change.key = key;
    change.name = s.name;
    change.address = s.address;
    change.from = s.state;
    change.to = to;
    change.sinceMs = sinceMs;
    change.previousSinceMs = s.state == HostState::Unknown ? 0 : s.stateSinceMs;
    change.status = status;

    if (s.state == HostState::Down)
        --m_down;
    else if (s.state == HostState::Up)
        --m_up;
    if (to == HostState::Down)
        ++m_down;
    else if (to == HostState::Up)
        ++m_up;
    s.state = to;
    s.stateSinceMs = sinceMs;

    m_history.addEvent(e.slot, StateEvent{sinceMs, to, status});
    m_pending.append(std::move(change));
}

bool HostMonitor::record(HostKey key, std::int32_t status, qint64 rttUs, qint64 atMs)
{
    const auto it = m_index.constFind(key);
    if (it == m_index.constEnd())
        return false;
    Entry& e = m_entries[std::size_t(*it)];
    HostStats& s = e.stats;
    ++s.sent;
    s.lastStatus = status;
    s.lastProbeMs = atMs;
    if (status == 0) {
        const qint64 rtt = std::max<qint64>(rttUs, 0);
        ++s.replies;
        s.lastRttUs = rtt;
        s.minRttUs = s.minRttUs < 0 ? rtt : std::min(s.minRttUs, rtt);
        s.maxRttUs = std::max(s.maxRttUs, rtt);
        s.sumRttUs += rtt;
        s.failuresInRow = 0;
        m_history.add(e.slot, atMs, status, rtt);
        if (s.state != HostState::Up)
            setState(key, e, HostState::Up, atMs, status);
    } else {
        s.lastRttUs = -1;
        if (s.failuresInRow == 0)
            s.failingSinceMs = atMs;
        if (s.failuresInRow < std::numeric_limits<int>::max())
            ++s.failuresInRow;
        m_history.add(e.slot, atMs, status, -1);
        if (s.failuresInRow >= m_downAfter && s.state != HostState::Down)
            setState(key, e, HostState::Down, s.failingSinceMs, status);
    }
    return true;
}

QVector<StateChange> HostMonitor::endSweep()
{
    m_history.closeColumn();
    QVector<StateChange> changes;
    changes.swap(m_pending);
    return changes;
}

const HostStats* HostMonitor::stats(HostKey key) const
{
    const auto it = m_index.constFind(key);
    return it == m_index.constEnd() ? nullptr : &m_entries[std::size_t(*it)].stats;
}

QVector<HistoryPoint> HostMonitor::history(HostKey key, qint64 fromMs) const
{
    const auto it = m_index.constFind(key);
    if (it == m_index.constEnd())
        return {};
    return m_history.points(m_entries[std::size_t(*it)].slot, fromMs);
}

QVector<StateEvent> HostMonitor::stateEvents(HostKey key) const
{
    const auto it = m_index.constFind(key);
    if (it == m_index.constEnd())
        return {};
    return m_history.events(m_entries[std::size_t(*it)].slot);
}

Overall HostMonitor::overall() const
{
    if (m_down > 0)
        return Overall::SomeDown;
    return m_up > 0 ? Overall::AllUp : Overall::NoneProbed;
}

namespace {

// "a, b, c and 2 more": enough names to recognise, few enough for a notification or a tip.
QString nameList(const QStringList& names, int shown = 5)
{
    if (names.size() <= 1)
        return names.value(0);
    if (names.size() <= shown)
        return names.first(names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.last();
    return names.first(shown).join(QStringLiteral(", ")) + QStringLiteral(" and %1 more").arg(names.size() - shown);
}

QString shortName(const QString& name, const QString& address)
{
    return name.isEmpty() ? address : name;
}

} // namespace

Overall HostMonitor::overall(const QSet<HostKey>& counted) const
{
    int up = 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (!counted.contains(m_entryKeys[i]))
            continue;
        if (m_entries[i].stats.state == HostState::Down)
            return Overall::SomeDown;
        up += m_entries[i].stats.state == HostState::Up;
    }
    return up > 0 ? Overall::AllUp : Overall::NoneProbed;
}

QString HostMonitor::trayToolTip() const
{
    return tipFor(nullptr);
}

QString HostMonitor::trayToolTip(const QSet<HostKey>& counted) const
{
    return tipFor(&counted);
}

QString HostMonitor::tipFor(const QSet<HostKey>* counted) const
{
    int total = 0;
    int up = 0;
    int downCount = 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (counted && !counted->contains(m_entryKeys[i]))
            continue;
        ++total;
        up += m_entries[i].stats.state == HostState::Up;
        downCount += m_entries[i].stats.state == HostState::Down;
    }
    if (total == 0)
        return QStringLiteral("Tivane: no hosts");
    switch (downCount > 0 ? Overall::SomeDown : up > 0 ? Overall::AllUp : Overall::NoneProbed) {
    case Overall::NoneProbed:
        return QStringLiteral("Tivane: %1 %2, none probed yet")
            .arg(total)
            .arg(total == 1 ? QStringLiteral("host") : QStringLiteral("hosts"));
    case Overall::AllUp:
        if (up == total)
            return total == 1 ? QStringLiteral("Tivane: the host is up")
                              : QStringLiteral("Tivane: all %1 up").arg(total);
        return QStringLiteral("Tivane: %1 of %2 up").arg(up).arg(total);
    case Overall::SomeDown:
        break;
    }
    // In the window's order of keys, so the tip does not shuffle from one update to the next.
    std::vector<std::pair<HostKey, QString>> down;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const HostStats& s = m_entries[i].stats;
        if (s.state == HostState::Down && (!counted || counted->contains(m_entryKeys[i])))
            down.emplace_back(m_entryKeys[i], shortName(s.name, s.address));
    }
    std::sort(down.begin(), down.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList names;
    for (const auto& d : down)
        names.append(d.second);
    return QStringLiteral("Tivane: %1 of %2 down\n%3").arg(downCount).arg(total).arg(nameList(names));
}

const QTimeZone& localZone()
{
    static const QTimeZone zone = QTimeZone::systemTimeZone();
    return zone;
}

QString formatRtt(qint64 us)
{
    if (us < 0)
        return {};
    if (us < 10)
        return QStringLiteral("< 0.01 ms");
    const double ms = double(us) / 1000.0;
    if (us < 9995)
        return QString::number(ms, 'f', 2) + QStringLiteral(" ms");
    if (us < 99950)
        return QString::number(ms, 'f', 1) + QStringLiteral(" ms");
    return QString::number(std::llround(ms)) + QStringLiteral(" ms");
}

QString formatLoss(double percent)
{
    if (percent < 0)
        return {};
    // Whole numbers as such; otherwise one decimal, but never rounded to look like 0% or 100%.
    double shown = std::round(percent * 10.0) / 10.0;
    if (percent > 0 && shown == 0.0)
        shown = 0.1;
    if (percent < 100 && shown == 100.0)
        shown = 99.9;
    if (shown == std::floor(shown))
        return QString::number(qint64(shown)) + QLatin1Char('%');
    return QString::number(shown, 'f', 1) + QLatin1Char('%');
}

QString formatDuration(qint64 ms)
{
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    const qint64 min = s / 60;
    if (min < 60)
        return QStringLiteral("%1 min").arg(min);
    const qint64 h = min / 60;
    if (h < 24)
        return min % 60 ? QStringLiteral("%1 h %2 min").arg(h).arg(min % 60) : QStringLiteral("%1 h").arg(h);
    const qint64 d = h / 24;
    return h % 24 ? QStringLiteral("%1 d %2 h").arg(d).arg(h % 24) : QStringLiteral("%1 d").arg(d);
}

QString formatMoment(qint64 ms, qint64 nowMs, const QTimeZone& zone)
{
    if (ms <= 0)
        return {};
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms, zone);
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs, zone);
    if (at.date() == now.date())
        return at.toString(QStringLiteral("HH:mm:ss"));
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString stateText(HostState state)
{
    switch (state) {
    case HostState::Up:
        return QStringLiteral("Up");
    case HostState::Down:
        return QStringLiteral("Down");
    case HostState::Unknown:
        break;
    }
    return {};
}

QString hostLabel(const QString& name, const QString& address)
{
    if (name.isEmpty())
        return address;
    if (address.isEmpty())
        return name;
    return QStringLiteral("%1 (%2)").arg(name, address);
}

QString statHeader(StatColumn column)
{
    switch (column) {
    case StatColumn::State:
        return QStringLiteral("State");
    case StatColumn::Sent:
        return QStringLiteral("Sent");
    case StatColumn::Received:
        return QStringLiteral("Received");
    case StatColumn::Loss:
        return QStringLiteral("Loss");
    case StatColumn::Last:
        return QStringLiteral("Last");
    case StatColumn::Avg:
        return QStringLiteral("Avg");
    case StatColumn::Min:
        return QStringLiteral("Min");
    case StatColumn::Max:
        return QStringLiteral("Max");
    case StatColumn::Since:
        return QStringLiteral("Since");
    }
    return {};
}

QList<StatColumn> defaultStatColumns()
{
    return {StatColumn::Sent, StatColumn::Loss, StatColumn::Avg, StatColumn::Min, StatColumn::Max, StatColumn::Since};
}

QString statText(const HostStats& s, StatColumn column, qint64 nowMs, const QTimeZone& zone)
{
    switch (column) {
    case StatColumn::State:
        return stateText(s.state);
    case StatColumn::Sent:
        return s.sent ? QString::number(s.sent) : QString();
    case StatColumn::Received:
        return s.sent ? QString::number(s.replies) : QString();
    case StatColumn::Loss:
        return formatLoss(s.lossPercent());
    case StatColumn::Last:
        return formatRtt(s.lastRttUs);
    case StatColumn::Avg:
        return formatRtt(s.avgRttUs());
    case StatColumn::Min:
        return formatRtt(s.minRttUs);
    case StatColumn::Max:
        return formatRtt(s.maxRttUs);
    case StatColumn::Since:
        return formatMoment(s.stateSinceMs, nowMs, zone);
    }
    return {};
}

double statSortKey(const HostStats& s, StatColumn column)
{
    switch (column) {
    case StatColumn::State:
        // Down first when sorted descending, as people look for those.
        return s.state == HostState::Down ? 2 : s.state == HostState::Up ? 1 : 0;
    case StatColumn::Sent:
        return double(s.sent);
    case StatColumn::Received:
        return double(s.replies);
    case StatColumn::Loss:
        return s.lossPercent();
    case StatColumn::Last:
        return double(s.lastRttUs);
    case StatColumn::Avg:
        return double(s.avgRttUs());
    case StatColumn::Min:
        return double(s.minRttUs);
    case StatColumn::Max:
        return double(s.maxRttUs);
    case StatColumn::Since:
        return s.stateSinceMs > 0 ? double(s.stateSinceMs) : -1.0;
    }
    return -1.0;
}

QString statToolTip(const HostStats& s, qint64 nowMs, const QTimeZone& zone)
{
    QStringList lines;
    lines.append(hostLabel(s.name, s.address));
    if (s.sent == 0) {
        lines.append(QStringLiteral("Not probed yet"));
        return lines.join(QLatin1Char('\n'));
    }
    if (s.state == HostState::Unknown)
        lines.append(QStringLiteral("State not known yet"));
    else
        lines.append(QStringLiteral("%1 since %2 (%3)")
                         .arg(stateText(s.state), formatMoment(s.stateSinceMs, nowMs, zone),
                              formatDuration(nowMs - s.stateSinceMs)));
    lines.append(
        QStringLiteral("Sent %1, received %2, loss %3").arg(s.sent).arg(s.replies).arg(formatLoss(s.lossPercent())));
    if (s.replies > 0)
        lines.append(QStringLiteral("Round trip: last %1, min %2, avg %3, max %4")
                         .arg(s.lastRttUs < 0 ? QStringLiteral("none") : formatRtt(s.lastRttUs), formatRtt(s.minRttUs),
                              formatRtt(s.avgRttUs()), formatRtt(s.maxRttUs)));
    if (s.failuresInRow > 0)
        lines.append(QStringLiteral("%1 failed in a row").arg(s.failuresInRow));
    return lines.join(QLatin1Char('\n'));
}

Notification describeChanges(const QVector<StateChange>& changes, qint64 nowMs, const QTimeZone& zone)
{
    Notification n;
    QStringList downNames;
    QStringList upNames;
    const StateChange* lastDown = nullptr;
    const StateChange* lastUp = nullptr;
    for (const StateChange& c : changes) {
        if (!c.notable())
            continue;
        if (c.to == HostState::Down) {
            ++n.wentDown;
            downNames.append(shortName(c.name, c.address));
            lastDown = &c;
        } else if (c.to == HostState::Up) {
            ++n.cameBack;
            upNames.append(shortName(c.name, c.address));
            lastUp = &c;
        }
    }
    if (n.isEmpty())
        return n;

    const auto downSentence = [&](const StateChange& c) {
        return QStringLiteral("%1 is down since %2")
            .arg(hostLabel(c.name, c.address), formatMoment(c.sinceMs, nowMs, zone));
    };
    const auto upSentence = [&](const StateChange& c) {
        const qint64 outage = c.previousDurationMs();
        if (outage < 0)
            return QStringLiteral("%1 is up again").arg(hostLabel(c.name, c.address));
        return QStringLiteral("%1 is up again after %2").arg(hostLabel(c.name, c.address), formatDuration(outage));
    };

    if (n.wentDown == 1 && n.cameBack == 0) {
        n.title = QStringLiteral("Host down");
        n.text = downSentence(*lastDown);
    } else if (n.wentDown == 0 && n.cameBack == 1) {
        n.title = QStringLiteral("Host up again");
        n.text = upSentence(*lastUp);
    } else if (n.cameBack == 0) {
        n.title = QStringLiteral("%1 hosts went down").arg(n.wentDown);
        n.text = nameList(downNames);
    } else if (n.wentDown == 0) {
        n.title = QStringLiteral("%1 hosts came back").arg(n.cameBack);
        n.text = nameList(upNames);
    } else {
        n.title = QStringLiteral("%1 %2 down, %3 came back")
                      .arg(n.wentDown)
                      .arg(n.wentDown == 1 ? QStringLiteral("host went") : QStringLiteral("hosts went"))
                      .arg(n.cameBack);
        n.text = QStringLiteral("Down: %1\nUp again: %2").arg(nameList(downNames), nameList(upNames));
    }
    return n;
}

} // namespace monitor
