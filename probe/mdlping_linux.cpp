#include "probe/icmpcore.h"
#include "probe/mdlping.h"
#include "probe/mdlping_p.h"

#include <algorithm>
#include <cstring>

namespace mdlPing {

namespace detail {

void setSocketKind(SocketKind kind)
{
    IcmpCore::process()->reset(kind);
}

SocketKind socketKind()
{
    return IcmpCore::process()->kind();
}

std::uint16_t rawIdentifier()
{
    return IcmpCore::process()->identifier();
}

std::uint16_t nextSequence()
{
    return IcmpCore::process()->nextSequence();
}

Outcome probeHost(IcmpCore& core, const QString& address, ICMP_ECHO_REPLY& reply)
{
    Outcome result;
    const auto failed = [&result](Failure failure, int error, const QString& reason = {}) {
        result.failure = failure;
        result.reason = reason.isEmpty() ? FailureText(failure, error) : reason;
        return result;
    };
    const Target target = classifyAddress(address);
    IpAddress destination = target.address;
    if (target.form == Target::Form::Invalid)
        return failed(Failure::BadAddress, 0);
    if (target.form == Target::Form::Name) {
        QString error;
        const std::optional<IpAddress> found = resolveName(target.name, &error);
        if (!found)
            return failed(Failure::NameNotFound, 0, error);
        destination = *found;
    }
    const ProbeOutcome outcome = core.ping(destination);
    if (outcome.status == -1)
        return failed(outcome.failure, outcome.error);
    result.status = outcome.status;
    result.roundTripMs = outcome.roundTripMs;
    result.roundTripUs = outcome.roundTripUs;
    result.probed = destination.toString();
    // Fields this probe has nothing for keep what an earlier probe left there.
    reply.Status = outcome.status;
    reply.RoundTripTime = outcome.roundTripMs;
    if (outcome.from)
        reply.Address = *outcome.from;
    if (outcome.dataSize) {
        std::memcpy(reply.Data, outcome.data.data(), *outcome.dataSize);
        reply.DataSize = *outcome.dataSize;
    }
    return result;
}

std::int32_t pingHost(IcmpCore& core, const QString& address, ICMP_ECHO_REPLY& reply)
{
    return probeHost(core, address, reply).status;
}

} // namespace detail

bool SocketsStartup()
{
    return true;
}

void SocketsCleanup() {}

std::int32_t PingHost(const QString& address, ICMP_ECHO_REPLY& reply)
{
    return detail::pingHost(*detail::IcmpCore::process(), address, reply);
}

Outcome Probe(const QString& address, ICMP_ECHO_REPLY& reply)
{
    return detail::probeHost(*detail::IcmpCore::process(), address, reply);
}

QString FailureText(Failure failure, int error)
{
    switch (failure) {
    case Failure::None:
        return QStringLiteral("the request was sent");
    case Failure::BadAddress:
        return QStringLiteral("not an IPv4 or IPv6 address or a host name");
    case Failure::NameNotFound:
        return QStringLiteral("host name not found");
    case Failure::NotPermitted:
        return QStringLiteral(
            "ICMP is not permitted for this user: grant cap_net_raw or widen net.ipv4.ping_group_range");
    case Failure::NoSocket:
        break;
    }
    return error ? QStringLiteral("ICMP sockets could not be opened: ") + qt_error_string(error)
                 : QStringLiteral("ICMP sockets could not be opened");
}

} // namespace mdlPing
