#include "probe/icmphelper.h"
#include "probe/icmppacket.h"
#include "probe/privilege.h"

#include <fcntl.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <linux/audit.h>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <linux/seccomp.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iterator>

namespace mdlPing::helper {

namespace {

using namespace mdlPing::packet;

constexpr int kReceiveBuffer = 1 << 20;
// Work per wake-up, so that neither side can keep the other's half waiting.
constexpr int kReadsPerWake = 512;
// How long after its request an answer still counts; the parent ends a probe sooner.
constexpr std::int64_t kAnswerWindowNs = 5'000'000'000;
// Where the two descriptors the helper keeps end up; every other one is closed.
constexpr int kRawFd = 3;
constexpr int kChannelFd = 4;

// Errors that only an ICMP error about an earlier request leaves pending: a send never fails
// with them for a reason of its own, so a send that meets one can always be tried again.
bool onlyPendingError(int error)
{
    switch (error) {
    case ECONNREFUSED:
    case EPROTO:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
    case ETIMEDOUT:
        return true;
    default:
        return false;
    }
}

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

std::int64_t monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The helper's own state; one per process. Plain data with static storage, so it costs
// nothing until touched: zeroing it at start would touch every page of the table.
struct Server
{
    int family;
    std::uint16_t identifier;
    // Where each sequence went, and when: an answer must come from there, in time.
    struct Sent
    {
        std::int64_t at; // 0: never sent
        std::uint8_t address[16];
    };
    Sent sent[65536];
    alignas(8) std::uint8_t in[kMaxPacket];
};
Server g_server;

void reply(const Reply& header, const std::uint8_t* data = nullptr, std::size_t size = 0)
{
    // The parent reads while it waits for a send's outcome, so a full channel drains.
    std::uint8_t message[kMaxMessage];
    std::memcpy(message, &header, sizeof header);
    if (size)
        std::memcpy(message + sizeof header, data, size);
    for (;;) {
        if (::send(kChannelFd, message, sizeof header + size, MSG_NOSIGNAL) >= 0)
            return;
        if (errno == EINTR)
            continue;
        // The parent is gone.
        ::_exit(0);
    }
}

void refuse(std::uint16_t sequence)
{
    Reply r;
    r.kind = Reply::Refused;
    r.sequence = sequence;
    r.error = EINVAL;
    reply(r);
}

void stampOf(msghdr& message, Reply& r)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            r.stampSeconds = stamp.tv_sec;
            r.stampNanoseconds = stamp.tv_nsec;
            return;
        }
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    r.stampSeconds = now.tv_sec;
    r.stampNanoseconds = now.tv_nsec;
}

void forwardPackets(Server& s);

void serveRequest(Server& s, const Request& request)
{
    const bool v6 = s.family == AF_INET6;
    const std::uint8_t expected = v6 ? Request::EchoV6 : Request::EchoV4;
    bool valid = request.kind == expected && request.reserved == 0 && request.reserved2 == 0 &&
                 request.payloadSize <= (v6 ? kMaxPayloadV6 : kMaxPayloadV4);
    if (!v6) {
        for (std::size_t i = 4; i < sizeof request.address; ++i)
            valid = valid && request.address[i] == 0;
        valid = valid && request.scope == 0;
    }
    if (!valid) {
        refuse(request.sequence);
        return;
    }
    sockaddr_storage to{};
    socklen_t toLength = 0;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&to);
        a->sin6_family = AF_INET6;
        std::memcpy(&a->sin6_addr, request.address, 16);
        a->sin6_scope_id = request.scope;
        toLength = sizeof(sockaddr_in6);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&to);
        a->sin_family = AF_INET;
        std::memcpy(&a->sin_addr, request.address, 4);
        toLength = sizeof(sockaddr_in);
    }
    const auto packet = v6 ? echoRequestV6(s.identifier, request.sequence, request.payloadSize)
                           : echoRequest(s.identifier, request.sequence, true, request.payloadSize);
    Server::Sent& record = s.sent[request.sequence];
    record.at = monotonicNs();
    std::memcpy(record.address, request.address, sizeof record.address);
    Reply r;
    r.kind = Reply::Sent;
    r.sequence = request.sequence;
    r.error = sendPast(kRawFd, packet.data(), packet.size(), &to, toLength);
    if (r.error)
        record.at = 0;
    else
        forwardPackets(s); // a reply over loopback is there already: one wake-up for both
    reply(r);
}

