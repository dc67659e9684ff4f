#pragma once

#include "monitor/history.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>

#include <array>
#include <cstdint>

// The Prometheus text format (version 0.0.4) of what tivane-monitor knows about its hosts. The
// smokeping_* names and their labels are kept as dashboards and rules written for them expect.
namespace headless {

// Upper bounds of the round-trip histogram, in seconds: 5e-05 doubling to 26.2144; +Inf follows.
inline constexpr int RttBucketCount = 20;
double rttBucketBound(int i);
// The state as the metrics, the JSON view and rules name it.
const char* stateLabel(monitor::HostState state);
// The bucket a round trip falls in; RttBucketCount for +Inf.
int rttBucketOf(qint64 rttUs);

struct HostMetrics
{
    QString host; // the address as written
    QString ip;   // the address last probed; the written one until then
    QString name;
    QMap<QString, QString> labels;
    quint64 requests = 0;                              // requests that went out
    quint64 sendErrors = 0;                            // requests that could not be sent
    std::array<quint64, RttBucketCount + 1> buckets{}; // replies per bucket, not summed up
    quint64 replies = 0;
    double rttSumSeconds = 0;
    monitor::HostState state = monitor::HostState::Unknown;
    qint64 stateSinceMs = 0;              // 0 while unknown
    QMap<std::int32_t, quint64> statuses; // outcomes by status code

    void addReply(qint64 rttUs);
};

// Quotes a label value: backslash, double quote and line feed escaped.
QByteArray escapeLabelValue(const QString& value);
// The whole /metrics page.
QByteArray renderMetrics(const QVector<HostMetrics>& hosts, const QString& source, quint64 listLoadErrors);

inline constexpr char MetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

} // namespace headless
