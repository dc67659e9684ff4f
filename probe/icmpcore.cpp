#include "icmpcore.h"
#include "icmppacket.h"

#include <arpa/inet.h>
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

namespace mdlPing::detail {

namespace {

using namespace mdlPing::packet;
using Milliseconds = std::chrono::milliseconds;
using Microseconds = std::chrono::microseconds;

// Enough for a sweep's 256 requests in flight to have their replies queued at once.
constexpr int kReceiveBuffer = 1 << 20;
// Reads per wake-up, so a flood of foreign ICMP cannot keep a reader in its loop.
constexpr int kReadsPerPump = 512;

std::uint16_t random16()
{
    std::uint16_t value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value))
        return value;
    std::random_device device;
    return static_cast<std::uint16_t>(device());
}

bool isPermissionError(int error)
{
    return error == EACCES || error == EPERM;
}

// Errors after which the socket itself is of no further use.
bool isBrokenSocketError(int error)
{
    return error == EBADF || error == ENOTSOCK || error == EPIPE || error == EFAULT;
}

// Keeps a raw socket from queueing everything the host's ICMP traffic consists of: only
// echo replies carrying our identifier and the error types that can concern our requests
// get through, so a ping flood elsewhere neither fills the receive buffer nor wakes us.
void installRawFilters(int fd, std::uint16_t identifier)
{
    icmp_filter types{};
    types.data = ~((1U << ICMP_ECHOREPLY) | (1U << ICMP_DEST_UNREACH) | (1U << ICMP_SOURCE_QUENCH) |
                   (1U << ICMP_REDIRECT) | (1U << ICMP_TIME_EXCEEDED) | (1U << ICMP_PARAMETERPROB));
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &types, sizeof types);

    sock_filter program[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                    // X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                     // A = ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 2), // errors: accept
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                     // A = echo identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog fprog{static_cast<unsigned short>(std::size(program)), program};
    // Both filters only save work: every packet is checked again after it is read.
    ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog);
}

// Binds a datagram socket to an identifier a spoofer cannot predict (the kernel hands
// them out one after another); the kernel's own choice is the fallback.
std::uint16_t bindIdentifier(int fd)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(random16());
        if (local.sin_port != 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
            break;
    }
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_port == 0) {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return 0;
    }
    return ntohs(local.sin_port);
}

// Errors an ICMP error about an earlier request can leave pending on the socket.
bool mayBePendingError(int error)
{
    switch (error) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EPROTO:
    case EMSGSIZE:
    case ENOPROTOOPT:
    case EACCES:
    case EHOSTDOWN:
    case ENONET:
    case EOPNOTSUPP:
    case ETIMEDOUT:
        return true;
    default:
        return false;
    }
}

void fillTimes(ProbeOutcome& outcome, Clock::time_point sent, Clock::time_point at)
{
    const auto elapsed = std::max(at - sent, Clock::duration::zero());
    outcome.roundTripMs = static_cast<std::int32_t>(std::chrono::floor<Milliseconds>(elapsed).count());
    outcome.roundTripUs = std::chrono::floor<Microseconds>(elapsed).count();
}

ProbeOutcome failedOpen(int error)
{
    ProbeOutcome outcome;
    outcome.status = -1;
    outcome.failure = isPermissionError(error) ? Failure::NotPermitted : Failure::NoSocket;
    outcome.error = error;
    return outcome;
}

ProbeOutcome statusOnly(std::int32_t status)
{
    ProbeOutcome outcome;
    outcome.status = status;
    return outcome;
}

// When a packet reached the host, from the kernel's receive stamp: the event loop may
// read it much later (a busy window), and neither the round trip nor the deadline may pay
// for that. The stamp is wall-clock time, so only its age is used; without a sensible
// stamp the packet counts as arriving now.
Clock::time_point arrivalOf(msghdr& message)
{
    const Clock::time_point now = Clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        timespec wall;
        if (::clock_gettime(CLOCK_REALTIME, &wall) != 0)
            return now;
        const auto age =
            std::chrono::seconds(wall.tv_sec - stamp.tv_sec) + std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
        // A clock set meanwhile makes the age meaningless.
        if (age < Clock::duration::zero() || age > std::chrono::seconds(10))
            return now;
        return now - std::chrono::duration_cast<Clock::duration>(age);
    }
    return now;
}

void wake(int fd)
{
    const std::uint64_t one = 1;
    // A full counter already wakes the owner.
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

} // namespace

std::optional<std::uint32_t> parseAddress(const QString& address)
{
    // inet_addr keeps the classic forms ("10.1", octal, hex) that saved host lists use.
    const QByteArray text = address.toUtf8();
    if (text.contains('\0'))
        return std::nullopt;
    const in_addr_t destination = ::inet_addr(text.constData());
    if (destination == INADDR_NONE || destination == 0)
        return std::nullopt;
    return destination;
}

