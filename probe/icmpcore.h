#pragma once

#include "probe/icmphelper.h"
#include "probe/icmppacket.h"
#include "probe/mdlping.h"
#include "probe/mdlping_p.h"

#include <QString>

#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

// The ICMP endpoint every probe of the process goes through: one socket, opened once and
// kept, with the requests in flight told apart by sequence number. Thread-safe: blocking
// probes may wait on several threads while an IcmpEngine drives others from the event loop.
namespace mdlPing::detail {

using Clock = std::chrono::steady_clock;
inline constexpr std::chrono::milliseconds kReplyTimeout{1000};

// Where a probe goes: an IPv4 or an IPv6 address (with the interface of a link-local one).
struct IpAddress
{
    int family = 0; // AF_INET or AF_INET6; 0: none
    std::array<std::uint8_t, 16> bytes{};
    std::uint32_t scope = 0;

    static IpAddress v4(std::uint32_t networkOrder);
    static IpAddress v6(const std::array<std::uint8_t, 16>& bytes, std::uint32_t scope = 0);
    bool isV6() const { return family == AF_INET6; }
    std::uint32_t v4Address() const; // network order
    // The same host; the interface does not count, as answers do not carry it.
    bool sameHost(const IpAddress& other) const { return family == other.family && bytes == other.bytes; }
    // "192.0.2.1", "2001:db8::1", "fe80::1%eth0".
    QString toString() const;
};

// How one probe ended.
struct ProbeOutcome
{
    std::int32_t status = -1; // -1: nothing was sent, failure says why
    Failure failure = Failure::None;
    int error = 0; // errno behind Failure::NoSocket / NotPermitted
    std::int32_t roundTripMs = 0;
    std::int64_t roundTripUs = 0;
    std::optional<std::uint32_t> from; // network order
    std::optional<std::uint16_t> dataSize;
    std::array<char, sizeof(ICMP_ECHO_REPLY::Data)> data{};
};

// What a text in the address column is. The classic IPv4 rules come first: a text they
// accept is that IPv4 address (or a bad one), never a name; then IPv6 literals; then
// host names, which must be well-formed to be looked up at all.
struct Target
{
    enum class Form
    {
        Invalid,
        Address,
        Name,
    };
    Form form = Form::Invalid;
    IpAddress address; // Form::Address
    QByteArray name;   // Form::Name: ASCII, as the resolver takes it
};
Target classifyAddress(const QString& text);

// Looks the name up with the system's resolver (blocking): its first address, or empty
// with the reason in *error ("host name not found: gw.example.lan").
std::optional<IpAddress> resolveName(const QByteArray& name, QString* error);

class IcmpCore;
// PingHost through the given endpoint.
std::int32_t pingHost(IcmpCore& core, const QString& address, ICMP_ECHO_REPLY& reply);
Outcome probeHost(IcmpCore& core, const QString& address, ICMP_ECHO_REPLY& reply);

class IcmpCore
{
public:
    // Who receives an asynchronous probe's outcome: a token from addOwner().
    using Owner = std::uint64_t;

    // An IPv4 endpoint comes with an IPv6 one (v6()), opened, reset and driven along with it:
    // probes to IPv6 addresses go there.
    explicit IcmpCore(SocketKind kind = SocketKind::Automatic, int family = AF_INET);
    ~IcmpCore();
    IcmpCore(const IcmpCore&) = delete;
    IcmpCore& operator=(const IcmpCore&) = delete;

    // The endpoint of this process (PingHost, IcmpEngine's default).
    static const std::shared_ptr<IcmpCore>& process();

    // Opens the socket unless it is open, and the IPv6 endpoint's; 0 or the errno of this
    // endpoint's failed open (the IPv6 endpoint's failures are its probes' outcomes).
    int open();
    int family() const { return m_family; }
    // How long a request waits for its reply before it ends as timed out (11010), for the
    // requests sent from now on, on this endpoint and its IPv6 one; clamped to 100 ms..10 s.
    void setReplyTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds replyTimeout() const { return std::chrono::milliseconds(m_replyTimeoutMs.load()); }
    // The payload of the requests sent from now on (shared with the IPv6 endpoint); each
    // family caps it at what fits a 1500-byte link unfragmented.
    void setPayloadSize(std::size_t bytes);
    std::size_t payloadSize() const;
    // The IPv6 endpoint of an IPv4 one; null for an IPv6 endpoint.
    const std::shared_ptr<IcmpCore>& v6() const { return m_v6; }
    // Closes the socket; the next probe opens one of this kind. Only while nothing is in flight.
    void reset(SocketKind kind);
    SocketKind kind() const;

