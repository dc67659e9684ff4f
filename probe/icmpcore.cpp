#include "probe/icmpcore.h"
#include "probe/icmppacket.h"
#include "probe/icmpsocket_p.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include <QUrl>
// The endpoint's table of requests in flight, their owners and deadlines, and blocking probes.
namespace mdlPing::detail {

using namespace sockets;
using namespace mdlPing::packet;

IcmpCore::IcmpCore(SocketKind kind, int family) : m_kind(kind), m_family(family), m_sequence(random16())
{
    if (family == AF_INET)
        m_v6 = std::make_shared<IcmpCore>(kind, AF_INET6);
}

IcmpCore::~IcmpCore()
{
    closeLocked();
}

const std::shared_ptr<IcmpCore>& IcmpCore::process()
{
    // Never destroyed: at exit the kernel closes the endpoint, and helpers end on their own
    // (the channel's end, the death signal) without the program waiting to reap them.
    static const auto* const core = new std::shared_ptr<IcmpCore>(std::make_shared<IcmpCore>());
    return *core;
}

int IcmpCore::open()
{
    if (m_v6)
        m_v6->open();
    const Lock lock(m_mutex);
    return openLocked();
}

void IcmpCore::reset(SocketKind kind)
{
    if (m_v6)
        m_v6->reset(kind);
    const Lock lock(m_mutex);
    closeLocked();
    m_kind = kind;
}

SocketKind IcmpCore::kind() const
{
    const Lock lock(m_mutex);
    return m_kind;
}

int IcmpCore::descriptor() const
{
    const Lock lock(m_mutex);
    return m_fd;
}

bool IcmpCore::isRaw() const
{
    const Lock lock(m_mutex);
    return m_raw;
}

unsigned IcmpCore::generation() const
{
    const Lock lock(m_mutex);
    return m_generation;
}

std::uint16_t IcmpCore::identifier() const
{
    const Lock lock(m_mutex);
    return m_identifier;
}

std::uint16_t IcmpCore::nextSequence() const
{
    const Lock lock(m_mutex);
    return m_sequence;
}

bool IcmpCore::viaHelper() const
{
    const Lock lock(m_mutex);
    return m_helper.channel >= 0;
}

pid_t IcmpCore::helperPid() const
{
    const Lock lock(m_mutex);
    return m_helper.pid;
}

ProbeOutcome IcmpCore::ping(std::uint32_t destination)
{
    return ping(IpAddress::v4(destination));
}

ProbeOutcome IcmpCore::ping(const IpAddress& destination)
{
    if (destination.isV6() && m_v6)
        return m_v6->ping(destination);
    if (destination.family != m_family)
        return statusOnly(statusCode(Status::BadDestination));
    Lock lock(m_mutex);
    ProbeOutcome immediate;
    const std::optional<std::uint16_t> sent = sendLocked(0, 0, destination, &immediate);
    if (!sent)
        return immediate;
    const std::uint16_t sequence = *sent;

    for (;;) {
        const auto it = m_inFlight.find(sequence);
        if (it == m_inFlight.end())
            return statusOnly(statusCode(Status::GeneralFailure)); // cannot happen: only we remove it
        if (it->second.done) {
            ProbeOutcome outcome = it->second.outcome;
            m_inFlight.erase(it);
            return outcome;
        }
        const Clock::time_point now = Clock::now();
        const Clock::time_point deadline = it->second.deadline;
        if (now >= deadline) {
            // A timed-out request still reports how long it waited (the full timeout,
            // give or take the scheduler): a real figure for callers showing round trips.
            completeLocked(it, statusOnly(statusCode(Status::TimedOut)), now);
            continue;
        }
        if (m_pumping) {
            // Another thread reads the socket and hands our outcome over.
            m_changed.wait_until(lock, deadline);
            continue;
        }
        m_pumping = true;
        const int fd = m_fd;
        lock.unlock();
        pollfd watched{fd, POLLIN, 0};
        const auto left = std::chrono::ceil<Milliseconds>(deadline - now);
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        const int pollError = ready < 0 ? errno : 0;
        lock.lock();
        m_pumping = false;
        if (ready > 0 && fd == m_fd)
            pumpLocked(watched.revents);
        else if (ready < 0 && pollError != EINTR && pollError != ENOMEM)
            breakLocked();
        m_changed.notify_all();
    }
}

IcmpCore::Owner IcmpCore::addOwner(int wakeFd)
{
    Owner owner = 0;
    {
        const Lock lock(m_mutex);
        owner = ++m_lastOwner;
        m_owners[owner] = wakeFd;
    }
    if (m_v6)
        m_v6->addOwnerAs(owner, wakeFd);
    return owner;
}

void IcmpCore::addOwnerAs(Owner owner, int wakeFd)
{
    const Lock lock(m_mutex);
    m_owners[owner] = wakeFd;
}

void IcmpCore::removeOwner(Owner owner)
{
    if (m_v6)
        m_v6->removeOwner(owner);
    const Lock lock(m_mutex);
    std::erase_if(m_inFlight, [owner](const auto& entry) { return entry.second.owner == owner; });
    m_finished.erase(owner);
    m_owners.erase(owner);
}

bool IcmpCore::start(Owner owner, std::uint64_t id, std::uint32_t destination)
{
    return start(owner, id, IpAddress::v4(destination));
}

bool IcmpCore::start(Owner owner, std::uint64_t id, const IpAddress& destination)
{
    if (destination.isV6() && m_v6)
        return m_v6->start(owner, id, destination);
    const Lock lock(m_mutex);
    if (destination.family != m_family) {
        m_finished[owner].emplace_back(id, statusOnly(statusCode(Status::BadDestination)));
        return false;
    }
    ProbeOutcome immediate;
    if (sendLocked(owner, id, destination, &immediate))
        return true;
    m_finished[owner].emplace_back(id, immediate);
    return false;
}

void IcmpCore::cancel(Owner owner, std::uint64_t id)
{
    if (m_v6)
        m_v6->cancel(owner, id);
    const Lock lock(m_mutex);
    std::erase_if(m_inFlight,
                  [owner, id](const auto& entry) { return entry.second.owner == owner && entry.second.id == id; });
    auto finished = m_finished.find(owner);
    if (finished != m_finished.end())
        std::erase_if(finished->second, [id](const auto& entry) { return entry.first == id; });
}

void IcmpCore::cancelAll(Owner owner)
{
    if (m_v6)
        m_v6->cancelAll(owner);
    const Lock lock(m_mutex);
    std::erase_if(m_inFlight, [owner](const auto& entry) { return entry.second.owner == owner; });
    m_finished.erase(owner);
}

void IcmpCore::tryPump()
{
    if (m_v6)
        m_v6->tryPump();
    const Lock lock(m_mutex);
    if (m_pumping || m_fd < 0)
        return;
    pollfd watched{m_fd, POLLIN, 0};
    if (::poll(&watched, 1, 0) > 0)
        pumpLocked(watched.revents);
    m_changed.notify_all();
}

void IcmpCore::expire(Owner owner)
{
    if (m_v6)
        m_v6->expire(owner);
    const Lock lock(m_mutex);
    const Clock::time_point now = Clock::now();
    for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
        auto current = it++;
        if (current->second.owner == owner && !current->second.done && now >= current->second.deadline)
            completeLocked(current, statusOnly(statusCode(Status::TimedOut)), now);
    }
}

