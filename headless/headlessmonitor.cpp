#include "headless/headlessmonitor.h"

#include "monitor/historystore.h"
#include "monitor/sweep.h"
#include "probe/prober.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace headless {

QVariant HostTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& row = m_rows[index.row()];
    switch (role) {
    case monitor::KeyRole:
        return row.key;
    case monitor::TickedRole:
        return true;
    case monitor::NameRole:
    case Qt::DisplayRole:
        return row.target.name;
    case monitor::AddressRole:
        return row.target.address;
    default:
        return {};
    }
}

HostTable::Changes HostTable::apply(const QVector<Target>& targets)
{
    Changes changes;
    QHash<QString, qsizetype> wanted;
    for (qsizetype i = 0; i < targets.size(); ++i)
        wanted.insert(targets[i].address, i);
    QSet<QString> present;
    // From the end, so that the rows still to look at keep their places.
    for (qsizetype r = m_rows.size() - 1; r >= 0; --r) {
        const auto it = wanted.constFind(m_rows[r].target.address);
        if (it == wanted.cend()) {
            beginRemoveRows({}, int(r), int(r));
            changes.removed.append(m_rows[r].key);
            m_rows.removeAt(r);
            endRemoveRows();
            continue;
        }
        present.insert(m_rows[r].target.address);
        if (!(m_rows[r].target == targets[*it])) {
            m_rows[r].target = targets[*it];
            Q_EMIT dataChanged(index(int(r)), index(int(r)));
        }
        ++changes.kept;
    }
    for (const Target& t : targets) {
        if (!present.contains(t.address))
            changes.added.append({++m_lastKey, t});
    }
    if (!changes.added.isEmpty()) {
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + changes.added.size() - 1));
        m_rows.append(changes.added);
        endInsertRows();
    }
    return changes;
}

HeadlessMonitor::HeadlessMonitor(Prober& prober, const MonitorOptions& options, QObject* parent)
    : QObject(parent), m_options(options), m_sweep(std::make_unique<Sweep>(m_table, prober))
{
    m_sweep->setAllAtOnce(!options.oneAtATime);
    m_sweep->continuousIntervalMs = options.intervalMs;
    connect(m_sweep.get(), &Sweep::entryOutcome, this, &HeadlessMonitor::onOutcome);
    connect(m_sweep.get(), &Sweep::sweepFinished, this, &HeadlessMonitor::onSweepFinished);
    connect(m_sweep.get(), &Sweep::startupFailed, this,
            [this] { Q_EMIT problem(QStringLiteral("the probe engine could not start")); });
    connect(m_sweep.get(), &Sweep::notPermitted, this, [this] {
        Q_EMIT problem(QStringLiteral("this user may not send ICMP echo requests: grant cap_net_raw or widen "
                                      "net.ipv4.ping_group_range"));
    });
}

HeadlessMonitor::~HeadlessMonitor()
{
    m_sweep->abandon();
}

HostTable::Changes HeadlessMonitor::setTargets(const QVector<Target>& targets)
{
    const HostTable::Changes changes = m_table.apply(targets);
    m_page.clear();
    for (const quint64 key : changes.removed) {
        m_stats.removeEntry(key);
        m_extra.remove(key);
    }
    for (const HostTable::Row& row : m_table.rows())
        m_stats.setEntry(row.key, row.target.name, row.target.address);
    return changes;
}

void HeadlessMonitor::start()
{
    m_sweep->PingContinuous();
}

void HeadlessMonitor::stop()
{
    m_sweep->abandon();
}

bool HeadlessMonitor::probing() const
{
    return m_sweep->isRunning();
}

void HeadlessMonitor::onOutcome(const QModelIndex& entry, const mdlPing::Outcome& outcome)
{
    const quint64 key = entry.data(monitor::KeyRole).toULongLong();
    if (!m_stats.contains(key))
        return;
    m_page.clear();
    std::int32_t status = outcome.status;
    // The engine waits its own fixed time; a shorter time-out is applied to what comes back.
    if (status == 0 && outcome.roundTripUs > qint64(m_options.timeoutMs) * 1000)
        status = 11010;
    const qint64 atMs = QDateTime::currentMSecsSinceEpoch();
    m_stats.record(key, status, outcome.roundTripUs, atMs);
    if (m_history) {
        if (const monitor::HostStats* s = m_stats.stats(key))
            m_history->add(s->name, s->address, atMs, status, outcome.roundTripUs);
    }
    Extra& extra = m_extra[key];
    if (!outcome.probed.isEmpty())
        extra.ip = outcome.probed;
    HostMetrics& c = extra.counts;
    if (status == -1)
        ++c.sendErrors;
    else
        ++c.requests;
    if (status == 0)
        c.addReply(outcome.roundTripUs);
    ++c.statuses[status];
}

