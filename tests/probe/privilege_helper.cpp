// Starts the way both programs start (endpoint first, then every capability given up),
// creates the QApplication and reports what it is left with, one KEY=VALUE a line:
// the capability sets from /proc/self/status, whether loopback probes (IPv4 and IPv6)
// still go through the endpoints opened before, whether they go through helper processes,
// how many raw sockets the process holds, and whether a new raw socket could still be opened.
// With --break it then hangs the endpoint's socket up and reports the next probe.

#include "probe/icmpcore.h"
#include "probe/mdlping.h"
#include "probe/privilege.h"
#include "tests/probe/rawsockets.h"

#include <QApplication>
#include <QFile>

#include <sys/socket.h>

#include <cstdio>

int main(int argc, char* argv[])
{
    const bool dropped = mdlPing::OpenEndpointAndDropPrivileges();
    QApplication app(argc, argv);

    std::printf("dropped=%d\n", dropped ? 1 : 0);
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Cap")) {
                const QList<QByteArray> parts = line.simplified().split(' ');
                if (parts.size() == 2)
                    std::printf("%s=%s\n", parts[0].chopped(1).constData(), parts[1].constData());
            }
        }
    }
    std::printf("raw=%d\n", mdlPing::detail::IcmpCore::process()->isRaw() ? 1 : 0);
    // Raw answers come through helpers; the raw sockets themselves stay there.
    std::printf("helper=%d\n", mdlPing::detail::IcmpCore::process()->viaHelper() ? 1 : 0);
    std::printf("rawSockets=%d\n", countRawSockets());
    mdlPing::ICMP_ECHO_REPLY reply;
    std::printf("probe=%d\n", mdlPing::PingHost(QStringLiteral("127.0.0.1"), reply));
    // The IPv6 endpoint was opened before the drop too.
    std::printf("raw6=%d\n", mdlPing::detail::IcmpCore::process()->v6()->isRaw() ? 1 : 0);
    std::printf("probe6=%d\n", mdlPing::PingHost(QStringLiteral("::1"), reply));
    mdlPing::detail::IcmpCore fresh(mdlPing::detail::SocketKind::Raw);
    std::printf("newRawSocket=%d\n", fresh.open());

    if (QCoreApplication::arguments().contains(QStringLiteral("--break"))) {
        ::shutdown(mdlPing::detail::IcmpCore::process()->descriptor(), SHUT_RDWR);
        mdlPing::PingHost(QStringLiteral("127.0.0.1"), reply);
        const mdlPing::Outcome next = mdlPing::Probe(QStringLiteral("127.0.0.1"), reply);
        std::printf("afterBreak=%d\n", next.status);
        std::printf("afterBreakFailure=%s\n", qPrintable(next.reason));
    }
    return 0;
}