std::vector<std::pair<std::uint64_t, ProbeOutcome>> IcmpCore::takeFinished(Owner owner)
{
    std::vector<std::pair<std::uint64_t, ProbeOutcome>> finished;
    {
        const Lock lock(m_mutex);
        const auto it = m_finished.find(owner);
        if (it != m_finished.end())
            finished = std::exchange(it->second, {});
    }
    if (m_v6) {
        std::vector<std::pair<std::uint64_t, ProbeOutcome>> more = m_v6->takeFinished(owner);
        finished.insert(finished.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    return finished;
}

std::optional<Clock::time_point> IcmpCore::nextDeadline(Owner owner) const
{
    std::optional<Clock::time_point> next = m_v6 ? m_v6->nextDeadline(owner) : std::nullopt;
    const Lock lock(m_mutex);
    for (const auto& [sequence, record] : m_inFlight) {
        if (record.owner == owner && !record.done && (!next || record.deadline < *next))
            next = record.deadline;
    }
    return next;
}

int IcmpCore::inFlight(Owner owner) const
{
    const int v6 = m_v6 ? m_v6->inFlight(owner) : 0;
    const Lock lock(m_mutex);
    return v6 + static_cast<int>(std::count_if(m_inFlight.begin(), m_inFlight.end(),
                                               [owner](const auto& entry) { return entry.second.owner == owner; }));
}

void IcmpCore::completeLocked(std::unordered_map<std::uint16_t, Record>::iterator it, ProbeOutcome outcome,
                              Clock::time_point at)
{
    Record& record = it->second;
    fillTimes(outcome, record.sent, at);
    if (record.owner == 0) {
        record.done = true;
        record.outcome = outcome;
        return;
    }
    const Owner owner = record.owner;
    m_finished[owner].emplace_back(record.id, outcome);
    m_inFlight.erase(it);
    const auto wakeFd = m_owners.find(owner);
    if (wakeFd != m_owners.end())
        wake(wakeFd->second);
}

void IcmpCore::dispatchLocked(std::uint16_t sequence, const IpAddress& destination, ProbeOutcome outcome,
                              Clock::time_point arrived)
{
    const auto it = m_inFlight.find(sequence);
    if (it == m_inFlight.end() || it->second.done || !it->second.destination.sameHost(destination))
        return;
    // An answer that reached the host after the deadline is late, however it came.
    if (arrived > it->second.deadline)
        return;
    completeLocked(it, outcome, std::max(arrived, it->second.sent));
}

} // namespace mdlPing::detail
