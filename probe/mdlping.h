#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>

// The ICMP echo probe: one echo request per call, the outcome as a status code.
namespace mdlPing {

// The reply record a probe fills. Only Status and RoundTripTime are read by callers;
// fields a probe does not write keep what an earlier probe left there.
struct ICMP_ECHO_REPLY
{
    std::uint32_t Address = 0;
    std::int32_t Status = 0;
    std::int32_t RoundTripTime = 0;
    std::uint16_t DataSize = 0;
    std::uint16_t Reserved = 0;
    std::uint32_t DataPointer = 0;
    std::uint8_t Ttl = 0;
    std::uint8_t Tos = 0;
    std::uint8_t Flags = 0;
    std::uint8_t OptionsSize = 0;
    std::uint32_t OptionsData = 0;
    char Data[250] = {};
};

// Why the latest PingHost returned -1.
enum class Failure
{
    None,         // the latest probe sent its request
    BadAddress,   // neither an IPv4 nor an IPv6 address nor a host name; or 0.0.0.0 / 255.255.255.255 / ::
    NameNotFound, // a host name the resolver could not turn into an address
    NotPermitted, // neither an ICMP datagram socket nor a raw socket is allowed for this user
    NoSocket,     // ICMP sockets could not be opened for another reason
};

// Everything one probe learnt, as one value: what the asynchronous calls report.
struct Outcome
{
    // 0 success, 11001..11050 failures (11010 timed out), -1 nothing was sent.
    std::int32_t status = -1;
    std::int32_t roundTripMs = 0;
    qint64 roundTripUs = 0;
    // Why nothing was sent (status -1), and the sentence for it; None and empty otherwise.
    Failure failure = Failure::None;
    QString reason;
    // The address the request went to ("192.0.2.1", "::1", a host name's address); empty
    // when nothing was sent or it is not known.
    QString probed;

    friend bool operator==(const Outcome&, const Outcome&) = default;
};

bool SocketsStartup();
void SocketsCleanup();

// Sends one echo request ("hello", 1000 ms) to the IPv4 or IPv6 address, or to the first
// address of the host name (looked up here, blocking). Returns the
// reply's status code (0 success, 11001..11050 failures, 11010 timed out), or -1 when
// no request could be sent; in that case the record is left untouched.
std::int32_t PingHost(const QString& address, ICMP_ECHO_REPLY& reply);
// The same probe, with everything it learnt: why nothing was sent, the address it went to.
Outcome Probe(const QString& address, ICMP_ECHO_REPLY& reply);

// The text for a status code; "Unknown Response" for codes without one.
QString GetStatusText(const std::int32_t& status);

// A short English sentence for a failure; error: the errno behind NoSocket, when known. An
// Outcome's reason says more where there is more to say (the resolver's answer for a name).
QString FailureText(Failure failure, int error = 0);

} // namespace mdlPing

Q_DECLARE_METATYPE(mdlPing::Failure)
Q_DECLARE_METATYPE(mdlPing::Outcome)
