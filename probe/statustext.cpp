#include "probe/mdlping.h"
#include "probe/statuscodes.h"

namespace mdlPing {

QString GetStatusText(const std::int32_t& status)
{
    // The texts are shown in the host list, the outage log and tivane-probe's output, where
    // people and scripts match them, so they stay byte for byte as they are.
    switch (static_cast<Status>(status)) {
    case Status::Success:
        return QStringLiteral("Success!");
    case Status::BufferTooSmall:
        return QStringLiteral("Buffer Too Small");
    case Status::NetUnreachable:
        return QStringLiteral("Destination Net Unreachable");
    case Status::HostUnreachable:
        return QStringLiteral("Destination Host Unreachable");
    case Status::ProtocolUnreachable:
        return QStringLiteral("Destination Protocol Unreachable");
    case Status::PortUnreachable:
        return QStringLiteral("Destination Port Unreachable");
    case Status::NoResources:
        return QStringLiteral("No Resources");
    case Status::BadOption:
        return QStringLiteral("Bad Option");
    case Status::HardwareError:
        return QStringLiteral("Hardware Error");
    case Status::PacketTooBig:
        return QStringLiteral("Packet Too Big");
    case Status::TimedOut:
        return QStringLiteral("Request Timed Out");
    case Status::BadRequest:
        return QStringLiteral("Bad Request");
    case Status::BadRoute:
        return QStringLiteral("Bad Route");
    case Status::TtlExpiredTransit:
        return QStringLiteral("TimeToLive Expired Transit");
    case Status::TtlExpiredReassembly:
        return QStringLiteral("TimeToLive Expired Reassembly");
    case Status::ParameterProblem:
        return QStringLiteral("Parameter Problem");
    case Status::SourceQuench:
        return QStringLiteral("Source Quench");
    case Status::OptionTooBig:
        return QStringLiteral("Option Too Big");
    case Status::BadDestination:
        return QStringLiteral("Bad Destination");
    case Status::NegotiatingIpsec:
        return QStringLiteral("Negotiating IPSEC");
    case Status::GeneralFailure:
        return QStringLiteral("General Failure");
    default:
        return QStringLiteral("Unknown Response");
    }
}

} // namespace mdlPing