// False once the parent has gone.
bool serveRequests(Server& s, bool hungUp)
{
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        Request request;
        iovec data{&request, sizeof request};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        const ssize_t size = ::recvmsg(kChannelFd, &message, MSG_DONTWAIT | MSG_TRUNC);
        if (size < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (size == 0 && hungUp)
            return false;
        if (size != static_cast<ssize_t>(sizeof request) || (message.msg_flags & MSG_TRUNC)) {
            refuse(0);
            continue;
        }
        serveRequest(s, request);
    }
    return true;
}

// Whether a packet that parsed answers a request of ours: our identifier, a sequence we
// sent not long ago, and the place we sent it to.
bool answersOurs(const Server& s, const Packet& packet)
{
    if (packet.identifier != s.identifier)
        return false;
    const Server::Sent& record = s.sent[packet.sequence];
    if (record.at == 0 || monotonicNs() - record.at > kAnswerWindowNs)
        return false;
    std::uint8_t expected[16] = {};
    if (s.family == AF_INET6) {
        const auto& from = packet.kind == Packet::Kind::EchoReply ? packet.source6 : packet.quotedDestination6;
        std::memcpy(expected, from.data(), 16);
    } else {
        const std::uint32_t from = packet.kind == Packet::Kind::EchoReply ? packet.source : packet.quotedDestination;
        std::memcpy(expected, &from, 4);
    }
    return std::memcmp(expected, record.address, 16) == 0;
}

void forwardPackets(Server& s)
{
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        Received<128> in(s.in, sizeof s.in);
        msghdr& message = in.header;
        sockaddr_storage& from = in.from;
        const ssize_t size = ::recvmsg(kRawFd, &message, MSG_DONTWAIT);
        if (size < 0) {
            // A pending error is only a notice about the error queue.
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            continue;
        }
        if (size == 0 || (message.msg_flags & MSG_TRUNC))
            continue;
        const auto length = static_cast<std::size_t>(size);
        std::optional<Packet> packet;
        Reply r;
        if (s.family == AF_INET6) {
            if (from.ss_family != AF_INET6)
                continue;
            const auto* a = reinterpret_cast<const sockaddr_in6*>(&from);
            std::array<std::uint8_t, 16> source;
            std::memcpy(source.data(), &a->sin6_addr, 16);
            packet = parseRawPacketV6(s.in, length, source);
            std::memcpy(r.address, source.data(), 16);
            r.scope = a->sin6_scope_id;
        } else {
            packet = parseRawPacket(s.in, length);
            if (packet)
                std::memcpy(r.address, &packet->source, 4);
        }
        if (!packet || !answersOurs(s, *packet))
            continue;
        r.kind = Reply::Packet;
        r.sequence = packet->sequence;
        r.size = static_cast<std::uint16_t>(length);
        stampOf(message, r);
        reply(r, s.in, length);
    }
}

void forwardLocalErrors(Server& s)
{
    for (int reads = 0; reads < kReadsPerWake; ++reads) {
        Received<512> in(s.in, sizeof s.in);
        msghdr& message = in.header;
        sockaddr_storage& original = in.from;
        const ssize_t size = ::recvmsg(kRawFd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (size < 0 && errno == EINTR)
            continue;
        if (size < 0) {
            // With the queue empty, a pending error left behind would wake us for good.
            int pending = 0;
            socklen_t length = sizeof pending;
            ::getsockopt(kRawFd, SOL_SOCKET, SO_ERROR, &pending, &length);
            return;
        }
        const bool v6 = s.family == AF_INET6;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            const bool isError = v6 ? (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)
                                    : (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR);
            if (!isError)
                continue;
            sock_extended_err details;
            std::memcpy(&details, CMSG_DATA(c), sizeof details);
            // ICMP errors are read as packets, with the quoted request whole.
            if (details.ee_origin != SO_EE_ORIGIN_LOCAL || original.ss_family != s.family)
                continue;
            Reply r;
            r.kind = Reply::LocalError;
            r.error = static_cast<std::int32_t>(details.ee_errno);
            if (v6) {
                const auto* a = reinterpret_cast<const sockaddr_in6*>(&original);
                std::memcpy(r.address, &a->sin6_addr, 16);
                r.scope = a->sin6_scope_id;
            } else {
                std::memcpy(r.address, &reinterpret_cast<const sockaddr_in*>(&original)->sin_addr, 4);
            }
            stampOf(message, r);
            reply(r);
        }
    }
}

