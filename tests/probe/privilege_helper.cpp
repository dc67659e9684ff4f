// Starts the way both programs start (endpoint first, then every capability given up),
// creates the QApplication and reports what it is left with, one KEY=VALUE a line:
// the capability sets from /proc/self/status, whether a loopback probe still goes
// through the endpoint opened before, and whether a new raw socket could still be opened.

#include "icmpcore.h"
#include "mdlping.h"
#include "privilege.h"

#include <QApplication>
#include <QFile>

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
    mdlPing::ICMP_ECHO_REPLY reply;
    std::printf("probe=%d\n", mdlPing::PingHost(QStringLiteral("127.0.0.1"), reply));
    mdlPing::detail::IcmpCore fresh(mdlPing::detail::SocketKind::Raw);
    std::printf("newRawSocket=%d\n", fresh.open());
    return 0;
}