IcmpCore::IcmpCore(SocketKind kind) : m_kind(kind), m_sequence(random16()) {}

IcmpCore::~IcmpCore()
{
    closeLocked();
}

const std::shared_ptr<IcmpCore>& IcmpCore::process()
{
    static const std::shared_ptr<IcmpCore> core = std::make_shared<IcmpCore>();
    return core;
}

int IcmpCore::open()
{
    const Lock lock(m_mutex);
    return openLocked();
}

void IcmpCore::reset(SocketKind kind)
{
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

int IcmpCore::openLocked()
{
    if (m_fd >= 0)
        return 0;
    int fd = -1;
    bool raw = false;
    int error = 0;
    if (m_kind != SocketKind::Raw) {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
        if (fd < 0) {
            error = errno;
            // A refused datagram socket is the normal case for users outside
            // net.ipv4.ping_group_range (root included); kernels built without ping
            // sockets say so with EPROTONOSUPPORT. Both may still have cap_net_raw.
            const bool tryRaw = isPermissionError(error) || error == EPROTONOSUPPORT || error == ESOCKTNOSUPPORT;
            if (m_kind == SocketKind::Datagram || !tryRaw)
                return error;
        }
    }
    if (fd < 0) {
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
        if (fd < 0)
            return errno;
        raw = true;
    }

    m_fd = fd;
    m_raw = raw;
    ++m_generation;
    if (raw) {
        // Every raw socket of the host sees every reply: the identifier tells ours apart.
        m_identifier = random16();
        installRawFilters(fd, m_identifier);
    } else {
        m_identifier = bindIdentifier(fd);
    }
    // A datagram socket learns of ICMP errors about its requests only through the error
    // queue; a raw socket reads them as packets, but without this option the kernel would
    // hide a send that a full queue dropped (ENOBUFS). Either way a probe still works
    // without it (errors then end in a timeout), so a refusal is no reason to fail.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    // Stamps of arrival, so that a late read neither lengthens a round trip nor turns an
    // answer that came in time into a timeout. Without them the read time counts.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return 0;
}

int IcmpCore::clearPendingErrorLocked()
{
    int pending = 0;
    socklen_t length = sizeof pending;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &pending, &length);
    return pending;
}

void IcmpCore::closeLocked()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void IcmpCore::breakLocked()
{
    // The requests in flight went out through the broken socket; their answers would
    // never be read.
    const Clock::time_point now = Clock::now();
    for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
        auto current = it++;
        if (!current->second.done)
            completeLocked(current, statusOnly(kStatusGeneralFailure), now);
    }
    closeLocked();
    // A datagram socket needs no rights and comes back at once; a raw one only while the
    // process still may open one (not after it gave up its capabilities), else the next
    // probes report why they cannot be sent.
    openLocked();
    m_changed.notify_all();
}

std::optional<std::uint16_t> IcmpCore::sendLocked(Owner owner, std::uint64_t id, std::uint32_t destination,
                                                  ProbeOutcome* immediate)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const int error = openLocked()) {
            *immediate = failedOpen(error);
            return std::nullopt;
        }
        if (m_inFlight.empty()) {
            // Nobody read the socket while nothing was in flight: what the host's other
            // ICMP traffic queued meanwhile could fill the buffer and crowd out our replies.
            pollfd watched{m_fd, POLLIN, 0};
            if (::poll(&watched, 1, 0) > 0) {
                pumpLocked(watched.revents);
                if (m_fd < 0)
                    continue;
            }
        }
        std::uint16_t sequence = m_sequence++;
        for (int skipped = 0; m_inFlight.count(sequence) && skipped < 65536; ++skipped)
            sequence = m_sequence++;
        if (m_inFlight.count(sequence)) {
            *immediate = statusOnly(kStatusNoResources);
            return std::nullopt;
        }

        const auto request = echoRequest(m_identifier, sequence, m_raw);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = destination;
        // An ICMP error about an earlier request leaves a pending error on the socket,
        // which the kernel hands to the next send instead of sending. Its details are in
        // the error queue already, so it is dropped here; one that slips in between is
        // seen by trying again (a send that truly failed sent nothing).
        clearPendingErrorLocked();
        const Clock::time_point sent = Clock::now();
        ssize_t result = -1;
        int error = 0;
        for (int tries = 0; tries < 4; ++tries) {
            result = ::sendto(m_fd, request.data(), request.size(), MSG_DONTWAIT,
                              reinterpret_cast<const sockaddr*>(&to), sizeof to);
            error = result < 0 ? errno : 0;
            if (error != EINTR && !(mayBePendingError(error) && tries < 2))
                break;
        }
        if (result >= 0) {
            if (!m_raw && m_identifier == 0) {
                // The socket could not be bound up front, so the send bound it: replies
                // carry the port the kernel chose.
                sockaddr_in local{};
                socklen_t length = sizeof local;
                if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
                    m_identifier = ntohs(local.sin_port);
            }
            Record& record = m_inFlight[sequence];
            record.owner = owner;
            record.id = id;
            record.destination = destination;
            record.sent = sent;
            record.deadline = sent + kReplyTimeout;
            return sequence;
        }
        if (isBrokenSocketError(error) && attempt == 0) {
            breakLocked();
            continue;
        }
        // Everything else belongs to this request alone (no route, a full queue, a
        // refused destination); the socket stays.
        *immediate = statusOnly(statusForSendError(error));
        fillTimes(*immediate, sent, Clock::now());
        return std::nullopt;
    }
    *immediate = statusOnly(kStatusGeneralFailure);
    return std::nullopt;
}

