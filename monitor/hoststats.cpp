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

double HostStats::recentLossPercent() const
{
    if (recent.empty())
        return -1.0;
    const auto lost = std::count(recent.begin(), recent.end(), qint64(-1));
    return 100.0 * double(lost) / double(recent.size());
}

qint64 HostStats::recentAvgRttUs() const
{
    qint64 sum = 0;
    qint64 n = 0;
    for (const qint64 rtt : recent) {
        if (rtt >= 0) {
            sum += rtt;
            ++n;
        }
    }
    return n ? (sum + n / 2) / n : -1;
}

qint64 HostStats::jitterUs() const
{
    // Consecutive replies: a loss between two replies does not make a jump of its own.
    qint64 previous = -1;
    qint64 sum = 0;
    qint64 n = 0;
    for (const qint64 rtt : recent) {
        if (rtt < 0)
            continue;
        if (previous >= 0) {
            sum += std::abs(rtt - previous);
            ++n;
        }
        previous = rtt;
    }
    return n ? (sum + n / 2) / n : -1;
}

qint64 HostStats::p95RttUs() const
{
    std::vector<qint64> rtts;
    rtts.reserve(recent.size());
    for (const qint64 rtt : recent) {
        if (rtt >= 0)
            rtts.push_back(rtt);
    }
    if (rtts.empty())
        return -1;
    // Nearest rank: the smallest value with at least 95% of the replies at or below it.
    const std::size_t rank = std::size_t(std::ceil(0.95 * double(rtts.size())));
    const auto nth = rtts.begin() + std::ptrdiff_t(std::max<std::size_t>(rank, 1) - 1);
    std::nth_element(rtts.begin(), nth, rtts.end());
    return *nth;
}

AlertRules AlertRules::clamped() const
{
    AlertRules r;
    r.downAfter = std::clamp(downAfter, 1, MaxDownAfter);
    r.upAfter = std::clamp(upAfter, 1, MaxUpAfter);
    r.recentProbes = std::clamp(recentProbes, 2, MaxRecentProbes);
    r.degradedLossPercent = std::clamp(degradedLossPercent, 0, 100);
    r.degradedRttMs = std::clamp(degradedRttMs, 0, MaxDegradedRttMs);
    return r;
}

void HostMonitor::setDownAfter(int failures)
{
    m_rules.downAfter = std::clamp(failures, 1, MaxDownAfter);
}

void HostMonitor::setRules(const AlertRules& rules)
{
    m_rules = rules.clamped();
    for (Entry& e : m_entries) {
        auto& recent = e.stats.recent;
        while (recent.size() > std::size_t(m_rules.recentProbes))
            recent.pop_front();
    }
}

void HostMonitor::count(HostState state, int by)
{
    if (state == HostState::Down)
        m_down += by;
    else if (state == HostState::Up)
        m_up += by;
    else if (state == HostState::Degraded)
        m_degraded += by;
}

bool HostMonitor::isDegraded(const HostStats& s) const
{
    if (s.recent.empty())
        return false;
    if (m_rules.degradedLossPercent > 0) {
        // Over the whole window even before it is full: a few probes alone do not make a host
        // degraded, but failures enough to fill the share of a full window do.
        const auto lost = std::count(s.recent.begin(), s.recent.end(), qint64(-1));
        if (qint64(lost) * 100 >= qint64(m_rules.degradedLossPercent) * m_rules.recentProbes)
            return true;
    }
    if (m_rules.degradedRttMs > 0) {
        const qint64 avg = s.recentAvgRttUs();
        if (avg >= qint64(m_rules.degradedRttMs) * 1000)
            return true;
    }
    return false;
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
    m_index.insert(key, int(m_entries.size()));
    m_entries.push_back(std::move(e));
    m_entryKeys.push_back(key);
}

// Back to never probed: counts and state.
void HostMonitor::forget(Entry& e)
{
    count(e.stats.state, -1);
    HostStats fresh;
    fresh.name = std::move(e.stats.name);
    fresh.address = std::move(e.stats.address);
    e.stats = std::move(fresh);
}

void HostMonitor::removeEntry(HostKey key)
{
    const auto it = m_index.constFind(key);
    if (it == m_index.constEnd())
        return;
    const std::size_t i = std::size_t(*it);
    m_index.erase(it);
    Entry& e = m_entries[i];
    count(e.stats.state, -1);
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
    m_down = 0;
    m_up = 0;
    m_degraded = 0;
}

