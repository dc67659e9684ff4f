#pragma once

#include "headless/metrics.h"
#include "headless/targets.h"
#include "monitor/hoststats.h"
#include "probe/mdlping.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QVector>

#include <memory>

class Prober;
class Sweep;

namespace monitor {
class HistoryStore;
}

namespace headless {

// The hosts as a model the sweep walks: one row per target, all ticked. Rows are taken out and
// added one by one, never reset, so that probes in flight for the hosts that stay still land.
class HostTable : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    QVariant data(const QModelIndex& index, int role) const override;

    struct Row
    {
        quint64 key = 0;
        Target target;
    };
    const QVector<Row>& rows() const { return m_rows; }

    struct Changes
    {
        QVector<Row> added;
        QVector<quint64> removed;
        int kept = 0;
    };
    // Makes the rows those of targets (by address); rows whose address stays keep their key.
    Changes apply(const QVector<Target>& targets);

private:
    QVector<Row> m_rows;
    quint64 m_lastKey = 0;
};

struct HttpReply
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

struct MonitorOptions
{
    int intervalMs = 1000;
    int timeoutMs = 1000;
    bool oneAtATime = false;
    QString source;
};

// tivane-monitor without its command line and its socket: hosts, sweeps, statistics, and the
// answers to the HTTP requests.
class HeadlessMonitor : public QObject
{
    Q_OBJECT
public:
    HeadlessMonitor(Prober& prober, const MonitorOptions& options, QObject* parent = nullptr);
    ~HeadlessMonitor() override;

    // New hosts start, removed ones stop, the others keep what they have.
    HostTable::Changes setTargets(const QVector<Target>& targets);
    void countLoadError()
    {
        ++m_loadErrors;
        m_page.clear();
    }
    // Where every outcome and state change is written as well; null: nowhere. Not owned.
    void setHistory(monitor::HistoryStore* store) { m_history = store; }
    quint64 loadErrors() const { return m_loadErrors; }

    void start();
    void stop();
    bool probing() const;

    QVector<HostMetrics> snapshot() const;
    // The /metrics page; rendered again only once something on it has changed since.
    QByteArray metricsText() const;
    QByteArray hostsJson() const;
    // GET /metrics, /-/healthy and /api/v1/hosts; 404 for anything else.
    HttpReply answer(const QByteArray& method, const QString& path) const;

    const HostTable& table() const { return m_table; }
    const monitor::HostMonitor& stats() const { return m_stats; }

Q_SIGNALS:
    // The prober could not start, or may not send ICMP at all.
    void problem(const QString& text);

private:
    struct Extra
    {
        QString ip;
        HostMetrics counts; // the counters; labels and state are filled in on the way out
    };

    void onOutcome(const QModelIndex& entry, const mdlPing::Outcome& outcome);
    void onSweepFinished();

    MonitorOptions m_options;
    HostTable m_table;
    monitor::HostMonitor m_stats;
    QHash<quint64, Extra> m_extra;
    std::unique_ptr<Sweep> m_sweep;
    quint64 m_loadErrors = 0;
    monitor::HistoryStore* m_history = nullptr;
    // The page as last rendered; null once an outcome, a sweep's end or a change of hosts may
    // have changed it. Between sweeps every scrape gets the same bytes without rendering them.
    mutable QByteArray m_page;
};

} // namespace headless
