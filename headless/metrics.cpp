#include "headless/metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

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

// The page is written through a bare pointer into one buffer: 10,000 hosts make some 300,000
// lines, and QByteArray's appends (bounds, sharing and growth checked each time) cost as much as
// the text itself.
class PageWriter
{
public:
    explicit PageWriter(qsizetype expected)
    {
        m_buf.resize(std::max<qsizetype>(expected, 4096));
        m_p = m_buf.data();
        m_end = m_p + m_buf.size();
    }

    void put(const char* s, qsizetype n)
    {
        room(n);
        std::memcpy(m_p, s, std::size_t(n));
        m_p += n;
    }
    void put(QByteArrayView s) { put(s.data(), s.size()); }
    template <std::size_t N> void put(const char (&s)[N]) { put(s, qsizetype(N - 1)); }
    void put(char c)
    {
        room(1);
        *m_p++ = c;
    }
    void putCString(const char* s) { put(s, qsizetype(std::strlen(s))); }

    void number(quint64 v)
    {
        room(24);
        m_p = std::to_chars(m_p, m_end, v).ptr;
    }
    void number(std::int32_t v)
    {
        room(16);
        m_p = std::to_chars(m_p, m_end, v).ptr;
    }
    // The shortest text that reads back as v, in the plain or exponent form as %g picks it:
    // "5e-05", "0.0001", "26.2144". fixed: never an exponent (for times in seconds since the epoch).
    void number(double v, std::chars_format format = std::chars_format::general)
    {
        if (std::isinf(v)) {
            putCString(v > 0 ? "+Inf" : "-Inf");
            return;
        }
        room(400);
        m_p = std::to_chars(m_p, m_end, v, format).ptr;
    }

    void family(const char* name, const char* type, const char* help)
    {
        put("# HELP ");
        putCString(name);
        put(' ');
        putCString(help);
        put("\n# TYPE ");
        putCString(name);
        put(' ');
        putCString(type);
        put('\n');
    }

    QByteArray take()
    {
        m_buf.truncate(m_p - m_buf.constData());
        return std::move(m_buf);
    }

private:
    void room(qsizetype n)
    {
        if (m_end - m_p >= n)
            return;
        const qsizetype used = m_p - m_buf.constData();
        m_buf.resize(std::max(used + n, m_buf.size() * 2));
        m_p = m_buf.data() + used;
        m_end = m_buf.data() + m_buf.size();
    }

    QByteArray m_buf;
    char* m_p = nullptr;
    char* m_end = nullptr;
};

