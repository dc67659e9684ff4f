// Probes each address given on the command line once, the way the host list does, and
// prints one tab-separated line per address: address, status, round trip, text.

#include "mdlping.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstring>

namespace {

void printUsage(std::FILE* to)
{
    std::fputs("Usage: tivane-probe ADDRESS...\n"
               "Sends one ICMP echo request to each IPv4 address, in order, and prints\n"
               "ADDRESS<TAB>STATUS<TAB>ROUND TRIP MS<TAB>TEXT for each of them.\n"
               "Exit status: 0 when every address replied, 1 otherwise, 2 on usage errors.\n",
               to);
}

void writeLine(std::FILE* to, const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), to);
    std::fputc('\n', to);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        }
        if (argv[i][0] == '-') {
            std::fprintf(stderr, "tivane-probe: unknown option %s\n", argv[i]);
            printUsage(stderr);
            return 2;
        }
    }

    // Whoever reads the output as it comes (a script, a test) sees each result at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    if (!mdlPing::SocketsStartup()) {
        std::fputs("tivane-probe: the socket library could not be started\n", stderr);
        return 1;
    }
    // One record for all probes, as the host list uses it, so fields a probe leaves
    // alone show what an earlier one wrote.
    mdlPing::ICMP_ECHO_REPLY reply;
    bool allReplied = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray address = argv[i];
        const std::int32_t status = mdlPing::PingHost(QString::fromLocal8Bit(address), reply);
        const QByteArray rtt = status == -1 ? QByteArray() : QByteArray::number(reply.RoundTripTime);
        const QString text = status == 0 ? QStringLiteral("OK") : mdlPing::GetStatusText(status);
        writeLine(stdout, address + '\t' + QByteArray::number(status) + '\t' + rtt + '\t' + text.toUtf8());
        if (status == -1) {
            const QString reason = mdlPing::FailureText(mdlPing::LastFailure());
            writeLine(stderr, "tivane-probe: " + address + ": " + reason.toUtf8());
        }
        allReplied = allReplied && status == 0;
    }
    mdlPing::SocketsCleanup();
    return allReplied ? 0 : 1;
}
