#include "probe/icmpengine.h"
#include "probe/icmpcore.h"

#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

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

// Where the lookup threads leave their answers. It outlives the engine while lookups run,
// with a wake descriptor of its own, so a late answer never touches a closed one.
struct LookupBox
{
    explicit LookupBox(int engineWakeFd) : wakeFd(engineWakeFd >= 0 ? ::fcntl(engineWakeFd, F_DUPFD_CLOEXEC, 0) : -1) {}
    ~LookupBox()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
    LookupBox(const LookupBox&) = delete;
    LookupBox& operator=(const LookupBox&) = delete;

    struct Answer
    {
        quint64 id = 0;
        std::optional<IpAddress> address;
        QString error;
    };
    std::mutex mutex;
    const int wakeFd;
    std::vector<Answer> answers;
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
    m_lookups = std::make_shared<detail::LookupBox>(m_wakeFd);
    if (m_core->v6())
        m_watch6 = detail::SocketWatch::forCore(m_core->v6());
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &IcmpEngine::onDeadline);
    m_watch->refresh();
    if (m_watch6)
        m_watch6->refresh();
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
    const detail::Target target = detail::classifyAddress(address);
    switch (target.form) {
    case detail::Target::Form::Invalid:
        m_unsent.emplace_back(id, Failure::BadAddress);
        queueDelivery();
        break;
    case detail::Target::Form::Name:
        m_lookupQueue.emplace_back(id, target.name);
        launchLookups();
        break;
    case detail::Target::Form::Address:
        send(id, target.address);
        break;
    }
    return id;
}

void IcmpEngine::send(quint64 id, const detail::IpAddress& address)
{
    m_probed[id] = address.toString();
    const bool inFlight = m_core->start(m_owner, id, address);
    m_watch->refresh();
    if (m_watch6)
        m_watch6->refresh();
    if (!inFlight)
        queueDelivery();
    else if (!m_deadline.isActive())
        armTimer(); // later probes have later deadlines
}

void IcmpEngine::launchLookups()
{
    while (m_lookupsRunning < MaxLookups && !m_lookupQueue.empty()) {
        auto [id, name] = std::move(m_lookupQueue.front());
        m_lookupQueue.pop_front();
        if (!m_live.count(id))
            continue; // cancelled while it waited
        try {
            // Detached: a resolver that hangs must hold up neither the window nor the
            // program's end. The thread only ever touches the box.
            std::thread([box = m_lookups, id, name = std::move(name)] {
                QString error;
                std::optional<detail::IpAddress> address = detail::resolveName(name, &error);
                const std::lock_guard lock(box->mutex);
                box->answers.push_back({id, address, error});
                if (box->wakeFd >= 0) {
                    const std::uint64_t one = 1;
                    [[maybe_unused]] const ssize_t written = ::write(box->wakeFd, &one, sizeof one);
                }
            }).detach();
            ++m_lookupsRunning;
        } catch (const std::system_error& e) {
            m_unsent.emplace_back(id, Failure::NameNotFound);
            m_reasons[id] = QStringLiteral("host name lookup could not start: ") + QString::fromLocal8Bit(e.what());
            queueDelivery();
        }
    }
}

void IcmpEngine::takeLookups()
{
    std::vector<detail::LookupBox::Answer> answers;
    {
        const std::lock_guard lock(m_lookups->mutex);
        answers.swap(m_lookups->answers);
    }
    for (detail::LookupBox::Answer& answer : answers) {
        --m_lookupsRunning;
        if (!m_live.count(answer.id))
            continue; // cancelled while it was looked up
        if (answer.address) {
            send(answer.id, *answer.address);
        } else {
            m_unsent.emplace_back(answer.id, Failure::NameNotFound);
            m_reasons[answer.id] = answer.error;
        }
    }
    launchLookups();
}

void IcmpEngine::cancel(quint64 id)
{
    if (m_live.erase(id) == 0)
        return;
    m_probed.erase(id);
    m_reasons.erase(id);
    m_core->cancel(m_owner, id);
}

void IcmpEngine::cancelAll()
{
    m_live.clear();
    m_unsent.clear();
    m_reasons.clear();
    m_probed.clear();
    m_lookupQueue.clear();
    m_core->cancelAll(m_owner);
    m_deadline.stop();
}

void IcmpEngine::onWake()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof count);
    m_watch->refresh();
    if (m_watch6)
        m_watch6->refresh();
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
    takeLookups();
    std::vector<std::pair<std::uint64_t, detail::ProbeOutcome>> outcomes = m_core->takeFinished(m_owner);
    for (const auto& [id, failure] : std::exchange(m_unsent, {})) {
        detail::ProbeOutcome outcome;
        outcome.failure = failure;
        outcomes.emplace_back(id, outcome);
    }
    // A receiver may start, cancel or even delete us while we report.
    const QPointer<IcmpEngine> alive(this);
    for (const auto& [id, outcome] : outcomes) {
        if (m_live.erase(id) == 0)
            continue;
        Outcome reported;
        reported.status = outcome.status;
        reported.roundTripMs = outcome.roundTripMs;
        reported.roundTripUs = outcome.roundTripUs;
        reported.failure = outcome.failure;
        const auto probed = m_probed.find(id);
        if (probed != m_probed.end()) {
            if (outcome.status != -1)
                reported.probed = probed->second;
            m_probed.erase(probed);
        }
        const auto reason = m_reasons.find(id);
        if (reason != m_reasons.end()) {
            reported.reason = reason->second;
            m_reasons.erase(reason);
        }
        if (outcome.status == -1 && reported.reason.isEmpty())
            reported.reason = FailureText(outcome.failure, outcome.error);
        Q_EMIT finished(id, reported);
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