void HostMonitor::resetStatistics()
{
    for (Entry& e : m_entries) {
        HostStats fresh;
        fresh.name = std::move(e.stats.name);
        fresh.address = std::move(e.stats.address);
        e.stats = std::move(fresh);
    }
    m_pending.clear();
    m_down = 0;
    m_up = 0;
    m_degraded = 0;
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

    count(s.state, -1);
    count(to, 1);
    s.state = to;
    s.stateSinceMs = sinceMs;

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
        if (s.repliesInRow == 0)
            s.replyingSinceMs = atMs;
        if (s.repliesInRow < std::numeric_limits<int>::max())
            ++s.repliesInRow;
        s.recent.push_back(rtt);
    } else {
        s.lastRttUs = -1;
        s.repliesInRow = 0;
        if (s.failuresInRow == 0)
            s.failingSinceMs = atMs;
        if (s.failuresInRow < std::numeric_limits<int>::max())
            ++s.failuresInRow;
        s.recent.push_back(-1);
    }
    while (s.recent.size() > std::size_t(m_rules.recentProbes))
        s.recent.pop_front();

    // One change at most per probe, straight to where the host is now.
    HostState to = s.state;
    qint64 since = atMs;
    if (s.failuresInRow >= m_rules.downAfter) {
        to = HostState::Down;
        since = s.failingSinceMs;
    } else if (s.state == HostState::Unknown || s.state == HostState::Down) {
        if (s.repliesInRow >= m_rules.upAfter) {
            to = isDegraded(s) ? HostState::Degraded : HostState::Up;
            since = s.replyingSinceMs;
        }
    } else {
        to = isDegraded(s) ? HostState::Degraded : HostState::Up;
    }
    if (to != s.state)
        setState(key, e, to, since, status);
    return true;
}

QVector<StateChange> HostMonitor::endSweep()
{
    QVector<StateChange> changes;
    changes.swap(m_pending);
    return changes;
}

const HostStats* HostMonitor::stats(HostKey key) const
{
    const auto it = m_index.constFind(key);
    return it == m_index.constEnd() ? nullptr : &m_entries[std::size_t(*it)].stats;
}

Overall HostMonitor::overall() const
{
    if (m_down > 0)
        return Overall::SomeDown;
    if (m_degraded > 0)
        return Overall::SomeDegraded;
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
    int degraded = 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (!counted.contains(m_entryKeys[i]))
            continue;
        if (m_entries[i].stats.state == HostState::Down)
            return Overall::SomeDown;
        up += m_entries[i].stats.state == HostState::Up;
        degraded += m_entries[i].stats.state == HostState::Degraded;
    }
    return degraded > 0 ? Overall::SomeDegraded : up > 0 ? Overall::AllUp : Overall::NoneProbed;
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
    int degradedCount = 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (counted && !counted->contains(m_entryKeys[i]))
            continue;
        ++total;
        up += m_entries[i].stats.state == HostState::Up;
        downCount += m_entries[i].stats.state == HostState::Down;
        degradedCount += m_entries[i].stats.state == HostState::Degraded;
    }
    if (total == 0)
        return QStringLiteral("Tivane: no hosts");
    const Overall overall = downCount > 0       ? Overall::SomeDown
                            : degradedCount > 0 ? Overall::SomeDegraded
                            : up > 0            ? Overall::AllUp
                                                : Overall::NoneProbed;
    switch (overall) {
    case Overall::NoneProbed:
        return QStringLiteral("Tivane: %1 %2, none probed yet")
            .arg(total)
            .arg(total == 1 ? QStringLiteral("host") : QStringLiteral("hosts"));
    case Overall::AllUp:
        if (up == total)
            return total == 1 ? QStringLiteral("Tivane: the host is up")
                              : QStringLiteral("Tivane: all %1 up").arg(total);
        return QStringLiteral("Tivane: %1 of %2 up").arg(up).arg(total);
    case Overall::SomeDegraded:
    case Overall::SomeDown:
        break;
    }
    // In the window's order of keys, so the tip does not shuffle from one update to the next.
    const auto namesIn = [&](HostState state) {
        std::vector<std::pair<HostKey, QString>> hosts;
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            const HostStats& s = m_entries[i].stats;
            if (s.state == state && (!counted || counted->contains(m_entryKeys[i])))
                hosts.emplace_back(m_entryKeys[i], shortName(s.name, s.address));
        }
        std::sort(hosts.begin(), hosts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        QStringList names;
        for (const auto& h : hosts)
            names.append(h.second);
        return nameList(names);
    };
    QString tip;
    if (downCount > 0)
        tip = QStringLiteral("Tivane: %1 of %2 down\n%3").arg(downCount).arg(total).arg(namesIn(HostState::Down));
    if (degradedCount > 0) {
        const QString degraded = namesIn(HostState::Degraded);
        tip = tip.isEmpty()
                  ? QStringLiteral("Tivane: %1 of %2 degraded\n%3").arg(degradedCount).arg(total).arg(degraded)
                  : tip + QStringLiteral("\nDegraded: %1").arg(degraded);
    }
    return tip;
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
    case HostState::Degraded:
        return QStringLiteral("Degraded");
    case HostState::Unknown:
        break;
    }
    return {};
}