void HeadlessMonitor::onSweepFinished()
{
    const QVector<monitor::StateChange> changes = m_stats.endSweep();
    m_page.clear();
    if (!m_history)
        return;
    for (const monitor::StateChange& c : changes)
        m_history->addEvent(c.name, c.address, monitor::StateEvent{c.sinceMs, c.to, c.status});
    m_history->endSweep();
}

QVector<HostMetrics> HeadlessMonitor::snapshot() const
{
    QVector<HostMetrics> hosts;
    hosts.reserve(m_table.rows().size());
    for (const HostTable::Row& row : m_table.rows()) {
        const auto extra = m_extra.constFind(row.key);
        HostMetrics h = extra == m_extra.cend() ? HostMetrics() : extra->counts;
        h.host = row.target.address;
        h.ip = extra == m_extra.cend() || extra->ip.isEmpty() ? row.target.address : extra->ip;
        h.name = row.target.name;
        h.labels = row.target.labels;
        if (const monitor::HostStats* s = m_stats.stats(row.key)) {
            h.state = s->state;
            h.stateSinceMs = s->stateSinceMs;
        }
        hosts.append(std::move(h));
    }
    return hosts;
}

QByteArray HeadlessMonitor::metricsText() const
{
    if (m_page.isNull())
        m_page = renderMetrics(snapshot(), m_options.source, m_loadErrors);
    return m_page;
}

QByteArray HeadlessMonitor::hostsJson() const
{
    auto ms = [](qint64 us) { return us < 0 ? QJsonValue() : QJsonValue(double(us) / 1000.0); };
    QJsonArray hosts;
    for (const HostTable::Row& row : m_table.rows()) {
        const monitor::HostStats* s = m_stats.stats(row.key);
        if (!s)
            continue;
        const auto extra = m_extra.constFind(row.key);
        QJsonObject o;
        o.insert(QStringLiteral("name"), row.target.name);
        o.insert(QStringLiteral("address"), row.target.address);
        o.insert(QStringLiteral("probed"), extra == m_extra.cend() ? QString() : extra->ip);
        o.insert(QStringLiteral("state"), QLatin1String(stateLabel(s->state)));
        o.insert(QStringLiteral("since"),
                 s->stateSinceMs > 0
                     ? QJsonValue(QDateTime::fromMSecsSinceEpoch(s->stateSinceMs, Qt::UTC).toString(Qt::ISODateWithMs))
                     : QJsonValue());
        o.insert(QStringLiteral("sent"), double(s->sent));
        o.insert(QStringLiteral("received"), double(s->replies));
        o.insert(QStringLiteral("loss"), s->sent ? QJsonValue(s->lossPercent()) : QJsonValue());
        o.insert(QStringLiteral("last_ms"), ms(s->lastRttUs));
        o.insert(QStringLiteral("min_ms"), ms(s->minRttUs));
        o.insert(QStringLiteral("avg_ms"), ms(s->avgRttUs()));
        o.insert(QStringLiteral("max_ms"), ms(s->maxRttUs));
        o.insert(QStringLiteral("last_status"), s->lastProbeMs ? QJsonValue(s->lastStatus) : QJsonValue());
        o.insert(QStringLiteral("last_text"), s->lastProbeMs ? Sweep::statusText(s->lastStatus) : QString());
        hosts.append(o);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("hosts"), hosts}}).toJson(QJsonDocument::Compact);
}

HttpReply HeadlessMonitor::answer(const QByteArray& method, const QString& path) const
{
    const QByteArray text = "text/plain; charset=utf-8";
    if (method != "GET")
        return {404, text, "Not found\n"};
    if (path == QLatin1String("/metrics"))
        return {200, MetricsContentType, metricsText()};
    if (path == QLatin1String("/-/healthy"))
        return probing() ? HttpReply{200, text, "Healthy\n"} : HttpReply{503, text, "Not probing\n"};
    if (path == QLatin1String("/api/v1/hosts"))
        return {200, "application/json", hostsJson()};
    return {404, text, "Not found\n"};
}

} // namespace headless