ProbeOutcome IcmpCore::ping(std::uint32_t destination)
{
    Lock lock(m_mutex);
    ProbeOutcome immediate;
    const std::optional<std::uint16_t> sent = sendLocked(0, 0, destination, &immediate);
    if (!sent)
        return immediate;
    const std::uint16_t sequence = *sent;

    for (;;) {
        const auto it = m_inFlight.find(sequence);
        if (it == m_inFlight.end())
            return statusOnly(kStatusGeneralFailure); // cannot happen: only we remove it
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
            completeLocked(it, statusOnly(kStatusTimedOut), now);
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
    const Lock lock(m_mutex);
    const Owner owner = ++m_lastOwner;
    m_owners[owner] = wakeFd;
    return owner;
}

void IcmpCore::removeOwner(Owner owner)
{
    const Lock lock(m_mutex);
    std::erase_if(m_inFlight, [owner](const auto& entry) { return entry.second.owner == owner; });
    m_finished.erase(owner);
    m_owners.erase(owner);
}

bool IcmpCore::start(Owner owner, std::uint64_t id, std::uint32_t destination)
{
    const Lock lock(m_mutex);
    ProbeOutcome immediate;
    if (sendLocked(owner, id, destination, &immediate))
        return true;
    m_finished[owner].emplace_back(id, immediate);
    return false;
}

void IcmpCore::cancel(Owner owner, std::uint64_t id)
{
    const Lock lock(m_mutex);
    std::erase_if(m_inFlight,
                  [owner, id](const auto& entry) { return entry.second.owner == owner && entry.second.id == id; });
    auto finished = m_finished.find(owner);
    if (finished != m_finished.end())
        std::erase_if(finished->second, [id](const auto& entry) { return entry.first == id; });
}

void IcmpCore::cancelAll(Owner owner)
{
    const Lock lock(m_mutex);
    std::erase_if(m_inFlight, [owner](const auto& entry) { return entry.second.owner == owner; });
    m_finished.erase(owner);
}

void IcmpCore::tryPump()
{
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
    const Lock lock(m_mutex);
    const Clock::time_point now = Clock::now();
    for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
        auto current = it++;
        if (current->second.owner == owner && !current->second.done && now >= current->second.deadline)
            completeLocked(current, statusOnly(kStatusTimedOut), now);
    }
}

std::vector<std::pair<std::uint64_t, ProbeOutcome>> IcmpCore::takeFinished(Owner owner)
{
    const Lock lock(m_mutex);
    const auto it = m_finished.find(owner);
    if (it == m_finished.end())
        return {};
    return std::exchange(it->second, {});
}

std::optional<Clock::time_point> IcmpCore::nextDeadline(Owner owner) const
{
    const Lock lock(m_mutex);
    std::optional<Clock::time_point> next;
    for (const auto& [sequence, record] : m_inFlight) {
        if (record.owner == owner && !record.done && (!next || record.deadline < *next))
            next = record.deadline;
    }
    return next;
}

int IcmpCore::inFlight(Owner owner) const
{
    const Lock lock(m_mutex);
    return static_cast<int>(std::count_if(m_inFlight.begin(), m_inFlight.end(),
                                          [owner](const auto& entry) { return entry.second.owner == owner; }));
}

