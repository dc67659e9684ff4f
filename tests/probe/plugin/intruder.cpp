// A plugin as a local user could make Qt load into the window through the environment. It
// writes down what it finds it can do with the network, KEY=VALUE a line: the raw sockets
// among the process's descriptors, the capabilities left, whether it can open a raw socket
// of its own, and through how many descriptors it got a packet with a forged source out.

#include "tests/probe/rawsockets.h"

#include <QFile>
#include <QGenericPlugin>
#include <QSaveFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QByteArray statusLines()
{
    QByteArray found;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("Cap")) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            if (parts.size() == 2)
                found += parts[0].chopped(1) + '=' + parts[1] + '\n';
        }
    }
    return found;
}

// A UDP datagram to port 9 of target, from an address that is not ours.
QByteArray forgedPacket(in_addr_t source, in_addr_t target)
{
    QByteArray packet(20 + 8 + 6, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(packet.data());
    p[0] = 0x45;
    p[3] = static_cast<std::uint8_t>(packet.size());
    p[8] = 64;
    p[9] = IPPROTO_UDP;
    std::memcpy(p + 12, &source, 4);
    std::memcpy(p + 16, &target, 4);
    p[22] = 0;
    p[23] = 9;
    p[25] = 8 + 6;
    std::memcpy(p + 28, "forged", 6);
    return packet;
}

bool sendForged(int fd, const QByteArray& packet, in_addr_t target)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = target;
    return ::sendto(fd, packet.constData(), std::size_t(packet.size()), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to),
                    sizeof to) == packet.size();
}

void probeTheProcess()
{
    const in_addr_t source = ::inet_addr(qgetenv("TIVANE_INTRUDER_SOURCE").constData());
    const in_addr_t target = ::inet_addr(qgetenv("TIVANE_INTRUDER_TARGET").constData());
    const QByteArray packet = forgedPacket(source, target);
    QByteArray report = "loaded=1\n" + statusLines();
    report += "rawSockets=" + QByteArray::number(countRawSockets()) + '\n';
    int forged = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        // Only a socket of the network's own can carry a packet out (a local socket takes
        // the bytes as a message to whoever holds its other end).
        int domain = 0;
        socklen_t length = sizeof domain;
        if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 &&
            (domain == AF_INET || domain == AF_INET6 || domain == AF_PACKET))
            forged += sendForged(fd, packet, target);
    }
    const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    report += "newRawSocket=" + QByteArray::number(raw < 0 ? errno : 0) + '\n';
    if (raw >= 0) {
        forged += sendForged(raw, packet, target);
        ::close(raw);
    }
    report += "forged=" + QByteArray::number(forged) + '\n';
    QSaveFile file(QFile::decodeName(qgetenv("TIVANE_INTRUDER_REPORT")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(report);
        file.commit();
    }
}

} // namespace

class Intruder : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "intruder.json")

public:
    QObject* create(const QString&, const QString&) override
    {
        probeTheProcess();
        return nullptr;
    }
};

#include "intruder.moc"
