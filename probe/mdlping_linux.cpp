#include "mdlping.h"
#include "mdlping_p.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

namespace mdlPing {

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr Milliseconds kReplyTimeout{1000};
constexpr char kPayload[] = {'h', 'e', 'l', 'l', 'o'};
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::uint8_t kProtocolIcmp = 1;

constexpr std::int32_t kStatusSuccess = 0;
constexpr std::int32_t kStatusNetUnreachable = 11002;
constexpr std::int32_t kStatusHostUnreachable = 11003;
constexpr std::int32_t kStatusProtocolUnreachable = 11004;
constexpr std::int32_t kStatusPortUnreachable = 11005;
constexpr std::int32_t kStatusNoResources = 11006;
constexpr std::int32_t kStatusPacketTooBig = 11009;
constexpr std::int32_t kStatusTimedOut = 11010;
constexpr std::int32_t kStatusBadRoute = 11012;
constexpr std::int32_t kStatusTtlExpiredTransit = 11013;
constexpr std::int32_t kStatusTtlExpiredReassembly = 11014;
constexpr std::int32_t kStatusParameterProblem = 11015;
constexpr std::int32_t kStatusSourceQuench = 11016;
constexpr std::int32_t kStatusBadDestination = 11018;
constexpr std::int32_t kStatusGeneralFailure = 11050;

thread_local Failure t_lastFailure = Failure::None;
thread_local int t_lastErrno = 0;

std::atomic<detail::SocketKind> s_socketKind{detail::SocketKind::Automatic};

std::uint16_t initialSequence()
{
    // Starting where a previous run of the program is unlikely to have stopped keeps
    // its late replies from lining up with our first requests.
    const auto ticks = Clock::now().time_since_epoch().count();
    return static_cast<std::uint16_t>(ticks ^ (ticks >> 16) ^ ::getpid());
}

std::atomic<std::uint16_t> s_sequence{initialSequence()};

std::uint16_t read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t readAddress(const std::uint8_t* p)
{
    std::uint32_t networkOrder;
    std::memcpy(&networkOrder, p, sizeof networkOrder);
    return networkOrder;
}

void write16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

std::uint16_t internetChecksum(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += read16(data + i);
    if (size % 2)
        sum += static_cast<std::uint32_t>(data[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

bool isPermissionError(int error)
{
    return error == EACCES || error == EPERM;
}

// Owns the probe's socket so that every way out of a probe closes it.
class IcmpSocket
{
public:
    IcmpSocket() = default;
    IcmpSocket(int fd, bool raw) : m_fd(fd), m_raw(raw) {}
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;
    IcmpSocket(IcmpSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)), m_raw(other.m_raw) {}
    IcmpSocket& operator=(IcmpSocket&&) = delete;
    ~IcmpSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool isRaw() const { return m_raw; }

private:
    int m_fd = -1;
    bool m_raw = false;
};

struct OpenResult
{
    IcmpSocket socket;
    int error = 0;
};

OpenResult openSocket(detail::SocketKind kind)
{
    int error = 0;
    if (kind != detail::SocketKind::Raw) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0)
            return {IcmpSocket(fd, false), 0};
        error = errno;
        // A refused datagram socket is the normal case for users outside
        // net.ipv4.ping_group_range (root included); kernels built without ping sockets
        // say so with EPROTONOSUPPORT. Both may still have cap_net_raw.
        const bool tryRaw = isPermissionError(error) || error == EPROTONOSUPPORT || error == ESOCKTNOSUPPORT;
        if (kind == detail::SocketKind::Datagram || !tryRaw)
            return {IcmpSocket(), error};
    }
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0)
        return {IcmpSocket(fd, true), 0};
    return {IcmpSocket(), errno};
}

// Keeps a raw socket from queueing everything the host's ICMP traffic consists of: only
// echo replies carrying our identifier and the error types that can concern our request
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

