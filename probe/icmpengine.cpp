#include "icmpengine.h"
#include "icmpcore.h"

#include <QPointer>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>

namespace mdlPing::detail {

// The one read notifier on an endpoint's socket, shared by all engines on it (an event
// loop takes a single notifier per socket). It only reads: the endpoint hands each
// outcome to its engine through the engine's wake descriptor.
class SocketWatch : public QObject
{
public:
    explicit SocketWatch(std::shared_ptr<IcmpCore> core) : m_core(std::move(core)) {}

    static std::shared_ptr<SocketWatch> forCore(const std::shared_ptr<IcmpCore>& core)
    {
        static std::mutex mutex;
        static std::map<const IcmpCore*, std::weak_ptr<SocketWatch>> watches;
        const std::lock_guard lock(mutex);
        std::erase_if(watches, [](const auto& entry) { return entry.second.expired(); });
        std::weak_ptr<SocketWatch>& slot = watches[core.get()];
        std::shared_ptr<SocketWatch> watch = slot.lock();
        if (!watch) {
            watch = std::make_shared<SocketWatch>(core);
            slot = watch;
        }
        return watch;
    }

    // Follows the endpoint to a new socket after a broken one was replaced.
    void refresh()
    {
        const unsigned generation = m_core->generation();
        if (m_notifier && generation == m_generation)
            return;
        delete m_notifier;
        m_notifier = nullptr;
        m_generation = generation;
        const int fd = m_core->descriptor();
        if (fd < 0)
            return;
        // Readable covers the error queue too: the event loop also wakes on POLLERR.
        m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            m_core->tryPump();
            refresh();
        });
    }

private:
    std::shared_ptr<IcmpCore> m_core;
    QSocketNotifier* m_notifier = nullptr;
    unsigned m_generation = 0;
};

} // namespace mdlPing::detail

namespace mdlPing {

IcmpEngine::IcmpEngine(QObject* parent) : IcmpEngine(detail::IcmpCore::process(), parent) {}

IcmpEngine::IcmpEngine(std::shared_ptr<detail::IcmpCore> core, QObject* parent)
    : QObject(parent), m_core(std::move(core)), m_watch(detail::SocketWatch::forCore(m_core))
{
    // Every outcome comes through here, whichever thread read it.
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd >= 0) {
        m_wakeNotifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
        connect(m_wakeNotifier, &QSocketNotifier::activated, this, &IcmpEngine::onWake);
    }
    m_owner = m_core->addOwner(m_wakeFd);
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &IcmpEngine::onDeadline);
    m_watch->refresh();
}

IcmpEngine::~IcmpEngine()
{
    m_core->removeOwner(m_owner);
    delete m_wakeNotifier;
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

quint64 IcmpEngine::start(const QString& address)
{
    const quint64 id = ++m_lastId;
    m_live.insert(id);
    const std::optional<std::uint32_t> destination = detail::parseAddress(address);
    if (!destination) {
        m_badAddresses.push_back(id);
        queueDelivery();
        return id;
    }
    const bool inFlight = m_core->start(m_owner, id, *destination);
    m_watch->refresh();
    if (!inFlight)
        queueDelivery();
    else if (!m_deadline.isActive())
        armTimer(); // later probes have later deadlines
    return id;
}

void IcmpEngine::cancel(quint64 id)
{
    if (m_live.erase(id) == 0)
        return;
    m_core->cancel(m_owner, id);
}

void IcmpEngine::cancelAll()
{
    m_live.clear();
    m_badAddresses.clear();
    m_core->cancelAll(m_owner);
    m_deadline.stop();
}

void IcmpEngine::onWake()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof count);
    m_watch->refresh();
    deliver();
}

void IcmpEngine::onDeadline()
{
    // After a busy spell of the event loop the timer and the socket are both due: an
    // answer that came in time must be read before its probe is declared timed out.
    m_core->tryPump();
    m_core->expire(m_owner);
    deliver();
}

void IcmpEngine::queueDelivery()
{
    if (m_deliveryQueued)
        return;
    m_deliveryQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_deliveryQueued = false;
            deliver();
        },
        Qt::QueuedConnection);
}

void IcmpEngine::deliver()
{
    std::vector<std::pair<std::uint64_t, detail::ProbeOutcome>> outcomes = m_core->takeFinished(m_owner);
    for (const quint64 id : std::exchange(m_badAddresses, {})) {
        detail::ProbeOutcome outcome;
        outcome.failure = Failure::BadAddress;
        outcomes.emplace_back(id, outcome);
    }
    // A receiver may start, cancel or even delete us while we report.
    const QPointer<IcmpEngine> alive(this);
    for (const auto& [id, outcome] : outcomes) {
        if (m_live.erase(id) == 0)
            continue;
        if (outcome.status == -1)
            detail::setLastFailure(outcome.failure, outcome.error);
        emit finished(id, outcome.status, outcome.roundTripMs, outcome.roundTripUs, outcome.failure);
        if (!alive)
            return;
    }
    armTimer();
}

void IcmpEngine::armTimer()
{
    const std::optional<detail::Clock::time_point> next = m_core->nextDeadline(m_owner);
    if (!next) {
        m_deadline.stop();
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - detail::Clock::now());
    m_deadline.start(static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
}

} // namespace mdlPing
