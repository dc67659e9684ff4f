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
// The endpoint's sockets: opening the datagram, raw or helper path, sending, and the receive
// loops that read replies, errors and the helper's messages.
namespace mdlPing::detail {

namespace sockets {

using namespace mdlPing::packet;

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

// The socket address of a destination; its length.
socklen_t toSockaddr(const IpAddress& address, sockaddr_storage* storage)
{
    *storage = {};
    if (address.isV6()) {
        auto* to = reinterpret_cast<sockaddr_in6*>(storage);
        to->sin6_family = AF_INET6;
        std::memcpy(&to->sin6_addr, address.bytes.data(), 16);
        to->sin6_scope_id = address.scope;
        return sizeof(sockaddr_in6);
    }
    auto* to = reinterpret_cast<sockaddr_in*>(storage);
    to->sin_family = AF_INET;
    to->sin_addr.s_addr = address.v4Address();
    return sizeof(sockaddr_in);
}

IpAddress fromSockaddr(const sockaddr_storage& storage)
{
    if (storage.ss_family == AF_INET6) {
        const auto* from = reinterpret_cast<const sockaddr_in6*>(&storage);
        std::array<std::uint8_t, 16> bytes;
        std::memcpy(bytes.data(), &from->sin6_addr, 16);
        return IpAddress::v6(bytes, from->sin6_scope_id);
    }
    if (storage.ss_family == AF_INET)
        return IpAddress::v4(reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr);
    return {};
}

// Binds a datagram socket to an identifier a spoofer cannot predict (the kernel hands
// them out one after another); the kernel's own choice is the fallback.
std::uint16_t boundPort(int fd)
{
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    // sin_port and sin6_port lie at the same place.
    return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
}

std::uint16_t bindIdentifier(int fd, int family)
{
    // Both socket address kinds start with family and port.
    auto bindTo = [fd, family](std::uint16_t port) {
        sockaddr_storage local{};
        local.ss_family = static_cast<sa_family_t>(family);
        reinterpret_cast<sockaddr_in*>(&local)->sin_port = htons(port);
        const socklen_t length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&local), length) == 0;
    };
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::uint16_t port = random16();
        if (port != 0 && bindTo(port))
            break;
    }
    if (const std::uint16_t port = boundPort(fd))
        return port;
    bindTo(0);
    return boundPort(fd);
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
Clock::time_point arrivalAt(const timespec* stamp)
{
    const Clock::time_point now = Clock::now();
    timespec wall;
    if (!stamp || ::clock_gettime(CLOCK_REALTIME, &wall) != 0)
        return now;
    const auto age =
        std::chrono::seconds(wall.tv_sec - stamp->tv_sec) + std::chrono::nanoseconds(wall.tv_nsec - stamp->tv_nsec);
    // A clock set meanwhile makes the age meaningless.
    if (age < Clock::duration::zero() || age > std::chrono::seconds(10))
        return now;
    return now - std::chrono::duration_cast<Clock::duration>(age);
}

Clock::time_point arrivalOf(msghdr& message)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        return arrivalAt(&stamp);
    }
    return arrivalAt(nullptr);
}

IpAddress helperAddress(int family, const std::uint8_t (&bytes)[16], std::uint32_t scope)
{
    if (family == AF_INET6) {
        std::array<std::uint8_t, 16> address;
        std::memcpy(address.data(), bytes, 16);
        return IpAddress::v6(address, scope);
    }
    std::uint32_t v4;
    std::memcpy(&v4, bytes, 4);
    return IpAddress::v4(v4);
}

void wake(int fd)
{
    const std::uint64_t one = 1;
    // A full counter already wakes the owner.
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

} // namespace sockets

using namespace sockets;
using namespace mdlPing::packet;

