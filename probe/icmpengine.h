#pragma once

#include "mdlping.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

class QSocketNotifier;

namespace mdlPing {

namespace detail {
class IcmpCore;
class SocketWatch;
} // namespace detail

// Echo requests that wait without blocking: start() sends at once and returns, the outcome
// arrives later through finished() from the event loop of the engine's thread. Each probe
// has its own 1000 ms deadline; hundreds may be in flight together. All engines of the
// process share its one ICMP endpoint unless given another; the engines of one endpoint
// belong to one thread.
class IcmpEngine : public QObject
{
    Q_OBJECT

public:
    explicit IcmpEngine(QObject* parent = nullptr);
    explicit IcmpEngine(std::shared_ptr<detail::IcmpCore> core, QObject* parent = nullptr);
    ~IcmpEngine() override;

    // Sends one request to the dotted IPv4 address and returns the probe's id (never 0).
    // A request that cannot be sent finishes too, with status -1 and the reason, but
    // like every outcome only once control is back in the event loop.
    quint64 start(const QString& address);
    // The probe's outcome is never reported; a reply that still comes is ignored.
    void cancel(quint64 id);
    void cancelAll();
    // Probes started and neither finished nor cancelled.
    int pending() const { return static_cast<int>(m_live.size()); }

signals:
    // status: 0 success, 11001..11050 failures (11010 timed out), -1 nothing was sent
    // (failure says why). The round trip is measured from the send to the outcome; it is
    // 0 when nothing was sent.
    void finished(quint64 id, std::int32_t status, std::int32_t roundTripMs, qint64 roundTripUs,
                  mdlPing::Failure failure);

private:
    void onWake();
    void onDeadline();
    void queueDelivery();
    void deliver();
    void armTimer();

    std::shared_ptr<detail::IcmpCore> m_core;
    std::uint64_t m_owner = 0;
    int m_wakeFd = -1;
    QSocketNotifier* m_wakeNotifier = nullptr;
    std::shared_ptr<detail::SocketWatch> m_watch;
    QTimer m_deadline;
    quint64 m_lastId = 0;
    std::unordered_set<quint64> m_live;
    std::vector<quint64> m_badAddresses;
    bool m_deliveryQueued = false;
};

} // namespace mdlPing