QByteArray numberText(double v)
{
    PageWriter w(64);
    w.number(v);
    return w.take();
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
    qsizetype expected = 4096;
    for (const HostMetrics& h : hosts) {
        hostIp.append("host=\"" + escapeLabelValue(h.host) + "\",ip=\"" + escapeLabelValue(h.ip) + '"');
        withSource.append(hostIp.last() + sourceLabel);
        // 25 lines with the source and 8 without, at most some 70 bytes each besides the labels,
        // and the statuses: enough that the buffer seldom grows.
        expected += 25 * (withSource.last().size() + 72) + (8 + h.statuses.size()) * (hostIp.last().size() + 72) +
                    64 * (h.labels.size() + 1);
    }

    PageWriter out(expected);
    auto counter = [&](const char* name, const char* help, auto value) {
        out.family(name, "counter", help);
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            out.putCString(name);
            out.put('{');
            out.put(withSource[i]);
            out.put("} ");
            out.number(quint64(value(hosts[i])));
            out.put('\n');
        }
    };
    counter("smokeping_requests_total", "Echo requests sent.", [](const HostMetrics& h) { return h.requests; });

    // The bounds' texts once, not once per host: 10,000 hosts make 210,000 bucket lines.
    static const std::array<QByteArray, RttBucketCount + 1> bucketTails = [] {
        std::array<QByteArray, RttBucketCount + 1> tails;
        for (int b = 0; b <= RttBucketCount; ++b) {
            tails[std::size_t(b)] =
                ",le=\"" + (b < RttBucketCount ? numberText(rttBucketBound(b)) : QByteArray("+Inf")) + "\"} ";
        }
        return tails;
    }();
    out.family("smokeping_response_duration_seconds", "histogram", "Round trips of the echo replies.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        const HostMetrics& h = hosts[i];
        quint64 cumulative = 0;
        for (int b = 0; b <= RttBucketCount; ++b) {
            cumulative += h.buckets[std::size_t(b)];
            out.put("smokeping_response_duration_seconds_bucket{");
            out.put(withSource[i]);
            out.put(bucketTails[std::size_t(b)]);
            out.number(cumulative);
            out.put('\n');
        }
        out.put("smokeping_response_duration_seconds_sum{");
        out.put(withSource[i]);
        out.put("} ");
        out.number(h.rttSumSeconds);
        out.put("\nsmokeping_response_duration_seconds_count{");
        out.put(withSource[i]);
        out.put("} ");
        out.number(h.replies);
        out.put('\n');
    }
    counter("smokeping_send_errors_total", "Echo requests that could not be sent.",
            [](const HostMetrics& h) { return h.sendErrors; });

    out.family("tivane_host_info", "gauge", "The hosts probed, with their names and labels.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        out.put("tivane_host_info{");
        out.put(hostIp[i]);
        out.put(",name=\"");
        out.put(escapeLabelValue(hosts[i].name));
        out.put('"');
        for (auto it = hosts[i].labels.cbegin(); it != hosts[i].labels.cend(); ++it) {
            out.put(',');
            out.put(it.key().toUtf8());
            out.put("=\"");
            out.put(escapeLabelValue(it.value()));
            out.put('"');
        }
        out.put("} 1\n");
    }

    out.family("tivane_host_up", "gauge", "1 while the host is up, 0 while it is not; absent while unknown.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        if (hosts[i].state == monitor::HostState::Unknown)
            continue;
        out.put("tivane_host_up{");
        out.put(hostIp[i]);
        out.putCString(hosts[i].state == monitor::HostState::Up ? "} 1\n" : "} 0\n");
    }

    out.family("tivane_host_state", "gauge", "1 for the host's present state, 0 for the others.");
    static const char* const states[] = {"unknown", "up", "degraded", "down"};
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        const char* now = stateLabel(hosts[i].state);
        for (const char* s : states) {
            out.put("tivane_host_state{");
            out.put(hostIp[i]);
            out.put(",state=\"");
            out.putCString(s);
            out.put("\"} ");
            out.putCString(std::strcmp(s, now) == 0 ? "1\n" : "0\n");
        }
    }

    out.family("tivane_host_last_change_timestamp_seconds", "gauge", "When the host's present state began.");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        if (hosts[i].stateSinceMs <= 0)
            continue;
        out.put("tivane_host_last_change_timestamp_seconds{");
        out.put(hostIp[i]);
        out.put("} ");
        out.number(double(hosts[i].stateSinceMs) / 1000.0, std::chars_format::fixed);
        out.put('\n');
    }

    out.family("tivane_status_total", "counter", "Probe outcomes by status code (0 a reply, -1 not sent).");
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        for (auto it = hosts[i].statuses.cbegin(); it != hosts[i].statuses.cend(); ++it) {
            out.put("tivane_status_total{");
            out.put(hostIp[i]);
            out.put(",status=\"");
            out.number(it.key());
            out.put("\"} ");
            out.number(it.value());
            out.put('\n');
        }
    }

    out.family("tivane_list_load_errors_total", "counter", "List and target files that could not be used.");
    out.put("tivane_list_load_errors_total ");
    out.number(listLoadErrors);
    out.put('\n');
    return out.take();
}

} // namespace headless