int IcmpCore::openLocked()
{
    if (m_fd >= 0)
        return 0;
    int fd = -1;
    int error = 0;
    const bool v6 = m_family == AF_INET6;
    const int protocol = v6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP);
    if (m_kind == SocketKind::Automatic || m_kind == SocketKind::Datagram) {
        fd = ::socket(m_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
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
    const bool raw = fd < 0;
    if (raw) {
        fd = ::socket(m_family, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
        if (fd < 0)
            return errno;
        // Every raw socket of the host sees every reply: the identifier tells ours apart.
        m_identifier = random16();
    }
    if (raw && m_kind != SocketKind::Raw) {
        // The raw socket is the privilege itself: it goes to a process of its own, and this
        // one keeps only the channel to it.
        m_helper = helper::start(m_family, fd, m_identifier);
        if (m_helper.pid < 0)
            return errno;
        m_fd = m_helper.channel;
        m_raw = true;
        ++m_generation;
        return 0;
    }

    m_fd = fd;
    m_raw = raw;
    ++m_generation;
    if (raw)
        helper::installRawFilters(fd, m_family, m_identifier, false);
    else
        m_identifier = bindIdentifier(fd, m_family);
    // A datagram socket learns of ICMP errors about its requests only through the error
    // queue; a raw socket reads them as packets, but without this option the kernel would
    // hide a send that a full queue dropped (ENOBUFS). Either way a probe still works
    // without it (errors then end in a timeout), so a refusal is no reason to fail.
    const int on = 1;
    if (v6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    else
        ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    // Stamps of arrival, so that a late read neither lengthens a round trip nor turns an
    // answer that came in time into a timeout. Without them the read time counts.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return 0;
}

void IcmpCore::closeLocked()
{
    if (m_helper.pid >= 0)
        helper::stop(m_helper);
    else if (m_fd >= 0)
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
            completeLocked(current, statusOnly(statusCode(Status::GeneralFailure)), now);
    }
    closeLocked();
    // A datagram socket needs no rights and comes back at once; a raw one only while the
    // process still may open one (not after it gave up its capabilities), else the next
    // probes report why they cannot be sent.
    openLocked();
    m_changed.notify_all();
}

std::optional<std::uint16_t> IcmpCore::sendLocked(Owner owner, std::uint64_t id, const IpAddress& destination,
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
            *immediate = statusOnly(statusCode(Status::NoResources));
            return std::nullopt;
        }

        const Clock::time_point sent = Clock::now();
        // Filed before the send: the helper hands over what it already read with the send's
        // outcome, a loopback reply among it.
        Record& record = m_inFlight[sequence];
        record.owner = owner;
        record.id = id;
        record.destination = destination;
        record.sent = sent;
        record.deadline = sent + replyTimeout();
        int error = 0;
        if (m_helper.channel >= 0 && owner != 0) {
            error = postToHelperLocked(sequence, destination);
            record.posted = error == 0;
        } else if (m_helper.channel >= 0) {
            error = sendViaHelperLocked(sequence, destination);
        } else {
            const auto request = m_family == AF_INET6 ? echoRequestV6(m_identifier, sequence, payloadSize())
                                                      : echoRequest(m_identifier, sequence, m_raw, payloadSize());
            sockaddr_storage to;
            const socklen_t toLength = toSockaddr(destination, &to);
            error = helper::sendPast(m_fd, request.data(), request.size(), &to, toLength);
        }
        if (error == 0) {
            if (!m_raw && m_identifier == 0) {
                // The socket could not be bound up front, so the send bound it: replies
                // carry the port the kernel chose.
                m_identifier = boundPort(m_fd);
            }
            return sequence;
        }
        // Nothing went out, so nothing can have answered it.
        m_inFlight.erase(sequence);
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
    *immediate = statusOnly(statusCode(Status::GeneralFailure));
    return std::nullopt;
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

bool IcmpCore::drainPacketsLocked()
{
    if (m_helper.channel >= 0)
        return drainHelperLocked();
    for (int reads = 0; reads < kReadsPerPump; ++reads) {
        packet::Received<128> in(m_buffer, sizeof m_buffer);
        msghdr& message = in.header;
        sockaddr_storage& from = in.from;
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
        handlePacketLocked(m_buffer, static_cast<std::size_t>(size), fromSockaddr(from), arrivalOf(message));
    }
    return true;
}

void IcmpCore::handlePacketLocked(const std::uint8_t* data, std::size_t length, const IpAddress& sender,
                                  Clock::time_point arrived)
{
    std::optional<Packet> packet;
    const bool v6 = m_family == AF_INET6;
    if (v6) {
        if (sender.isV6())
            packet =
                m_raw ? parseRawPacketV6(data, length, sender.bytes) : parseDatagramReplyV6(data, length, sender.bytes);
    } else {
        packet = m_raw ? parseRawPacket(data, length) : parseDatagramReply(data, length, sender.v4Address());
    }
    if (!packet || packet->identifier != m_identifier)
        return;
    ProbeOutcome outcome = statusOnly(packet->status);
    if (!v6)
        outcome.from = packet->source;
    if (packet->kind == Packet::Kind::EchoReply) {
        const std::size_t copied = std::min(packet->dataSize, outcome.data.size());
        std::memcpy(outcome.data.data(), packet->data, copied);
        outcome.dataSize = static_cast<std::uint16_t>(copied);
        dispatchLocked(packet->sequence, v6 ? IpAddress::v6(packet->source6) : IpAddress::v4(packet->source), outcome,
                       arrived);
    } else {
        dispatchLocked(packet->sequence,
                       v6 ? IpAddress::v6(packet->quotedDestination6) : IpAddress::v4(packet->quotedDestination),
                       outcome, arrived);
    }
}

void IcmpCore::handleLocalErrorLocked(const IpAddress& destination, int error, Clock::time_point arrived)
{
    // A local error names only the destination: it ends the oldest request to it that is
    // still waiting.
    auto oldest = m_inFlight.end();
    for (auto it = m_inFlight.begin(); it != m_inFlight.end(); ++it) {
        if (!it->second.done && it->second.destination.sameHost(destination) &&
            (oldest == m_inFlight.end() || it->second.sent < oldest->second.sent))
            oldest = it;
    }
    if (oldest != m_inFlight.end())
        completeLocked(oldest, statusOnly(statusForSendError(error)), std::max(arrived, oldest->second.sent));
}

bool IcmpCore::drainHelperLocked()
{
    for (int reads = 0; reads < kReadsPerPump; ++reads) {
        const ssize_t size = ::recv(m_fd, m_buffer, sizeof m_buffer, MSG_DONTWAIT);
        if (size < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        // The helper has ended: its end of the channel is closed.
        if (size == 0)
            return false;
        takeHelperMessageLocked(static_cast<std::size_t>(size), std::nullopt);
        if (std::exchange(m_helperBroken, false))
            return false;
    }
    return true;
}

std::optional<int> IcmpCore::takeHelperMessageLocked(std::size_t size, std::optional<std::uint16_t> sending)
{
    helper::Reply reply;
    if (size < sizeof reply)
        return std::nullopt;
    std::memcpy(&reply, m_buffer, sizeof reply);
    switch (reply.kind) {
    case helper::Reply::Sent:
    case helper::Reply::Refused: {
        const int error = reply.kind == helper::Reply::Sent ? reply.error : EINVAL;
        if (sending && reply.sequence == *sending)
            return error;
        if (error == 0)
            return std::nullopt;
        // A posted request that did not go out: that is its outcome.
        const auto it = m_inFlight.find(reply.sequence);
        if (it == m_inFlight.end() || !it->second.posted || it->second.done)
            return std::nullopt;
        if (isBrokenSocketError(error))
            m_helperBroken = true;
        else
            completeLocked(it, statusOnly(statusForSendError(error)), Clock::now());
        return std::nullopt;
    }
    case helper::Reply::Packet: {
        if (reply.size > size - sizeof reply)
            return std::nullopt;
        const timespec stamp{static_cast<time_t>(reply.stampSeconds), static_cast<long>(reply.stampNanoseconds)};
        handlePacketLocked(m_buffer + sizeof reply, reply.size, helperAddress(m_family, reply.address, reply.scope),
                           arrivalAt(&stamp));
        return std::nullopt;
    }
    case helper::Reply::LocalError: {
        const timespec stamp{static_cast<time_t>(reply.stampSeconds), static_cast<long>(reply.stampNanoseconds)};
        handleLocalErrorLocked(helperAddress(m_family, reply.address, reply.scope), reply.error, arrivalAt(&stamp));
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

namespace {

helper::Request helperRequest(int family, std::uint16_t sequence, const IpAddress& destination, std::size_t payloadSize)
{
    helper::Request request;
    request.kind = family == AF_INET6 ? helper::Request::EchoV6 : helper::Request::EchoV4;
    request.sequence = sequence;
    request.payloadSize =
        static_cast<std::uint16_t>(std::min(payloadSize, family == AF_INET6 ? kMaxPayloadV6 : kMaxPayloadV4));
    request.scope = family == AF_INET6 ? destination.scope : 0;
    std::memcpy(request.address, destination.bytes.data(), family == AF_INET6 ? 16 : 4);
    return request;
}

} // namespace

void IcmpCore::setReplyTimeout(std::chrono::milliseconds timeout)
{
    m_replyTimeoutMs.store(static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 100, 10000)));
    if (m_v6)
        m_v6->setReplyTimeout(timeout);
}

void IcmpCore::setPayloadSize(std::size_t bytes)
{
    // Each family caps it at what it may send (see payloadSize()).
    m_payloadSize.store(std::min(bytes, kMaxPayloadV4));
    if (m_v6)
        m_v6->setPayloadSize(bytes);
}

std::size_t IcmpCore::payloadSize() const
{
    return std::min(m_payloadSize.load(), m_family == AF_INET6 ? kMaxPayloadV6 : kMaxPayloadV4);
}

int IcmpCore::postToHelperLocked(std::uint16_t sequence, const IpAddress& destination)
{
    const helper::Request request = helperRequest(m_family, sequence, destination, payloadSize());
    const Clock::time_point deadline = Clock::now() + kReplyTimeout;
    for (;;) {
        if (::send(m_fd, &request, sizeof request, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(sizeof request))
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return EPIPE;
        // The channel is full: take what the helper sent meanwhile, so that it can read on.
        if (!drainHelperLocked())
            return EPIPE;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return EPIPE; // a helper that takes no request is stuck
        pollfd watched{m_fd, POLLOUT, 0};
        ::poll(&watched, 1, static_cast<int>(std::chrono::ceil<Milliseconds>(deadline - now).count()));
    }
}

int IcmpCore::sendViaHelperLocked(std::uint16_t sequence, const IpAddress& destination)
{
    const helper::Request request = helperRequest(m_family, sequence, destination, payloadSize());
    for (;;) {
        if (::send(m_fd, &request, sizeof request, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(sizeof request))
            break;
        if (errno == EINTR)
            continue;
        // A helper that takes no request is stuck or gone.
        return EPIPE;
    }
    // The helper answers every request at once; whatever it read meanwhile comes first.
    const Clock::time_point deadline = Clock::now() + kReplyTimeout;
    for (;;) {
        const ssize_t size = ::recv(m_fd, m_buffer, sizeof m_buffer, MSG_DONTWAIT);
        if (size > 0) {
            if (const std::optional<int> error = takeHelperMessageLocked(static_cast<std::size_t>(size), sequence))
                return *error;
            continue;
        }
        if (size == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return EPIPE;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return EPIPE;
        pollfd watched{m_fd, POLLIN, 0};
        ::poll(&watched, 1, static_cast<int>(std::chrono::ceil<Milliseconds>(deadline - now).count()));
    }
}

bool IcmpCore::drainErrorQueueLocked()
{
    // The helper reads the error queue of its socket and passes on what concerns us.
    if (m_helper.channel >= 0)
        return true;
    for (int reads = 0; reads < kReadsPerPump; ++reads) {
        packet::Received<512> in(m_buffer, sizeof m_buffer);
        msghdr& message = in.header;
        sockaddr_storage& original = in.from;
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
        const bool v6 = m_family == AF_INET6;
        const IpAddress originalDestination = fromSockaddr(original);
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            const bool isError = v6 ? (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)
                                    : (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR);
            if (!isError)
                continue;
            const auto* error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
            sock_extended_err details;
            std::memcpy(&details, error, sizeof details);
            if (details.ee_origin == SO_EE_ORIGIN_LOCAL) {
                handleLocalErrorLocked(originalDestination, static_cast<int>(details.ee_errno), arrivalOf(message));
                continue;
            }
            // A raw socket's queue holds every ICMP error about anybody's ICMP traffic; it
            // judges errors by the packets it reads, which carry the quoted request whole.
            const int icmpOrigin = v6 ? int(SO_EE_ORIGIN_ICMP6) : int(SO_EE_ORIGIN_ICMP);
            if (details.ee_origin != icmpOrigin || m_raw)
                continue;
            // The queued data is our echo request as the error quoted it, and the name
            // is the destination the quoted request was sent to.
            const std::optional<EchoId> quoted = v6 ? parseQuotedEchoV6(m_buffer, static_cast<std::size_t>(size))
                                                    : parseQuotedEcho(m_buffer, static_cast<std::size_t>(size));
            if (!quoted || quoted->identifier != m_identifier)
                continue;
            const std::optional<std::int32_t> status = v6 ? statusForIcmpv6Error(details.ee_type, details.ee_code)
                                                          : statusForIcmpError(details.ee_type, details.ee_code);
            if (!status)
                continue;
            ProbeOutcome outcome = statusOnly(*status);
            sockaddr_in offender;
            std::memcpy(&offender, SO_EE_OFFENDER(error), sizeof offender);
            if (offender.sin_family == AF_INET)
                outcome.from = offender.sin_addr.s_addr;
            dispatchLocked(quoted->sequence, originalDestination, outcome, arrivalOf(message));
        }
    }
    return true;
}

} // namespace mdlPing::detail
