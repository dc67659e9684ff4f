// Probes each address given on the command line once, the way the host list does, and
// prints one tab-separated line per address: address, status, round trip, text. All
// requests go out at once, so silent hosts cost one timeout together; the lines still
// come in the order of the arguments.

#include "probe/icmpengine.h"
#include "probe/mdlping.h"
#include "probe/privilege.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QString>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// As many as the sweep keeps in flight; the rest wait for a free place.
constexpr int kMaxInFlight = 256;

void printUsage(std::FILE* to)
{
    std::fputs("Usage: tivane-probe ADDRESS...\n"
               "Sends one ICMP echo request to each IPv4 or IPv6 address or host name, all at\n"
               "once, and prints ADDRESS<TAB>STATUS<TAB>ROUND TRIP MS<TAB>TEXT for each of them,\n"
               "in order, with each ADDRESS as given.\n"
               "Exit status: 0 when every address replied, 1 otherwise, 2 on usage errors.\n"
               "  -h, --help     Show this help and exit.\n"
               "  -v, --version  Show the version and exit.\n",
               to);
}

void writeLine(std::FILE* to, const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), to);
    std::fputc('\n', to);
}

struct Result
{
    bool done = false;
    std::int32_t status = -1;
    std::int32_t roundTripMs = 0;
    QString reason; // why nothing was sent
};

} // namespace

int main(int argc, char* argv[])
{
    // Before anything else, and before Qt reads plugin paths from the environment: the
    // endpoint is the only thing cap_net_raw is needed for.
    if (!mdlPing::OpenEndpointAndDropPrivileges()) {
        std::fputs("tivane-probe: could not give up privileges\n", stderr);
        return 1;
    }

    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("tivane-probe %d.%d.%d\n", TIVANE_VERSION_MAJOR, TIVANE_VERSION_MINOR, TIVANE_VERSION_PATCH);
            return 0;
        }
        if (argv[i][0] == '-') {
            std::fprintf(stderr, "tivane-probe: unknown option %s\n", argv[i]);
            printUsage(stderr);
            return 2;
        }
    }

    // Whoever reads the output as it comes (a script, a test) sees the results of each batch of
    // outcomes at once, flushed after the batch rather than written line by line.
    std::setvbuf(stdout, nullptr, _IOFBF, std::size_t(1) << 16);

    if (!mdlPing::SocketsStartup()) {
        std::fputs("tivane-probe: the socket library could not be started\n", stderr);
        return 1;
    }

    // Qt must not take our arguments for its own.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    mdlPing::IcmpEngine engine;

    const int count = argc - 1;
    std::vector<Result> results(static_cast<std::size_t>(count));
    QHash<quint64, int> indexOf;
    int nextToStart = 0;
    int nextToPrint = 0;
    bool allReplied = true;

    auto startMore = [&] {
        while (nextToStart < count && indexOf.size() < kMaxInFlight) {
            const quint64 id = engine.start(QString::fromLocal8Bit(argv[nextToStart + 1]));
            indexOf.insert(id, nextToStart++);
        }
    };
    bool flushQueued = false;
    auto printReady = [&] {
        if (nextToPrint < count && results[static_cast<std::size_t>(nextToPrint)].done && !flushQueued) {
            flushQueued = true;
            QMetaObject::invokeMethod(
                &app,
                [&] {
                    flushQueued = false;
                    std::fflush(stdout);
                },
                Qt::QueuedConnection);
        }
        for (; nextToPrint < count && results[static_cast<std::size_t>(nextToPrint)].done; ++nextToPrint) {
            const Result& r = results[static_cast<std::size_t>(nextToPrint)];
            const QByteArray address = argv[nextToPrint + 1];
            const QByteArray rtt = r.status == -1 ? QByteArray() : QByteArray::number(r.roundTripMs);
            const QString text = r.status == 0 ? QStringLiteral("OK") : mdlPing::GetStatusText(r.status);
            writeLine(stdout, address + '\t' + QByteArray::number(r.status) + '\t' + rtt + '\t' + text.toUtf8());
            if (r.status == -1) {
                // In order with the lines before it where both streams go to one place.
                std::fflush(stdout);
                writeLine(stderr, "tivane-probe: " + address + ": " + r.reason.toUtf8());
            }
            allReplied = allReplied && r.status == 0;
        }
        if (nextToPrint == count)
            QCoreApplication::exit(0);
    };
    QObject::connect(&engine, &mdlPing::IcmpEngine::finished, &app, [&](quint64 id, const mdlPing::Outcome& outcome) {
        const int index = indexOf.take(id);
        Result& r = results[static_cast<std::size_t>(index)];
        r.done = true;
        r.status = outcome.status;
        r.roundTripMs = outcome.roundTripMs;
        r.reason = outcome.reason;
        printReady();
        startMore();
    });
    startMore();
    app.exec();
    mdlPing::SocketsCleanup();
    return allReplied ? 0 : 1;
}
