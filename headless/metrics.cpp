#include "headless/metrics.h"

#include <charconv>
#include <cmath>

namespace headless {

double rttBucketBound(int i)
{
    return std::ldexp(5e-05, i);
}

int rttBucketOf(qint64 rttUs)
{
    // In whole microseconds, where every bound is exact: 50 us doubling.
    for (int i = 0; i < RttBucketCount; ++i) {
        if (rttUs <= qint64(50) << i)
            return i;
    }
    return RttBucketCount;
}

void HostMetrics::addReply(qint64 rttUs)
{
    ++buckets[std::size_t(rttBucketOf(rttUs))];
    ++replies;
    rttSumSeconds += double(rttUs) / 1e6;
}

QByteArray escapeLabelValue(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    for (const char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

// The shortest text that reads back as v, in the plain or exponent form as %g picks it: "5e-05",
// "0.0001", "26.2144". fixed: never an exponent (for times in seconds since the epoch).
void appendNumber(QByteArray& out, double v, std::chars_format format = std::chars_format::general)
{
    if (std::isinf(v)) {
        out += v > 0 ? "+Inf" : "-Inf";
        return;
    }
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, format);
    out.append(buf, r.ptr - buf);
}

void appendNumber(QByteArray& out, quint64 v)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

void family(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

} // namespace

const char* stateLabel(monitor::HostState state)
{
    switch (state) {
    case monitor::HostState::Up:
        return "up";
    case monitor::HostState::Degraded:
        return "degraded";
    case monitor::HostState::Down:
        return "down";
    case monitor::HostState::Unknown:
        break;
    }
    return "unknown";
}

QByteArray renderMetrics(const QVector<HostMetrics>& hosts, const QString& source, quint64 listLoadErrors)
{
    // host="..",ip=".." and the same with source, quoted once per host rather than per line.
    QVector<QByteArray> hostIp;
    QVector<QByteArray> withSource;
    hostIp.reserve(hosts.size());
    withSource.reserve(hosts.size());
    const QByteArray sourceLabel = ",source=\"" + escapeLabelValue(source) + '"';
    for (const HostMetrics& h : hosts) {
        hostIp.append("host=\"" + escapeLabelValue(h.host) + "\",ip=\"" + escapeLabelValue(h.ip) + '"');
        withSource.append(hostIp.last() + sourceLabel);
    }

    QByteArray out;
    out.reserve(256 * 8 + hosts.size() * 3000);
    auto counter = [&](const char* name, const char* help, auto value) {
        family(out, name, "counter", help);
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            out += name;
            out += '{';
            out += withSource[i];
            out += "} ";
            appendNumber(out, value(hosts[i]));
            out += '\n';
        }
    };
    counter("smokeping_requests_total", "Echo requests sent.", [](const HostMetrics& h) { return h.requests; });

    // The bounds' texts once, not once per host: 10,000 hosts make 210,000 bucket lines.
    static const std::array<QByteArray, RttBucketCount + 1> bucketTails = [] {
        std::array<QByteArray, RttBucketCount + 1> tails;
        for (int b = 0; b <= RttBucketCount; ++b) {
            QByteArray t = ",le=\"";
            appendNumber(t, b < RttBucketCount ? rttBucketBound(b) : HUGE_VAL);
            tails[std::size_t(b)] = t + "\"} ";
        }
        return tails;
    }();
    family(out, "smokeping_response_duration_seconds", "histogram", "Round trips of the echo replies.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        const HostMetrics& h = hosts[i];
        quint64 cumulative = 0;
        for (int b = 0; b <= RttBucketCount; ++b) {
            cumulative += h.buckets[std::size_t(b)];
            out += "smokeping_response_duration_seconds_bucket{";
            out += withSource[i];
            out += bucketTails[std::size_t(b)];
            appendNumber(out, cumulative);
            out += '\n';
        }
        out += "smokeping_response_duration_seconds_sum{";
        out += withSource[i];
        out += "} ";
        appendNumber(out, h.rttSumSeconds);
        out += "\nsmokeping_response_duration_seconds_count{";
        out += withSource[i];
        out += "} ";
        appendNumber(out, h.replies);
        out += '\n';
    }
    counter("smokeping_send_errors_total", "Echo requests that could not be sent.",
            [](const HostMetrics& h) { return h.sendErrors; });

    family(out, "tivane_host_info", "gauge", "The hosts probed, with their names and labels.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        out += "tivane_host_info{" + hostIp[i] + ",name=\"" + escapeLabelValue(hosts[i].name) + '"';
        for (auto it = hosts[i].labels.cbegin(); it != hosts[i].labels.cend(); ++it)
            out += ',' + it.key().toUtf8() + "=\"" + escapeLabelValue(it.value()) + '"';
        out += "} 1\n";
    }

    family(out, "tivane_host_up", "gauge", "1 while the host is up, 0 while it is not; absent while unknown.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        if (hosts[i].state == monitor::HostState::Unknown)
            continue;
        out += "tivane_host_up{" + hostIp[i] + (hosts[i].state == monitor::HostState::Up ? "} 1\n" : "} 0\n");
    }

    family(out, "tivane_host_state", "gauge", "1 for the host's present state, 0 for the others.");
    static const char* const states[] = {"unknown", "up", "degraded", "down"};
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        const char* now = stateLabel(hosts[i].state);
        for (const char* s : states) {
            out += "tivane_host_state{" + hostIp[i] + ",state=\"" + s + "\"} ";
            out += qstrcmp(s, now) == 0 ? "1\n" : "0\n";
        }
    }

    family(out, "tivane_host_last_change_timestamp_seconds", "gauge", "When the host's present state began.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        if (hosts[i].stateSinceMs <= 0)
            continue;
        out += "tivane_host_last_change_timestamp_seconds{" + hostIp[i] + "} ";
        appendNumber(out, double(hosts[i].stateSinceMs) / 1000.0, std::chars_format::fixed);
        out += '\n';
    }

    family(out, "tivane_status_total", "counter", "Probe outcomes by status code (0 a reply, -1 not sent).");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        for (auto it = hosts[i].statuses.cbegin(); it != hosts[i].statuses.cend(); ++it) {
            out += "tivane_status_total{" + hostIp[i] + ",status=\"" + QByteArray::number(it.key()) + "\"} ";
            appendNumber(out, it.value());
            out += '\n';
        }
    }

    family(out, "tivane_list_load_errors_total", "counter", "List and target files that could not be used.");
    out += "tivane_list_load_errors_total ";
    appendNumber(out, listLoadErrors);
    out += '\n';
    return out;
}

} // namespace headless
