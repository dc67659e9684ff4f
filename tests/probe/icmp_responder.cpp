// Answers ICMP echo requests inside a test namespace the way a scripted network would:
// late, after decoys, or with a crafted ICMP error. The kernel of the namespace must
// ignore echo requests itself (net.ipv4.icmp_echo_ignore_all=1).
//
//   icmp_responder ADDRESS=ACTION[,ACTION...]...
//
// Each request to ADDRESS runs its actions, each at a delay after the request arrived:
//   reply@MS                 the echo reply
//   reply:opts@MS            the echo reply with IP options in its header
//   error:TYPE:CODE@MS       an ICMP error quoting the request
//     ...:opts               the quoted header carries IP options (as if the request had them)
//     ...:from=A.B.C.D       the error comes from another node
//   decoys@MS                replies and errors that must not be taken for ours: other
//                            sequence, other identifier, other source, bad checksum,
//                            errors quoting another request or another destination
// ADDRESS may be an IPv6 address too (the namespace's kernel must then ignore ICMPv6 echo
// requests as well, net.ipv6.icmp.echo_ignore_all=1): reply, error:TYPE:CODE (ICMPv6
// numbers, always from the probed address) and decoys work the same way.
// Addresses without a rule get no answer. Prints "ready" once it listens, and exits
// when its parent goes away or after a minute at the latest.
//
//   icmp_responder --stray TARGET ID SEQUENCE
//
// Run in the prober's namespace instead: for three seconds, ICMP that must not be taken
// for the answer to the probe of TARGET with that identifier and sequence.

#include <arpa/inet.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kLifetime = std::chrono::seconds(60);
constexpr int kMaxRequests = 20000;

struct Action
{
    enum Kind
    {
        Reply,
        Error,
        Decoys
    } kind = Reply;
    int type = 0;
    int code = 0;
    bool options = false;   // IP options on the reply, or on the quoted header of an error
    std::uint32_t from = 0; // network order; 0: the probed address
    int delayMs = 0;
};

struct Pending
{
    Clock::time_point due;
    Action action;
    Bytes request; // as received, IP header included (IPv6: rebuilt from what the socket saw)
};

using Address6 = std::array<std::uint8_t, 16>;

std::uint16_t read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void write16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

std::uint16_t checksum(const std::uint8_t* data, std::size_t size)
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

std::uint32_t address(const std::uint8_t* p)
{
    std::uint32_t a;
    std::memcpy(&a, p, 4);
    return a;
}