std::int32_t statusForSendError(int error)
{
    switch (error) {
    case ENETUNREACH:
        return kStatusNetUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENONET:
        return kStatusHostUnreachable;
    case ENOBUFS:
    case ENOMEM:
    case EAGAIN:
        return kStatusNoResources;
    case EMSGSIZE:
        return kStatusPacketTooBig;
    case EACCES:
        // A broadcast address, or a route of type prohibit.
        return kStatusBadDestination;
    default:
        return kStatusGeneralFailure;
    }
}

std::optional<std::int32_t> statusForIcmpError(int type, int code)
{
    switch (type) {
    case ICMP_DEST_UNREACH:
        switch (code) {
        case 0:
        case 6:
        case 9:
        case 11:
            return kStatusNetUnreachable;
        case 2:
            return kStatusProtocolUnreachable;
        case 3:
            return kStatusPortUnreachable;
        case 4:
            return kStatusPacketTooBig;
        case 5:
            return kStatusBadRoute;
        default:
            // Codes 1, 7, 8, 10 and 12..15, and codes no router should send: whatever
            // the reason, the host cannot be reached.
            return kStatusHostUnreachable;
        }
    case ICMP_TIME_EXCEEDED:
        return code == 1 ? kStatusTtlExpiredReassembly : kStatusTtlExpiredTransit;
    case ICMP_PARAMETERPROB:
        return kStatusParameterProblem;
    case ICMP_SOURCE_QUENCH:
        return kStatusSourceQuench;
    default:
        // Redirects only tell us about a better gateway; the reply may still come.
        return std::nullopt;
    }
}

struct Request
{
    std::uint32_t destination = 0; // network order
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
    Clock::time_point sent;
    Clock::time_point deadline;
};

struct Outcome
{
    std::int32_t status = kStatusTimedOut;
    std::optional<std::uint32_t> from; // network order
    const std::uint8_t* data = nullptr;
    std::size_t dataSize = 0;
};

// True when an embedded echo request (ICMP header onwards) is the one we sent.
bool isOurEcho(const Request& request, const std::uint8_t* icmp, std::size_t size)
{
    return size >= kIcmpHeaderSize && icmp[0] == ICMP_ECHO && read16(icmp + 4) == request.identifier &&
           read16(icmp + 6) == request.sequence;
}

// A raw socket sees every ICMP packet of the host, with the IP header in front.
std::optional<Outcome> parseRawPacket(const Request& request, const std::uint8_t* packet, std::size_t size)
{
    if (size < kMinIpHeaderSize || (packet[0] >> 4) != 4)
        return std::nullopt;
    const std::size_t ipHeaderSize = (packet[0] & 0x0f) * 4u;
    if (ipHeaderSize < kMinIpHeaderSize || size < ipHeaderSize + kIcmpHeaderSize || packet[9] != kProtocolIcmp)
        return std::nullopt;
    const std::uint8_t* icmp = packet + ipHeaderSize;
    const std::size_t icmpSize = size - ipHeaderSize;
    if (internetChecksum(icmp, icmpSize) != 0)
        return std::nullopt;
    const std::uint32_t source = readAddress(packet + 12);

    if (icmp[0] == ICMP_ECHOREPLY) {
        if (source != request.destination || read16(icmp + 4) != request.identifier ||
            read16(icmp + 6) != request.sequence)
            return std::nullopt;
        return Outcome{kStatusSuccess, source, icmp + kIcmpHeaderSize, icmpSize - kIcmpHeaderSize};
    }

    const std::optional<std::int32_t> status = statusForIcmpError(icmp[0], icmp[1]);
    if (!status)
        return std::nullopt;
    // The error quotes our request: its IP header (options included) and at least
    // the first eight bytes of our echo request.
    const std::uint8_t* inner = icmp + kIcmpHeaderSize;
    const std::size_t innerSize = icmpSize - kIcmpHeaderSize;
    if (innerSize < kMinIpHeaderSize || (inner[0] >> 4) != 4)
        return std::nullopt;
    const std::size_t innerHeaderSize = (inner[0] & 0x0f) * 4u;
    if (innerHeaderSize < kMinIpHeaderSize || innerSize < innerHeaderSize || inner[9] != kProtocolIcmp ||
        readAddress(inner + 16) != request.destination)
        return std::nullopt;
    if (!isOurEcho(request, inner + innerHeaderSize, innerSize - innerHeaderSize))
        return std::nullopt;
    return Outcome{*status, source, nullptr, 0};
}