// The few system calls serving takes; anything else ends the helper. A fixed list, loaded
// in microseconds (a general filter library took milliseconds of every start, twice). Only
// for the architectures whose calls are listed here; elsewhere the other locks still hold.
#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#elif defined(__riscv) && __riscv_xlen == 64
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_RISCV64;
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_PPC64LE;
#else
constexpr std::uint32_t kAuditArch = 0;
#endif

constexpr std::uint32_t kServingCalls[] = {
#ifdef __NR_poll
    __NR_poll,
#endif
    __NR_ppoll,         __NR_recvmsg,      __NR_recvfrom, __NR_sendto,     __NR_sendmsg,      __NR_getsockopt,
    __NR_clock_gettime, __NR_gettimeofday, __NR_exit,     __NR_exit_group, __NR_rt_sigreturn, __NR_restart_syscall,
};

void allowOnlyServing()
{
    if (kAuditArch == 0)
        return;
    constexpr std::size_t kCalls = std::size(kServingCalls);
    constexpr std::uint32_t kKill = SECCOMP_RET_KILL_PROCESS;
    // 0 arch; 1 native?; 2 kill; 3 call; 4 x32 calls?; 5.. each allowed call; kill; allow.
    sock_filter program[6 + kCalls + 1];
    std::size_t at = 0;
    program[at++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    program[at++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0);
    program[at++] = BPF_STMT(BPF_RET | BPF_K, kKill);
    program[at++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    // x86-64's second numbering (x32) reaches the same calls by other numbers.
    program[at++] = BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000U, static_cast<std::uint8_t>(kCalls), 0);
    for (std::size_t i = 0; i < kCalls; ++i)
        program[at++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kServingCalls[i], static_cast<std::uint8_t>(kCalls - i), 0);
    program[at++] = BPF_STMT(BPF_RET | BPF_K, kKill);
    program[at++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    sock_fprog filter{static_cast<unsigned short>(at), program};
    ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0);
}

[[noreturn]] void serve(int family, int rawFd, int channelFd, std::uint16_t identifier, pid_t parent,
                        bool parentThreadIsMain)
{
    // First of all, before the capabilities go: a process of the same user must never be
    // able to attach to this one and use its socket.
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        ::_exit(1);
    // Nothing of the parent's runs here: none of its signal handlers either.
    sigset_t all;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    // The death signal follows the thread that forked; a program forks from its main thread,
    // and the end of the channel covers the rest.
    if (parentThreadIsMain && (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent))
        ::_exit(0);
    // Keep the two descriptors, in known places, and nothing else.
    const int raw = ::fcntl(rawFd, F_DUPFD, 16);
    const int channel = ::fcntl(channelFd, F_DUPFD, 16);
    if (raw < 0 || channel < 0 || ::dup2(raw, kRawFd) != kRawFd || ::dup2(channel, kChannelFd) != kChannelFd)
        ::_exit(1);
    for (int fd = 0; fd < kRawFd; ++fd)
        ::close(fd);
    if (::syscall(SYS_close_range, kChannelFd + 1, ~0U, 0) != 0) {
        for (int fd = kChannelFd + 1; fd < 65536; ++fd)
            ::close(fd);
    }

    installRawFilters(kRawFd, family, identifier, true);
    const int on = 1;
    ::setsockopt(kRawFd, family == AF_INET6 ? IPPROTO_IPV6 : IPPROTO_IP, family == AF_INET6 ? IPV6_RECVERR : IP_RECVERR,
                 &on, sizeof on);
    ::setsockopt(kRawFd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    ::setsockopt(kRawFd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    ::setsockopt(kChannelFd, SOL_SOCKET, SO_SNDBUF, &kReceiveBuffer, sizeof kReceiveBuffer);

    if (!dropAllCapabilities() || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        ::_exit(1);
    Server& server = g_server;
    server.family = family;
    server.identifier = identifier;
    allowOnlyServing();

    pollfd watched[2] = {{kChannelFd, POLLIN, 0}, {kRawFd, POLLIN, 0}};
    for (;;) {
        watched[0].revents = watched[1].revents = 0;
        if (::poll(watched, 2, -1) < 0)
            continue;
        const bool hungUp = watched[0].revents & (POLLHUP | POLLERR | POLLNVAL);
        if ((watched[0].revents & POLLIN) || hungUp) {
            if (!serveRequests(server, hungUp))
                ::_exit(0);
        }
        if (watched[1].revents & POLLERR)
            forwardLocalErrors(server);
        if (watched[1].revents & POLLIN)
            forwardPackets(server);
    }
}

} // namespace

Handle start(int family, int rawFd, std::uint16_t identifier)
{
    Handle handle;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        const int error = errno;
        ::close(rawFd);
        errno = error;
        return handle;
    }
    const pid_t parent = ::getpid();
    const bool mainThread = ::syscall(SYS_gettid) == parent;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pair[0]);
        serve(family, rawFd, pair[1], identifier, parent, mainThread);
    }
    const int error = errno;
    ::close(pair[1]);
    ::close(rawFd);
    if (pid < 0) {
        ::close(pair[0]);
        errno = error;
        return handle;
    }
    ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    handle.pid = pid;
    handle.channel = pair[0];
    return handle;
}