bool parseAction(const std::string& text, Action& action)
{
    const auto at = text.rfind('@');
    if (at == std::string::npos)
        return false;
    action.delayMs = std::atoi(text.c_str() + at + 1);
    std::vector<std::string> parts;
    std::string head = text.substr(0, at);
    for (std::size_t start = 0;;) {
        const auto colon = head.find(':', start);
        parts.push_back(head.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    std::size_t next = 1;
    if (parts[0] == "reply") {
        action.kind = Action::Reply;
    } else if (parts[0] == "decoys") {
        action.kind = Action::Decoys;
    } else if (parts[0] == "error" && parts.size() >= 3) {
        action.kind = Action::Error;
        action.type = std::atoi(parts[1].c_str());
        action.code = std::atoi(parts[2].c_str());
        next = 3;
    } else {
        return false;
    }
    for (; next < parts.size(); ++next) {
        if (parts[next] == "opts")
            action.options = true;
        else if (parts[next].rfind("from=", 0) == 0)
            action.from = inet_addr(parts[next].c_str() + 5);
        else
            return false;
    }
    return true;
}

// An IPv4 header, optionally with four bytes of options (three no-ops and the end).
Bytes ipHeader(std::uint32_t source, std::uint32_t destination, bool options)
{
    Bytes header(options ? 24 : 20, 0);
    header[0] = static_cast<std::uint8_t>(0x40 | (header.size() / 4));
    header[8] = 64;
    header[9] = IPPROTO_ICMP;
    std::memcpy(&header[12], &source, 4);
    std::memcpy(&header[16], &destination, 4);
    if (options)
        header[20] = header[21] = header[22] = 1;
    return header;
}

// Sends ICMP with IP headers of its own making, so any source address will do.
class Forger
{
public:
    bool open()
    {
        m_fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        return m_fd >= 0;
    }

    void sendEcho(std::uint32_t from, std::uint32_t to, Bytes echo, std::uint16_t id, std::uint16_t seq, bool options,
                  bool corrupt)
    {
        echo[0] = 0;
        echo[1] = 0;
        write16(&echo[4], id);
        write16(&echo[6], seq);
        write16(&echo[2], 0);
        write16(&echo[2], checksum(echo.data(), echo.size()));
        if (corrupt)
            echo[2] ^= 0x5a;
        transmit(from, to, echo, options);
    }

    void sendError(std::uint32_t from, std::uint32_t to, const Bytes& request, int type, int code, bool quotedOptions)
    {
        Bytes icmp(8, 0);
        icmp[0] = static_cast<std::uint8_t>(type);
        icmp[1] = static_cast<std::uint8_t>(code);
        if (type == 3 && code == 4)
            write16(&icmp[6], 1280); // next-hop MTU
        if (type == 5) {
            const std::uint32_t gateway = htonl(ntohl(to) ^ 0x7f); // somewhere on the prober's net
            std::memcpy(&icmp[4], &gateway, 4);
        }
        if (type == 12)
            icmp[4] = 1; // pointer into the quoted header
        const std::size_t ihl = (request[0] & 0x0f) * 4u;
        if (quotedOptions) {
            Bytes quoted = ipHeader(address(&request[12]), address(&request[16]), true);
            quoted[8] = request[8];
            write16(&quoted[2], static_cast<std::uint16_t>(quoted.size() + request.size() - ihl));
            icmp.insert(icmp.end(), quoted.begin(), quoted.end());
            icmp.insert(icmp.end(), request.begin() + static_cast<long>(ihl), request.end());
        } else {
            icmp.insert(icmp.end(), request.begin(), request.end());
        }
        write16(&icmp[2], checksum(icmp.data(), icmp.size()));
        transmit(from, to, icmp, false);
    }

private:
    void transmit(std::uint32_t from, std::uint32_t to, const Bytes& icmp, bool options)
    {
        Bytes packet = ipHeader(from, to, options);
        packet.insert(packet.end(), icmp.begin(), icmp.end());
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_addr.s_addr = to;
        sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&destination),
               sizeof destination);
    }

    int m_fd = -1;
};

class Responder
{
public:
    bool open()
    {
        m_listen = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        m_listen6 = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (m_listen6 >= 0) {
            const int on = 1;
            setsockopt(m_listen6, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
            icmp6_filter filter;
            ICMP6_FILTER_SETBLOCKALL(&filter);
            ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
            setsockopt(m_listen6, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        }
        return m_listen >= 0 && m_listen6 >= 0 && m_forger.open();
    }

    std::map<std::uint32_t, std::vector<Action>> rules;
    std::map<Address6, std::vector<Action>> rules6;

    void run()
    {
        const Clock::time_point end = Clock::now() + kLifetime;
        int requests = 0;
        while (Clock::now() < end && getppid() != 1 && requests < kMaxRequests) {
            int timeout = 200;
            const Clock::time_point now = Clock::now();
            for (const Pending& p : m_pending) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(p.due - now).count();
                timeout = std::clamp(static_cast<int>(left), 0, timeout);
            }
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_listen6, POLLIN, 0}};
            if (poll(fds, 2, timeout) > 0) {
                std::uint8_t buffer[2048];
                const ssize_t size = recv(m_listen, buffer, sizeof buffer, MSG_DONTWAIT);
                if (size > 0) {
                    ++requests;
                    received(Bytes(buffer, buffer + size));
                }
                if (receivedV6())
                    ++requests;
            }
            const Clock::time_point due = Clock::now();
            for (std::size_t i = 0; i < m_pending.size();) {
                if (m_pending[i].due <= due) {
                    perform(m_pending[i]);
                    m_pending.erase(m_pending.begin() + static_cast<long>(i));
                } else {
                    ++i;
                }
            }
        }
    }