// A datagram socket only gets echo replies, without IP header, for its own identifier.
std::optional<Outcome> parseDatagramReply(const Request& request, const std::uint8_t* icmp, std::size_t size,
                                          std::uint32_t source)
{
    if (size < kIcmpHeaderSize || icmp[0] != ICMP_ECHOREPLY || source != request.destination ||
        read16(icmp + 4) != request.identifier || read16(icmp + 6) != request.sequence)
        return std::nullopt;
    return Outcome{kStatusSuccess, source, icmp + kIcmpHeaderSize, size - kIcmpHeaderSize};
}

enum class Drain
{
    Matched,
    Empty,
    Failed,
};

class Probe
{
public:
    Probe(const IcmpSocket& socket, std::uint32_t destination) : m_socket(socket)
    {
        m_request.destination = destination;
        m_request.sequence = s_sequence.fetch_add(1, std::memory_order_relaxed);
        m_request.identifier = socket.isRaw() ? detail::rawIdentifier() : 0;
    }

    // Returns the status; fills the outcome's source and data when there are any.
    std::int32_t run(ICMP_ECHO_REPLY& reply)
    {
        const int fd = m_socket.fd();
        if (m_socket.isRaw())
            installRawFilters(fd, m_request.identifier);
        // A datagram socket learns of ICMP errors about its request only through the
        // error queue. A raw socket reads them as packets, but without this option the
        // kernel would hide a send that a full queue dropped (ENOBUFS).
        const int on = 1;
        if (::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0)
            return finish(reply, Outcome{kStatusGeneralFailure, {}, nullptr, 0}, Clock::now());

        std::uint8_t request[kIcmpHeaderSize + sizeof kPayload] = {ICMP_ECHO, 0};
        write16(request + 4, m_request.identifier);
        write16(request + 6, m_request.sequence);
        std::memcpy(request + kIcmpHeaderSize, kPayload, sizeof kPayload);
        // The kernel fills in the checksum of a datagram socket's requests itself.
        if (m_socket.isRaw())
            write16(request + 2, internetChecksum(request, sizeof request));

        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = m_request.destination;
        m_request.sent = Clock::now();
        m_request.deadline = m_request.sent + kReplyTimeout;
        ssize_t sent;
        do {
            sent =
                ::sendto(fd, request, sizeof request, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0)
            return finish(reply, Outcome{statusForSendError(errno), {}, nullptr, 0}, Clock::now());

        if (!m_socket.isRaw()) {
            // The kernel replaced our identifier with the socket's port, and only
            // delivers replies carrying that port to this socket.
            sockaddr_in local{};
            socklen_t length = sizeof local;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
                return finish(reply, Outcome{kStatusGeneralFailure, {}, nullptr, 0}, Clock::now());
            m_request.identifier = ntohs(local.sin_port);
        }
        return await(reply);
    }

private:
    std::int32_t await(ICMP_ECHO_REPLY& reply)
    {
        const int fd = m_socket.fd();
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (now >= m_request.deadline)
                break;
            const auto left = std::chrono::ceil<Milliseconds>(m_request.deadline - now);
            pollfd watched{fd, POLLIN, 0};
            const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return finish(reply, Outcome{kStatusGeneralFailure, {}, nullptr, 0}, Clock::now());
            }
            if (ready == 0)
                continue;

            Drain drained = Drain::Empty;
            if (watched.revents & POLLERR)
                drained = drainErrorQueue();
            if (drained == Drain::Empty && (watched.revents & POLLIN))
                drained = m_socket.isRaw() ? drainRaw() : drainDatagram();
            // A socket that hangs up or goes invalid would otherwise wake us until the deadline.
            if (drained == Drain::Empty && (watched.revents & (POLLHUP | POLLNVAL)))
                drained = Drain::Failed;
            if (drained == Drain::Failed)
                return finish(reply, Outcome{kStatusGeneralFailure, {}, nullptr, 0}, Clock::now());
            if (drained == Drain::Matched)
                return finish(reply, m_outcome, m_received);
        }
        // A timed-out request still reports how long it waited (the full timeout, give or
        // take the scheduler), so a caller showing round trips has a real figure for it.
        return finish(reply, Outcome{kStatusTimedOut, {}, nullptr, 0}, Clock::now());
    }

    std::int32_t finish(ICMP_ECHO_REPLY& reply, const Outcome& outcome, Clock::time_point at)
    {
        reply.Status = outcome.status;
        const auto elapsed = std::chrono::floor<Milliseconds>(at - m_request.sent).count();
        reply.RoundTripTime = static_cast<std::int32_t>(std::max<decltype(elapsed)>(elapsed, 0));
        if (outcome.from)
            reply.Address = *outcome.from;
        if (outcome.data) {
            const std::size_t copied = std::min(outcome.dataSize, sizeof reply.Data);
            std::memcpy(reply.Data, outcome.data, copied);
            reply.DataSize = static_cast<std::uint16_t>(copied);
        }
        return outcome.status;
    }

    // Accepts a match only while the deadline holds: a reply read after it is late.
    bool accept(const std::optional<Outcome>& outcome)
    {
        if (!outcome)
            return false;
        const Clock::time_point now = Clock::now();
        if (now > m_request.deadline)
            return false;
        m_outcome = *outcome;
        m_received = now;
        return true;
    }

    Drain drainRaw()
    {
        for (;;) {
            const ssize_t size = ::recv(m_socket.fd(), m_buffer, sizeof m_buffer, MSG_DONTWAIT);
            if (size < 0)
                return receiveFailed(errno);
            if (accept(parseRawPacket(m_request, m_buffer, static_cast<std::size_t>(size))))
                return Drain::Matched;
            if (Clock::now() >= m_request.deadline)
                return Drain::Empty;
        }
    }

    Drain drainDatagram()
    {
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t size = ::recvfrom(m_socket.fd(), m_buffer, sizeof m_buffer, MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (size < 0)
                return receiveFailed(errno);
            if (accept(parseDatagramReply(m_request, m_buffer, static_cast<std::size_t>(size), from.sin_addr.s_addr)))
                return Drain::Matched;
            if (Clock::now() >= m_request.deadline)
                return Drain::Empty;
        }
    }

    Drain drainErrorQueue()
    {
        for (;;) {
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
            const ssize_t size = ::recvmsg(m_socket.fd(), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
            if (size < 0 && errno == EINTR)
                continue;
            if (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return Drain::Failed;
            if (size < 0) {
                // With the queue empty, a pending error left behind would make every
                // poll() return at once.
                int pending = 0;
                socklen_t length = sizeof pending;
                ::getsockopt(m_socket.fd(), SOL_SOCKET, SO_ERROR, &pending, &length);
                return Drain::Empty;
            }
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
                    continue;
                sock_extended_err error;
                std::memcpy(&error, CMSG_DATA(c), sizeof error);
                if (accept(outcomeForQueuedError(error, c, original, static_cast<std::size_t>(size))))
                    return Drain::Matched;
            }
            if (Clock::now() >= m_request.deadline)
                return Drain::Empty;
        }
    }

    std::optional<Outcome> outcomeForQueuedError(const sock_extended_err& error, const cmsghdr* c,
                                                 const sockaddr_in& original, std::size_t size) const
    {
        if (error.ee_origin == SO_EE_ORIGIN_LOCAL)
            return Outcome{statusForSendError(static_cast<int>(error.ee_errno)), {}, nullptr, 0};
        // A raw socket's queue holds every ICMP error about anybody's ICMP traffic; it
        // judges errors by the packets it reads, which carry the quoted request whole.
        if (error.ee_origin != SO_EE_ORIGIN_ICMP || m_socket.isRaw())
            return std::nullopt;
        // The queued data is our echo request as the error quoted it, and the name
        // is the destination the quoted request was sent to.
        if (original.sin_addr.s_addr != m_request.destination || !isOurEcho(m_request, m_buffer, size))
            return std::nullopt;
        const std::optional<std::int32_t> status = statusForIcmpError(error.ee_type, error.ee_code);
        if (!status)
            return std::nullopt;
        sockaddr_in offender;
        std::memcpy(&offender, SO_EE_OFFENDER(reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c))),
                    sizeof offender);
        std::optional<std::uint32_t> from;
        if (offender.sin_family == AF_INET)
            from = offender.sin_addr.s_addr;
        return Outcome{*status, from, nullptr, 0};
    }

    // Every ICMP error that reaches the socket's error queue also sets a pending socket
    // error, which the next plain receive returns instead of data. That error is only a
    // notice: its details are read from the queue, so the wait goes on.
    static Drain receiveFailed(int error)
    {
        switch (error) {
        case EBADF:
        case EFAULT:
        case EINVAL:
        case ENOTSOCK:
        case ENOMEM:
            return Drain::Failed;
        default:
            return Drain::Empty;
        }
    }

    const IcmpSocket& m_socket;
    Request m_request;
    Outcome m_outcome;
    Clock::time_point m_received;
    alignas(8) std::uint8_t m_buffer[4096];
};

} // namespace

