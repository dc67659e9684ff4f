// tivane-monitor: the hosts of one or more lists probed without a window, their numbers served
// to Prometheus over HTTP.

#include "app/listlocation.h"
#include "headless/headlessmonitor.h"
#include "headless/historyquery.h"
#include "headless/httpfront.h"
#include "headless/targets.h"
#include "monitor/historystore.h"
#include "probe/mdlping.h"
#include "probe/privilege.h"
#include "probe/prober.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr char Usage[] = "Usage: tivane-monitor [OPTION]...\n"
                         "  or:  tivane-monitor history NAME|ADDRESS [--since WHEN] [--until WHEN] [--history FILE]\n"
                         "Probes the hosts of host lists and Prometheus target files continuously and serves their\n"
                         "statistics over HTTP: /metrics (Prometheus), /api/v1/hosts (JSON) and /-/healthy.\n"
                         "  --list FILE          a host list (list.txt); may be given more than once\n"
                         "  --targets FILE       a Prometheus file_sd file (.json, .yml, .yaml); may be repeated\n"
                         "                       Without either, the list the window uses is monitored.\n"
                         "  --listen ADDR:PORT   where to serve (default 127.0.0.1:9374; [::1]:PORT for IPv6)\n"
                         "  --interval SECONDS   time between the starts of two sweeps (default 1)\n"
                         "  --timeout MS         how long to wait for a reply, 1..1000 (default 1000)\n"
                         "  --one-at-a-time      probe one host after the other instead of all at once\n"
                         "  --source NAME        the value of the source label (default empty)\n"
                         "  --history FILE       keep the history of samples in FILE (default below)\n"
                         "  --no-history         keep no history of samples\n"
                         "  --history-days R,M,H keep raw samples R days, minutes M days, hours H days\n"
                         "                       (default 7,90,730)\n"
                         "  --history-max-mb MB  the history file's largest size, 16..16777216 (default 1024)\n"
                         "  -h, --help           show this help and exit\n"
                         "  -v, --version        show the version and exit\n"
                         "SIGHUP reads every list and target file again; SIGTERM and SIGINT end the program.\n"
                         "'history' prints the kept samples of the hosts of that name or address as CSV; WHEN is\n"
                         "ISO 8601 (2026-12-08T09:30, local time unless an offset is given) or an age (90s, 10m, 2h,\n"
                         "7d); by default everything kept up to now.\n"
                         "Exit status: 0 after a signal to end, 1 on a start-up failure, 2 on a usage error.\n";

struct Options
{
    QStringList lists;
    QStringList targets;
    QString history; // empty: none
    monitor::HistoryLimits historyLimits;
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 9374;
    headless::MonitorOptions monitor;
};

void printHelp()
{
    std::fputs(Usage, stdout);
    std::printf("The history is kept in %s unless --history or --no-history says otherwise.\n",
                qPrintable(headless::defaultHistoryFile()));
}

int usageError(const QString& why)
{
    std::fprintf(stderr, "tivane-monitor: %s\nTry 'tivane-monitor --help'.\n", qPrintable(why));
    return 2;
}

bool parseListen(const QString& text, QHostAddress* address, quint16* port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0)
        return false;
    QString host = text.left(colon);
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p == 0 || p > 65535)
        return false;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        *address = QHostAddress::Any;
    else if (host == QLatin1String("localhost"))
        *address = QHostAddress::LocalHost;
    else if (!address->setAddress(host))
        return false;
    *port = quint16(p);
    return true;
}