private:
    void received(const Bytes& packet)
    {
        if (packet.size() < 28 || (packet[0] >> 4) != 4)
            return;
        const std::size_t ihl = (packet[0] & 0x0f) * 4u;
        if (packet.size() < ihl + 8 || packet[ihl] != 8)
            return;
        const auto rule = rules.find(address(&packet[16]));
        if (rule == rules.end())
            return;
        const Clock::time_point now = Clock::now();
        for (const Action& action : rule->second)
            m_pending.push_back({now + std::chrono::milliseconds(action.delayMs), action, packet});
    }

    // Reads one ICMPv6 echo request and files the actions of its rule; true if it read one.
    bool receivedV6()
    {
        std::uint8_t buffer[2048];
        sockaddr_in6 from{};
        iovec data{buffer, sizeof buffer};
        alignas(cmsghdr) std::uint8_t control[256];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(m_listen6, &message, MSG_DONTWAIT);
        if (size < 8 || buffer[0] != ICMP6_ECHO_REQUEST)
            return size > 0;
        Address6 to{};
        bool haveTo = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
                in6_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                std::memcpy(to.data(), &info.ipi6_addr, 16);
                haveTo = true;
            }
        }
        const auto rule = haveTo ? rules6.find(to) : rules6.end();
        if (rule == rules6.end())
            return true;
        // The request as it travelled: the IPv6 header the socket does not show, then ICMPv6.
        Bytes request(40, 0);
        request[0] = 0x60;
        write16(&request[4], static_cast<std::uint16_t>(size));
        request[6] = IPPROTO_ICMPV6;
        request[7] = 64;
        std::memcpy(&request[8], &from.sin6_addr, 16);
        std::memcpy(&request[24], to.data(), 16);
        request.insert(request.end(), buffer, buffer + size);
        const Clock::time_point now = Clock::now();
        for (const Action& action : rule->second)
            m_pending.push_back({now + std::chrono::milliseconds(action.delayMs), action, request});
        return true;
    }

    // Sends ICMPv6 from the probed address (one of ours) to the prober; the kernel adds the checksum.
    void transmitV6(const Bytes& request, const Bytes& icmp)
    {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(&to.sin6_addr, &request[8], 16);
        alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
        iovec data{const_cast<std::uint8_t*>(icmp.data()), icmp.size()};
        msghdr message{};
        message.msg_name = &to;
        message.msg_namelen = sizeof to;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IPV6;
        c->cmsg_type = IPV6_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
        in6_pktinfo info{};
        std::memcpy(&info.ipi6_addr, &request[24], 16);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        sendmsg(m_listen6, &message, 0);
    }

    void replyV6(const Bytes& request, std::uint16_t id, std::uint16_t seq)
    {
        Bytes echo(request.begin() + 40, request.end());
        echo[0] = ICMP6_ECHO_REPLY;
        echo[1] = 0;
        write16(&echo[2], 0);
        write16(&echo[4], id);
        write16(&echo[6], seq);
        transmitV6(request, echo);
    }

    void errorV6(const Bytes& request, int type, int code)
    {
        Bytes icmp(8, 0);
        icmp[0] = static_cast<std::uint8_t>(type);
        icmp[1] = static_cast<std::uint8_t>(code);
        if (type == ICMP6_PACKET_TOO_BIG)
            write16(&icmp[6], 1280); // the MTU
        if (type == ICMP6_PARAM_PROB)
            icmp[7] = 6; // pointer: the next header field
        icmp.insert(icmp.end(), request.begin(), request.end());
        transmitV6(request, icmp);
    }

    void performV6(const Pending& p)
    {
        const Bytes& request = p.request;
        const std::uint16_t id = read16(&request[44]);
        const std::uint16_t seq = read16(&request[46]);
        switch (p.action.kind) {
        case Action::Reply:
            replyV6(request, id, seq);
            break;
        case Action::Error:
            errorV6(request, p.action.type, p.action.code);
            break;
        case Action::Decoys: {
            replyV6(request, id, static_cast<std::uint16_t>(seq - 1));
            replyV6(request, static_cast<std::uint16_t>(id ^ 0x0101), seq);
            // An error about a request that is not ours, and one about a request elsewhere.
            Bytes other = request;
            write16(&other[46], static_cast<std::uint16_t>(seq + 1));
            errorV6(other, ICMP6_DST_UNREACH, 4);
            other = request;
            other[39] ^= 0xff;
            transmitV6(request, [&] {
                Bytes icmp(8, 0);
                icmp[0] = ICMP6_DST_UNREACH;
                icmp.insert(icmp.end(), other.begin(), other.end());
                return icmp;
            }());
            break;
        }
        }
    }

    void perform(const Pending& p)
    {
        if ((p.request[0] >> 4) == 6) {
            performV6(p);
            return;
        }
        const Bytes& request = p.request;
        const std::size_t ihl = (request[0] & 0x0f) * 4u;
        const std::uint32_t prober = address(&request[12]);
        const std::uint32_t probed = address(&request[16]);
        const Bytes echo(request.begin() + static_cast<long>(ihl), request.end());
        const std::uint16_t id = read16(&echo[4]);
        const std::uint16_t seq = read16(&echo[6]);
        switch (p.action.kind) {
        case Action::Reply:
            m_forger.sendEcho(probed, prober, echo, id, seq, p.action.options, false);
            break;
        case Action::Error:
            m_forger.sendError(p.action.from ? p.action.from : probed, prober, request, p.action.type, p.action.code,
                               p.action.options);
            break;
        case Action::Decoys: {
            // What a late reply to the previous probe, somebody else's ping and a
            // corrupted copy of our reply look like.
            m_forger.sendEcho(probed, prober, echo, id, static_cast<std::uint16_t>(seq - 1), false, false);
            m_forger.sendEcho(probed, prober, echo, static_cast<std::uint16_t>(id ^ 0x0101), seq, false, false);
            m_forger.sendEcho(probed, prober, echo, id, seq, false, true);
            m_forger.sendEcho(htonl(ntohl(probed) ^ 0xff), prober, echo, id, seq, false, false);
            // Errors about requests that are not ours.
            Bytes other = request;
            write16(&other[ihl + 6], static_cast<std::uint16_t>(seq + 1));
            m_forger.sendError(probed, prober, other, 3, 3, false);
            other = request;
            const std::uint32_t elsewhere = htonl(ntohl(probed) ^ 0xff);
            std::memcpy(&other[16], &elsewhere, 4);
            m_forger.sendError(probed, prober, other, 3, 1, false);
            break;
        }
        }
    }

    int m_listen = -1;
    int m_listen6 = -1;
    Forger m_forger;
    std::vector<Pending> m_pending;
};

