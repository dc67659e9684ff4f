#include "probe/icmpcore.h"
#include "probe/mdlping.h"
#include "probe/mdlping_p.h"

#include <algorithm>
#include <cstring>

namespace mdlPing {

namespace {

thread_local Failure t_lastFailure = Failure::None;
thread_local int t_lastErrno = 0;
thread_local QString t_lastReason;
thread_local QString t_lastProbed;

} // namespace

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

void setLastFailure(Failure failure, int error, const QString& reason)
{
    t_lastFailure = failure;
    t_lastErrno = error;
    if (failure == Failure::NameNotFound)
        t_lastReason = reason;
}

std::int32_t pingHost(IcmpCore& core, const QString& address, ICMP_ECHO_REPLY& reply)
{
    setLastFailure(Failure::None, 0);
    t_lastProbed.clear();
    const Target target = classifyAddress(address);
    IpAddress destination = target.address;
    if (target.form == Target::Form::Invalid) {
        setLastFailure(Failure::BadAddress, 0);
        return -1;
    }
    if (target.form == Target::Form::Name) {
        QString error;
        const std::optional<IpAddress> found = resolveName(target.name, &error);
        if (!found) {
            setLastFailure(Failure::NameNotFound, 0, error);
            return -1;
        }
        destination = *found;
    }
    const ProbeOutcome outcome = core.ping(destination);
    if (outcome.status != -1)
        t_lastProbed = destination.toString();
    if (outcome.status == -1) {
        setLastFailure(outcome.failure, outcome.error);
        return -1;
    }
    // Fields this probe has nothing for keep what an earlier probe left there.
    reply.Status = outcome.status;
    reply.RoundTripTime = outcome.roundTripMs;
    if (outcome.from)
        reply.Address = *outcome.from;
    if (outcome.dataSize) {
        std::memcpy(reply.Data, outcome.data.data(), *outcome.dataSize);
        reply.DataSize = *outcome.dataSize;
    }
    return outcome.status;
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

QString LastProbedAddress()
{
    return t_lastProbed;
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
        return QStringLiteral("not an IPv4 or IPv6 address or a host name");
    case Failure::NameNotFound:
        return t_lastReason.isEmpty() ? QStringLiteral("host name not found") : t_lastReason;
    case Failure::NotPermitted:
        return QStringLiteral(
            "ICMP is not permitted for this user: grant cap_net_raw or widen net.ipv4.ping_group_range");
    case Failure::NoSocket:
        break;
    }
    return QStringLiteral("ICMP sockets could not be opened: ") + qt_error_string(t_lastErrno);
}

} // namespace mdlPing