// -1: go on; otherwise the exit status.
int parseArguments(const QStringList& args, Options* o)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto value = [&](QString* out) {
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        QString v;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            printHelp();
            return 0;
        }
        if (arg == QLatin1String("-v") || arg == QLatin1String("--version")) {
            std::printf("tivane-monitor %d.%d.%d\n", TIVANE_VERSION_MAJOR, TIVANE_VERSION_MINOR, TIVANE_VERSION_PATCH);
            return 0;
        }
        if (arg == QLatin1String("--one-at-a-time")) {
            o->monitor.oneAtATime = true;
        } else if (arg == QLatin1String("--no-history")) {
            o->history.clear();
        } else if (arg == QLatin1String("--history")) {
            if (!value(&v) || v.isEmpty())
                return usageError(QStringLiteral("--history needs a file"));
            o->history = v;
        } else if (arg == QLatin1String("--history-days")) {
            const QStringList days = value(&v) ? v.split(u',') : QStringList();
            const auto day = [&](int k) { return days.size() == 3 ? days[k].trimmed().toInt() : 0; };
            const qint64 megabytes = o->historyLimits.maxBytes / monitor::HistoryLimits::Megabyte;
            const auto limits = monitor::HistoryLimits::of(day(0), day(1), day(2), int(megabytes));
            if (!limits)
                return usageError(
                    QStringLiteral("--history-days needs three numbers of days, 1 to %1: RAW,MINUTES,HOURS")
                        .arg(monitor::HistoryLimits::MaxDays));
            o->historyLimits = *limits;
        } else if (arg == QLatin1String("--history-max-mb")) {
            const qint64 day = monitor::HistoryLimits::Day;
            const monitor::HistoryLimits& h = o->historyLimits;
            const auto limits = monitor::HistoryLimits::of(int(h.rawMs / day), int(h.minuteMs / day),
                                                           int(h.hourMs / day), value(&v) ? v.toInt() : 0);
            if (!limits)
                return usageError(QStringLiteral("--history-max-mb needs a number of megabytes, %1 to %2")
                                      .arg(monitor::HistoryLimits::MinMegabytes)
                                      .arg(monitor::HistoryLimits::MaxMegabytes));
            o->historyLimits = *limits;
        } else if (arg == QLatin1String("--list")) {
            if (!value(&v))
                return usageError(QStringLiteral("--list needs a file"));
            o->lists.append(v);
        } else if (arg == QLatin1String("--targets")) {
            headless::TargetFormat format;
            if (!value(&v))
                return usageError(QStringLiteral("--targets needs a file"));
            if (!headless::targetFormatFor(v, &format))
                return usageError(QStringLiteral("--targets %1: not a .json, .yml or .yaml file").arg(v));
            o->targets.append(v);
        } else if (arg == QLatin1String("--listen")) {
            if (!value(&v) || !parseListen(v, &o->address, &o->port))
                return usageError(QStringLiteral("--listen needs ADDRESS:PORT, such as 127.0.0.1:9374 or [::1]:9374"));
        } else if (arg == QLatin1String("--interval")) {
            bool ok = false;
            const double seconds = value(&v) ? v.toDouble(&ok) : 0;
            if (!ok || !(seconds >= 0.1 && seconds <= 86400))
                return usageError(QStringLiteral("--interval needs a number of seconds from 0.1 to 86400"));
            o->monitor.intervalMs = int(seconds * 1000);
        } else if (arg == QLatin1String("--timeout")) {
            bool ok = false;
            const int ms = value(&v) ? v.toInt(&ok) : 0;
            if (!ok || ms < 1 || ms > 1000)
                return usageError(QStringLiteral("--timeout needs a number of milliseconds from 1 to 1000"));
            o->monitor.timeoutMs = ms;
        } else if (arg == QLatin1String("--source")) {
            if (!value(&v))
                return usageError(QStringLiteral("--source needs a name"));
            o->monitor.source = v;
        } else {
            return usageError(QStringLiteral("unknown argument %1").arg(arg));
        }
    }
    return -1;
}

struct HistoryQuery
{
    QString host;
    QString file;
    qint64 fromMs = 0;
    qint64 toMs = 0;
};

// `history NAME|ADDRESS ...`; -1: go on; otherwise the exit status.
int parseHistoryArguments(const QStringList& args, HistoryQuery* q)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    q->toMs = now + 1;
    q->file = headless::defaultHistoryFile();
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            printHelp();
            return 0;
        }
        if (arg == QLatin1String("--since") || arg == QLatin1String("--until") || arg == QLatin1String("--history")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("%1 needs a value").arg(arg));
            const QString& v = args[++i];
            QString why;
            if (arg == QLatin1String("--history"))
                q->file = v;
            else if (!headless::parseWhen(v, now, arg == QLatin1String("--since") ? &q->fromMs : &q->toMs, &why))
                return usageError(QStringLiteral("%1: %2").arg(arg, why));
        } else if (arg.startsWith(u'-') || !q->host.isEmpty()) {
            return usageError(QStringLiteral("unknown argument %1").arg(arg));
        } else {
            q->host = arg;
        }
    }
    if (q->host.isEmpty())
        return usageError(QStringLiteral("history needs the name or the address of a host"));
    if (q->fromMs >= q->toMs)
        return usageError(QStringLiteral("--since must be before --until"));
    return -1;
}

// Signals arrive as reads on a descriptor, in the event loop like everything else.
int blockSignalsIntoFd()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return -1;
    return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

void say(const QString& text)
{
    std::fprintf(stderr, "tivane-monitor: %s\n", qPrintable(text));
}