void IcmpCore::pumpLocked(short revents)
{
    bool broken = false;
    if (revents & POLLERR)
        broken = !drainErrorQueueLocked();
    if (!broken && (revents & POLLIN))
        broken = !drainPacketsLocked();
    // A socket that hangs up or goes invalid would otherwise wake every reader at once,
    // for good.
    if (broken || (revents & (POLLHUP | POLLNVAL)))
        breakLocked();
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

void IcmpCore::dispatchLocked(std::uint16_t sequence, std::uint32_t destination, ProbeOutcome outcome,
                              Clock::time_point arrived)
{
    const auto it = m_inFlight.find(sequence);
    if (it == m_inFlight.end() || it->second.done || it->second.destination != destination)
        return;
    // An answer that reached the host after the deadline is late, however it came.
    if (arrived > it->second.deadline)
        return;
    completeLocked(it, outcome, std::max(arrived, it->second.sent));
}

bool IcmpCore::drainPacketsLocked()
{
    for (int reads = 0; reads < kReadsPerPump; ++reads) {
        sockaddr_in from{};
        iovec data{m_buffer, sizeof m_buffer};
        alignas(cmsghdr) std::uint8_t control[128];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        if (size < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            if (isBrokenSocketError(errno) || errno == EINVAL)
                return false;
            // Every ICMP error that reaches the error queue also sets a pending socket
            // error, which a receive returns instead of data. That error is only a
            // notice: its details are read from the queue.
            continue;
        }
        if (size == 0)
            return true;
        const auto length = static_cast<std::size_t>(size);
        const std::optional<Packet> packet =
            m_raw ? parseRawPacket(m_buffer, length) : parseDatagramReply(m_buffer, length, from.sin_addr.s_addr);
        if (!packet || packet->identifier != m_identifier)
            continue;
        ProbeOutcome outcome = statusOnly(packet->status);
        outcome.from = packet->source;
        const Clock::time_point arrived = arrivalOf(message);
        if (packet->kind == Packet::Kind::EchoReply) {
            const std::size_t copied = std::min(packet->dataSize, outcome.data.size());
            std::memcpy(outcome.data.data(), packet->data, copied);
            outcome.dataSize = static_cast<std::uint16_t>(copied);
            dispatchLocked(packet->sequence, packet->source, outcome, arrived);
        } else {
            dispatchLocked(packet->sequence, packet->quotedDestination, outcome, arrived);
        }
    }
    return true;
}

bool IcmpCore::drainErrorQueueLocked()
{
    for (int reads = 0; reads < kReadsPerPump; ++reads) {
        sockaddr_in original{};
        iovec data{m_buffer, sizeof m_buffer};
        alignas(cmsghdr) std::uint8_t control[512];
        msghdr message{};
        message.msg_name = &original;
        message.msg_namelen = sizeof original;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (size < 0 && errno == EINTR)
            continue;
        if (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return !isBrokenSocketError(errno) && errno != EINVAL;
        if (size < 0) {
            // With the queue empty, a pending error left behind would make every poll()
            // return at once.
            int pending = 0;
            socklen_t length = sizeof pending;
            ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &pending, &length);
            return true;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
                continue;
            const auto* error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
            sock_extended_err details;
            std::memcpy(&details, error, sizeof details);
            if (details.ee_origin == SO_EE_ORIGIN_LOCAL) {
                // A local error names only the destination: it ends the oldest request
                // to it that is still waiting.
                auto oldest = m_inFlight.end();
                for (auto it = m_inFlight.begin(); it != m_inFlight.end(); ++it) {
                    if (!it->second.done && it->second.destination == original.sin_addr.s_addr &&
                        (oldest == m_inFlight.end() || it->second.sent < oldest->second.sent))
                        oldest = it;
                }
                if (oldest != m_inFlight.end())
                    completeLocked(oldest, statusOnly(statusForSendError(static_cast<int>(details.ee_errno))),
                                   std::max(arrivalOf(message), oldest->second.sent));
                continue;
            }
            // A raw socket's queue holds every ICMP error about anybody's ICMP traffic; it
            // judges errors by the packets it reads, which carry the quoted request whole.
            if (details.ee_origin != SO_EE_ORIGIN_ICMP || m_raw)
                continue;
            // The queued data is our echo request as the error quoted it, and the name
            // is the destination the quoted request was sent to.
            const std::optional<EchoId> quoted = parseQuotedEcho(m_buffer, static_cast<std::size_t>(size));
            if (!quoted || quoted->identifier != m_identifier)
                continue;
            const std::optional<std::int32_t> status = statusForIcmpError(details.ee_type, details.ee_code);
            if (!status)
                continue;
            ProbeOutcome outcome = statusOnly(*status);
            sockaddr_in offender;
            std::memcpy(&offender, SO_EE_OFFENDER(error), sizeof offender);
            if (offender.sin_family == AF_INET)
                outcome.from = offender.sin_addr.s_addr;
            dispatchLocked(quoted->sequence, original.sin_addr.s_addr, outcome, arrivalOf(message));
        }
    }
    return true;
}

} // namespace mdlPing::detail