void stop(Handle& handle)
{
    if (handle.channel >= 0)
        ::close(handle.channel);
    if (handle.pid > 0) {
        ::kill(handle.pid, SIGKILL);
        while (::waitpid(handle.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    handle = Handle{};
}

void installRawFilters(int fd, int family, std::uint16_t identifier, bool lock)
{
    // Keeps a raw socket from queueing everything the host's ICMP traffic consists of, so a
    // ping flood elsewhere neither fills the receive buffer nor wakes us.
    if (family == AF_INET6) {
        icmp6_filter types;
        ICMP6_FILTER_SETBLOCKALL(&types);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &types);
        ICMP6_FILTER_SETPASS(ICMP6_DST_UNREACH, &types);
        ICMP6_FILTER_SETPASS(ICMP6_PACKET_TOO_BIG, &types);
        ICMP6_FILTER_SETPASS(ICMP6_TIME_EXCEEDED, &types);
        ICMP6_FILTER_SETPASS(ICMP6_PARAM_PROB, &types);
        ::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types);
    } else {
        icmp_filter types{};
        types.data = ~((1U << ICMP_ECHOREPLY) | (1U << ICMP_DEST_UNREACH) | (1U << ICMP_SOURCE_QUENCH) |
                       (1U << ICMP_REDIRECT) | (1U << ICMP_TIME_EXCEEDED) | (1U << ICMP_PARAMETERPROB));
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &types, sizeof types);
    }
    // A raw ICMPv6 socket reads messages without the IP header; an IPv4 one with it.
    sock_filter v4[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                    // X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                     // A = ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 2), // errors: accept
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                     // A = echo identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_filter v6[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),                       // A = ICMPv6 type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP6_ECHO_REPLY, 0, 2), // errors: accept
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),                       // A = echo identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program = family == AF_INET6 ? sock_fprog{static_cast<unsigned short>(std::size(v6)), v6}
                                            : sock_fprog{static_cast<unsigned short>(std::size(v4)), v4};
    // Both filters only save work: every packet is checked again after it is read.
    ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
    if (lock) {
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on);
    }
}

int sendPast(int fd, const void* data, std::size_t size, const void* to, unsigned toLength)
{
    // An ICMP error about an earlier request leaves a pending error on the socket, which the
    // kernel hands to the next send instead of sending. Its details are in the error queue
    // already, so it is dropped here; one that slips in between is seen by trying again (a
    // send that truly failed sent nothing).
    int pending = 0;
    socklen_t length = sizeof pending;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length);
    int error = 0;
    // A burst of errors about other requests can leave one pending error after another; each
    // failed send takes one away, so a bounded number of tries gets through.
    for (int tries = 0; tries < 16; ++tries) {
        const ssize_t result =
            ::sendto(fd, data, size, MSG_DONTWAIT, static_cast<const sockaddr*>(to), static_cast<socklen_t>(toLength));
        error = result < 0 ? errno : 0;
        if (error != EINTR && !onlyPendingError(error) && !(mayBePendingError(error) && tries < 2))
            break;
    }
    return error;
}

} // namespace mdlPing::helper