bool isLoopback(const QHostAddress& a)
{
    return a.isLoopback();
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything else, and before Qt reads plugin paths from the environment: the
    // endpoint is the only thing cap_net_raw is needed for.
    if (!mdlPing::OpenEndpointAndDropPrivileges()) {
        std::fputs("tivane-monitor: could not give up privileges\n", stderr);
        return 1;
    }
    // Before Qt starts any thread, so that every thread has them blocked.
    const int signalFd = blockSignalsIntoFd();
    if (signalFd < 0) {
        std::fprintf(stderr, "tivane-monitor: cannot take signals: %s\n", std::strerror(errno));
        return 1;
    }

    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    if (args.size() > 1 && args[1] == QLatin1String("history")) {
        HistoryQuery query;
        if (const int status = parseHistoryArguments(args, &query); status >= 0)
            return status;
        int qtArgc = 1;
        QCoreApplication app(qtArgc, argv);
        return headless::printHistory(query.file, query.host, query.fromMs, query.toMs, stdout, stderr);
    }
    Options options;
    options.history = headless::defaultHistoryFile();
    if (const int status = parseArguments(args, &options); status >= 0)
        return status;

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    if (options.lists.isEmpty() && options.targets.isEmpty()) {
        const QString besideProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/list.txt");
        const QString folder = userListFolder();
        if (QFileInfo::exists(besideProgram) || folder.isEmpty())
            options.lists.append(besideProgram);
        else
            options.lists.append(folder + QStringLiteral("/list.txt"));
    }

    if (!mdlPing::SocketsStartup()) {
        say(QStringLiteral("the socket library could not be started"));
        return 1;
    }
    // Declared before the monitor, so that it outlives it and is written out last.
    std::unique_ptr<monitor::HistoryStore> history;
    if (!options.history.isEmpty()) {
        QDir().mkpath(QFileInfo(options.history).absolutePath());
        history = std::make_unique<monitor::HistoryStore>(options.history, options.historyLimits);
        if (!history->isOpen()) {
            say(QStringLiteral("history is off: %1 cannot be opened (%2); monitoring goes on without it")
                    .arg(options.history, history->openError()));
            history.reset();
        } else if (!history->movedAsideTo().isEmpty()) {
            say(history->openError());
        }
    }
    if (history) {
        QObject::connect(history.get(), &monitor::HistoryStore::failed, &app, [](const QString& why) {
            say(QStringLiteral("history is not being written: %1; it is written again as soon as it can be").arg(why));
        });
    }
    IcmpProber prober;
    headless::HeadlessMonitor monitor(prober, options.monitor);
    monitor.setHistory(history.get());
    QObject::connect(&monitor, &headless::HeadlessMonitor::problem, &app, &say);

    auto load = [&](bool first) {
        const headless::LoadedHosts loaded = headless::loadHosts(options.lists, options.targets);
        for (const QString& w : loaded.warnings)
            say(w);
        if (!loaded.errors.isEmpty()) {
            for (const QString& e : loaded.errors) {
                say(e);
                monitor.countLoadError();
            }
            say(first ? QStringLiteral("starting without hosts; send SIGHUP after fixing the file")
                      : QStringLiteral("keeping the %1 hosts monitored so far").arg(monitor.table().rowCount()));
            return;
        }
        const auto changes = monitor.setTargets(loaded.targets);
        say(QStringLiteral("monitoring %1 hosts (%2 new, %3 removed)")
                .arg(monitor.table().rowCount())
                .arg(changes.added.size())
                .arg(changes.removed.size()));
    };
    load(true);

    headless::HttpFront http(
        [&monitor](const QByteArray& method, const QString& path) { return monitor.answer(method, path); });
    // A child of the HTTP server, which would otherwise take a parentless one as its own to delete.
    auto* tcp = new headless::LimitedTcpServer(&http);
    if (!tcp->listen(options.address, options.port)) {
        say(QStringLiteral("cannot listen on %1 port %2: %3")
                .arg(options.address.toString())
                .arg(options.port)
                .arg(tcp->errorString()));
        return 1;
    }
    http.bind(tcp);
    if (!isLoopback(options.address))
        say(QStringLiteral("listening on %1 port %2, beyond loopback: anyone who can reach it can read the hosts and "
                           "their statistics")
                .arg(options.address.toString())
                .arg(tcp->serverPort()));

    QSocketNotifier signals(qintptr(signalFd), QSocketNotifier::Read);
    QObject::connect(&signals, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
            if (info.ssi_signo == SIGHUP) {
                load(false);
            } else {
                monitor.stop();
                QCoreApplication::exit(0);
            }
        }
    });

    monitor.start();
    const int status = app.exec();
    tcp->close();
    // The samples of the last second are still queued; they are on disk before the program ends.
    if (history)
        history->sync();
    mdlPing::SocketsCleanup();
    ::close(signalFd);
    return status;
}
