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
// Addresses without a rule get no answer. Prints "ready" once it listens, and exits
// when its parent goes away or after a minute at the latest.
//
//   icmp_responder --stray TARGET ID SEQUENCE
//
// Run in the prober's namespace instead: for three seconds, ICMP that must not be taken
// for the answer to the probe of TARGET with that identifier and sequence.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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
    Bytes request; // as received, IP header included
};

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
        return m_listen >= 0 && m_forger.open();
    }

    std::map<std::uint32_t, std::vector<Action>> rules;

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
            pollfd fd{m_listen, POLLIN, 0};
            if (poll(&fd, 1, timeout) > 0) {
                std::uint8_t buffer[2048];
                const ssize_t size = recv(m_listen, buffer, sizeof buffer, MSG_DONTWAIT);
                if (size > 0) {
                    ++requests;
                    received(Bytes(buffer, buffer + size));
                }
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

    void perform(const Pending& p)
    {
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
        std::vector<Action>& actions = responder.rules[inet_addr(rule.substr(0, equals).c_str())];
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