namespace detail {

void setSocketKind(SocketKind kind)
{
    s_socketKind.store(kind);
}

SocketKind socketKind()
{
    return s_socketKind.load();
}

std::uint16_t rawIdentifier()
{
    // Several programs may ping through raw sockets at once and all of them see every
    // reply; the identifier tells ours apart, the sequence tells our probes apart.
    return static_cast<std::uint16_t>((::getpid() & 0xffff) ^ 0x7456);
}

std::uint16_t nextSequence()
{
    return s_sequence.load(std::memory_order_relaxed);
}

} // namespace detail

bool SocketsStartup()
{
    return true;
}

void SocketsCleanup() {}

std::int32_t PingHost(const QString& address, ICMP_ECHO_REPLY& reply)
{
    t_lastFailure = Failure::None;
    t_lastErrno = 0;

    // inet_addr keeps the classic forms ("10.1", octal, hex) that saved host lists use.
    const QByteArray text = address.toUtf8();
    const in_addr_t destination = text.contains('\0') ? INADDR_NONE : ::inet_addr(text.constData());
    if (destination == INADDR_NONE || destination == 0) {
        t_lastFailure = Failure::BadAddress;
        return -1;
    }

    OpenResult opened = openSocket(detail::socketKind());
    if (!opened.socket.isOpen()) {
        t_lastFailure = isPermissionError(opened.error) ? Failure::NotPermitted : Failure::NoSocket;
        t_lastErrno = opened.error;
        return -1;
    }
    Probe probe(opened.socket, destination);
    return probe.run(reply);
}

Failure LastFailure()
{
    return t_lastFailure;
}

QString FailureText(Failure failure)
{
    switch (failure) {
    case Failure::None:
        return QStringLiteral("the request was sent");
    case Failure::BadAddress:
        return QStringLiteral("not an IPv4 address");
    case Failure::NotPermitted:
        return QStringLiteral(
            "ICMP is not permitted for this user: grant cap_net_raw or widen net.ipv4.ping_group_range");
    case Failure::NoSocket:
        break;
    }
    return QStringLiteral("ICMP sockets could not be opened: ") + qt_error_string(t_lastErrno);
}

} // namespace mdlPing
