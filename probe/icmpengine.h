#pragma once

#include "probe/mdlping.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace mdlPing {

namespace detail {
class IcmpCore;
class SocketWatch;
struct LookupBox;
struct IpAddress;
} // namespace detail

// Echo requests that wait without blocking: start() sends at once and returns, the outcome
// arrives later through finished() from the event loop of the engine's thread. Each probe
// has its own 1000 ms deadline, counted from its send; hundreds may be in flight together.
// Host names are looked up on threads of their own (started from the engine's thread, so
// they resolve in its network namespace), at each start: the window never waits for a
// resolver, and a sweep of many names resolves them side by side. All engines of the
// process share its one ICMP endpoint unless given another; the engines of one endpoint
// belong to one thread.
class IcmpEngine : public QObject
{
    Q_OBJECT

public:
    explicit IcmpEngine(QObject* parent = nullptr);
    explicit IcmpEngine(std::shared_ptr<detail::IcmpCore> core, QObject* parent = nullptr);
    ~IcmpEngine() override;

    // Sends one request to the IPv4 or IPv6 address, or to the first address of the host
    // name once it is looked up, and returns the probe's id (never 0). A request that
    // cannot be sent finishes too, with status -1 and the reason, but like every outcome
    // only once control is back in the event loop.
    quint64 start(const QString& address);
    // The probe's outcome is never reported; a reply that still comes, or the answer of a
    // lookup still running, is ignored.
    void cancel(quint64 id);
    void cancelAll();
    // Probes started and neither finished nor cancelled.
    int pending() const { return static_cast<int>(m_live.size()); }
    // Lookups whose answer has not been taken yet, cancelled ones included.
    int lookupsRunning() const { return m_lookupsRunning; }
    // Lookups running at once per engine; the others wait their turn.
    static constexpr int MaxLookups = 32;

Q_SIGNALS:
    // The probe's outcome: status 0 success, 11001..11050 failures (11010 timed out), -1
    // nothing was sent (failure and reason say why: the resolver's answer for names). The
    // round trip is measured from the send to the outcome; it is 0 when nothing was sent.
    void finished(quint64 id, const mdlPing::Outcome& outcome);

private:
    void onWake();
    void onDeadline();
    void queueDelivery();
    void deliver();
    void armTimer();
    void send(quint64 id, const detail::IpAddress& address);
    void launchLookups();
    void takeLookups();

    std::shared_ptr<detail::IcmpCore> m_core;
    std::uint64_t m_owner = 0;
    int m_wakeFd = -1;
    QSocketNotifier* m_wakeNotifier = nullptr;
    std::shared_ptr<detail::SocketWatch> m_watch;
    QTimer m_deadline;
    quint64 m_lastId = 0;
    std::unordered_set<quint64> m_live;
    std::shared_ptr<detail::SocketWatch> m_watch6;
    // Probes that ended before anything was sent: bad addresses and names not found.
    std::vector<std::pair<quint64, Failure>> m_unsent;
    std::unordered_map<quint64, QString> m_reasons;
    std::unordered_map<quint64, QString> m_probed;
    std::shared_ptr<detail::LookupBox> m_lookups;
    std::deque<std::pair<quint64, QByteArray>> m_lookupQueue;
    int m_lookupsRunning = 0;
    bool m_deliveryQueued = false;
};

} // namespace mdlPing