// Fills the prober's namespace with ICMP that is not the probe's answer: kernel replies to
// pings of 127.0.0.1 (one with the probe's identifier and sequence, but the wrong source),
// and forged replies and errors from the probed address with other sequence numbers.
int stray(std::uint32_t target, std::uint16_t id, std::uint16_t seq)
{
    const int ping = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    Forger forger;
    if (ping < 0 || !forger.open()) {
        std::perror("icmp_responder: raw sockets");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    const Clock::time_point end = Clock::now() + std::chrono::seconds(3);
    for (int round = 0; round < 3000 && Clock::now() < end && getppid() != 1; ++round) {
        for (int i = 0; i < 8; ++i) {
            Bytes echo = {8, 0, 0, 0, 0, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'};
            write16(&echo[4], static_cast<std::uint16_t>(id + 17 * i));
            write16(&echo[6], seq);
            write16(&echo[2], checksum(echo.data(), echo.size()));
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = loopback;
            sendto(ping, echo.data(), echo.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);

            const auto other = static_cast<std::uint16_t>(seq + 1 + i);
            forger.sendEcho(target, loopback, echo, id, other, false, false);
            Bytes request = ipHeader(loopback, target, false);
            write16(&request[2], static_cast<std::uint16_t>(request.size() + echo.size()));
            write16(&echo[6], other);
            request.insert(request.end(), echo.begin(), echo.end());
            forger.sendError(target, loopback, request, 3, 3, false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc == 5 && std::strcmp(argv[1], "--stray") == 0)
        return stray(inet_addr(argv[2]), static_cast<std::uint16_t>(std::atoi(argv[3])),
                     static_cast<std::uint16_t>(std::atoi(argv[4])));
    Responder responder;
    for (int i = 1; i < argc; ++i) {
        const std::string rule = argv[i];
        const auto equals = rule.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "icmp_responder: bad rule %s\n", argv[i]);
            return 2;
        }
        const std::string target = rule.substr(0, equals);
        Address6 v6{};
        std::vector<Action>& actions = inet_pton(AF_INET6, target.c_str(), v6.data()) == 1
                                           ? responder.rules6[v6]
                                           : responder.rules[inet_addr(target.c_str())];
        std::string list = rule.substr(equals + 1);
        for (std::size_t start = 0;;) {
            const auto comma = list.find(',', start);
            Action action;
            if (!parseAction(list.substr(start, comma - start), action)) {
                std::fprintf(stderr, "icmp_responder: bad action in %s\n", argv[i]);
                return 2;
            }
            actions.push_back(action);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    if (!responder.open()) {
        std::perror("icmp_responder: raw sockets");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    responder.run();
    return 0;
}