    // Test and diagnostic views of the endpoint: the descriptor probes go through (the
    // channel to the helper on that path), whether answers come as raw packets, and the
    // helper's process id (-1: none).
    int descriptor() const;
    bool isRaw() const;
    bool viaHelper() const;
    pid_t helperPid() const;
    // Counts the sockets opened so far: it grows when a broken one is replaced.
    unsigned generation() const;
    std::uint16_t identifier() const;
    std::uint16_t nextSequence() const;

    // Sends one request and blocks until its outcome; never runs an event loop.
    ProbeOutcome ping(std::uint32_t destination);
    ProbeOutcome ping(const IpAddress& destination);

    // Asynchronous probes. The owner's wake descriptor (an eventfd) is written whenever
    // another thread finished one of its probes.
    Owner addOwner(int wakeFd);
    void removeOwner(Owner owner);
    // False when the probe ended at once; its outcome is then waiting in takeFinished().
    bool start(Owner owner, std::uint64_t id, std::uint32_t destination);
    bool start(Owner owner, std::uint64_t id, const IpAddress& destination);
    void cancel(Owner owner, std::uint64_t id);
    void cancelAll(Owner owner);
    // Reads what the socket holds unless a blocking probe is reading it already.
    void tryPump();
    // Ends the owner's probes whose deadline has passed.
    void expire(Owner owner);
    std::vector<std::pair<std::uint64_t, ProbeOutcome>> takeFinished(Owner owner);
    std::optional<Clock::time_point> nextDeadline(Owner owner) const;
    int inFlight(Owner owner) const;

private:
    struct Record
    {
        Owner owner = 0; // 0: a blocking probe
        std::uint64_t id = 0;
        IpAddress destination;
        Clock::time_point sent;
        Clock::time_point deadline;
        bool done = false;
        // Handed to the helper without waiting for its answer: a refusal comes later.
        bool posted = false;
        ProbeOutcome outcome;
    };
    using Lock = std::unique_lock<std::mutex>;

    int openLocked();
    void closeLocked();
    // Sends a request; the sequence of the record in flight, or empty with the outcome
    // already filed.
    std::optional<std::uint16_t> sendLocked(Owner owner, std::uint64_t id, const IpAddress& destination,
                                            ProbeOutcome* immediate);
    void addOwnerAs(Owner owner, int wakeFd);
    void pumpLocked(short revents);
    bool drainPacketsLocked();
    bool drainErrorQueueLocked();
    // The helper's messages: what the raw socket would have read.
    bool drainHelperLocked();
    // One helper message; a Sent reply's outcome when it is about `sending`.
    std::optional<int> takeHelperMessageLocked(std::size_t size, std::optional<std::uint16_t> sending);
    // Asks the helper to send; 0 or the errno of the send.
    int sendViaHelperLocked(std::uint16_t sequence, const IpAddress& destination);
    // Hands the request to the helper without waiting for its answer, so a batch of
    // asynchronous probes costs no round trip per request; 0, or EPIPE for a stuck channel.
    int postToHelperLocked(std::uint16_t sequence, const IpAddress& destination);
    void handlePacketLocked(const std::uint8_t* data, std::size_t length, const IpAddress& sender,
                            Clock::time_point arrived);
    void handleLocalErrorLocked(const IpAddress& destination, int error, Clock::time_point arrived);
    void dispatchLocked(std::uint16_t sequence, const IpAddress& destination, ProbeOutcome outcome,
                        Clock::time_point arrived);
    void completeLocked(std::unordered_map<std::uint16_t, Record>::iterator it, ProbeOutcome outcome,
                        Clock::time_point at);
    void breakLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    SocketKind m_kind;
    const int m_family;
    std::shared_ptr<IcmpCore> m_v6;
    std::atomic<int> m_replyTimeoutMs{static_cast<int>(kReplyTimeout.count())};
    std::atomic<std::size_t> m_payloadSize{packet::kPayload.size()};
    int m_fd = -1;
    bool m_raw = false;
    helper::Handle m_helper;
    unsigned m_generation = 0;
    std::uint16_t m_identifier = 0;
    std::uint16_t m_sequence = 0;
    bool m_pumping = false;
    // A posted request found the helper's socket broken: the next pump replaces the endpoint.
    bool m_helperBroken = false;
    Owner m_lastOwner = 0;
    std::unordered_map<Owner, int> m_owners; // owner -> wake descriptor
    std::unordered_map<std::uint16_t, Record> m_inFlight;
    std::unordered_map<Owner, std::vector<std::pair<std::uint64_t, ProbeOutcome>>> m_finished;
    alignas(8) std::uint8_t m_buffer[helper::kMaxMessage];
};

} // namespace mdlPing::detail