QString stateName(HostState state)
{
    switch (state) {
    case HostState::Up:
        return QStringLiteral("up");
    case HostState::Down:
        return QStringLiteral("down");
    case HostState::Degraded:
        return QStringLiteral("degraded");
    case HostState::Unknown:
        break;
    }
    return QStringLiteral("unknown");
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
    case StatColumn::Jitter:
        return QStringLiteral("Jitter");
    case StatColumn::P95:
        return QStringLiteral("95%");
    case StatColumn::RecentLoss:
        return QStringLiteral("Recent loss");
    }
    return {};
}

QList<StatColumn> defaultStatColumns()
{
    return {StatColumn::Sent,   StatColumn::Loss, StatColumn::Avg,        StatColumn::Min,  StatColumn::Max,
            StatColumn::Jitter, StatColumn::P95,  StatColumn::RecentLoss, StatColumn::Since};
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
    case StatColumn::Jitter:
        return formatRtt(s.jitterUs());
    case StatColumn::P95:
        return formatRtt(s.p95RttUs());
    case StatColumn::RecentLoss:
        return formatLoss(s.recentLossPercent());
    }
    return {};
}

double statSortKey(const HostStats& s, StatColumn column)
{
    switch (column) {
    case StatColumn::State:
        // Down first when sorted descending, as people look for those.
        return s.state == HostState::Down ? 3 : s.state == HostState::Degraded ? 2 : s.state == HostState::Up ? 1 : 0;
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
    case StatColumn::Jitter:
        return double(s.jitterUs());
    case StatColumn::P95:
        return double(s.p95RttUs());
    case StatColumn::RecentLoss:
        return s.recentLossPercent();
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
    lines.append(QStringLiteral("Last %1 probes: loss %2, jitter %3, 95th percentile %4")
                     .arg(s.recent.size())
                     .arg(formatLoss(s.recentLossPercent()))
                     .arg(s.jitterUs() < 0 ? QStringLiteral("none") : formatRtt(s.jitterUs()))
                     .arg(s.p95RttUs() < 0 ? QStringLiteral("none") : formatRtt(s.p95RttUs())));
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
    QStringList degradedNames;
    const StateChange* lastDegraded = nullptr;
    for (const StateChange& c : changes) {
        if (!c.notable())
            continue;
        if (c.to == HostState::Degraded) {
            ++n.degraded;
            degradedNames.append(shortName(c.name, c.address));
            lastDegraded = &c;
        } else if (c.to == HostState::Down) {
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
    if (n.wentDown == 0 && n.cameBack == 0) {
        n.title =
            n.degraded == 1 ? QStringLiteral("Host degraded") : QStringLiteral("%1 hosts degraded").arg(n.degraded);
        n.text = n.degraded == 1 ? QStringLiteral("%1 is degraded since %2")
                                       .arg(hostLabel(lastDegraded->name, lastDegraded->address),
                                            formatMoment(lastDegraded->sinceMs, nowMs, zone))
                                 : nameList(degradedNames);
        return n;
    }
    const QString degradedLine = n.degraded ? QStringLiteral("\nDegraded: %1").arg(nameList(degradedNames)) : QString();

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
    n.text += degradedLine;
    return n;
}

} // namespace monitor
