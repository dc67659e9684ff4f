// A second process for tst_hostlistsafety: does list.txt work from outside the test, so that
// locks are taken by another process, privileges can be dropped and memory can be limited
// without touching the test itself.
//
//   hostlist_helper [as-user UID] [memory-limit MIB] COMMAND...
//     load PATH                  LoadList; prints the row count
//     append PATH TYPE NAME ADDRESS
//     remove PATH INDEX [SWAP]   loads PATH, renames SWAP over it when given, removes entry INDEX
//     append-many PATH COUNT     appends "3|new<i>|10.9.<i/256>.<i%256>" for i in 0..COUNT-1
//     remove-seeds PATH COUNT    removes COUNT lines whose name starts with "seed", one at a time
//
// Exit codes: 0 done, 2 a HostListError (its message on stdout after "HostListError: "),
// 3 a usage error, 4 set-up failed; anything else (a signal) is a crash.

#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "platform/reportlist.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: hostlist_helper [as-user UID] [memory-limit MIB] COMMAND...\n");
    return 3;
}

long long virtualBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

void failed(const hostlist::HostListError& e)
{
    std::printf("HostListError: %s\n", e.message().toUtf8().constData());
    std::fflush(stdout);
}

int run(const QStringList& args)
{
    if (args.size() < 2)
        return usage();
    const QString& command = args[0];
    const QString& path = args[1];

    if (command == QStringLiteral("load") && args.size() == 2) {
        platform::ReportList list;
        hostlist::HostListFile file(path);
        try {
            hostlist::LoadList(list, file);
        } catch (const hostlist::HostListError& e) {
            failed(e);
            return 2;
        }
        std::printf("rows: %d\n", list.count());
        return 0;
    }
    if (command == QStringLiteral("append") && args.size() == 5) {
        try {
            hostlist::AppendHostEntry(path, args[2].toInt(), args[3], args[4]);
        } catch (const hostlist::HostListError& e) {
            failed(e);
            return 2;
        }
        return 0;
    }
    if (command == QStringLiteral("remove") && (args.size() == 3 || args.size() == 4)) {
        try {
            hostlist::HostListFile file(path);
            const hostlist::LoadedHostList loaded = file.load();
            const int index = args[2].toInt();
            if (index < 1 || index > loaded.entries.size()) {
                std::printf("HostListError: no entry %d in the list\n", index);
                return 2;
            }
            if (args.size() == 4 &&
                ::rename(QFile::encodeName(args[3]).constData(), QFile::encodeName(path).constData()) != 0) {
                std::perror("hostlist_helper: rename");
                return 4;
            }
            file.remove(loaded.entries.at(index - 1).key);
        } catch (const hostlist::HostListError& e) {
            failed(e);
            return 2;
        }
        return 0;
    }
    if (command == QStringLiteral("append-many") && args.size() == 3) {
        const int count = args[2].toInt();
        int failures = 0;
        for (int i = 0; i < count; ++i) {
            try {
                hostlist::AppendHostEntry(path, 3, QStringLiteral("new%1").arg(i),
                                          QStringLiteral("10.9.%1.%2").arg(i / 256).arg(i % 256));
            } catch (const hostlist::HostListError& e) {
                failed(e);
                ++failures;
            }
        }
        std::printf("appended: %d failed: %d\n", count - failures, failures);
        return failures == 0 ? 0 : 2;
    }
    if (command == QStringLiteral("remove-seeds") && args.size() == 3) {
        const int count = args[2].toInt();
        int removed = 0;
        int failures = 0;
        platform::ReportList list;
        hostlist::HostListFile file(path);
        while (removed < count && failures < 100) {
            try {
                hostlist::LoadList(list, file);
                int row = 0;
                for (int i = 1; i <= list.count() && row == 0; ++i) {
                    if (list.text(i).startsWith(QStringLiteral("seed")))
                        row = i;
                }
                if (row == 0) {
                    std::printf("HostListError: no seed line left after %d removals\n", removed);
                    return 2;
                }
                file.remove(list.items()->row(row).key);
                ++removed;
            } catch (const hostlist::HostListError& e) {
                failed(e);
                ++failures;
            }
        }
        std::printf("removed: %d failed: %d\n", removed, failures);
        return failures == 0 ? 0 : 2;
    }
    return usage();
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    // Before anything else is opened: the rest runs as that user alone.
    if (args.size() >= 2 && args[0] == QStringLiteral("as-user")) {
        const uid_t uid = args[1].toUInt();
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) {
            std::perror("hostlist_helper: dropping privileges");
            return 4;
        }
        args = args.mid(2);
    }
    long long limitMiB = 0;
    if (args.size() >= 2 && args[0] == QStringLiteral("memory-limit")) {
        limitMiB = args[1].toLongLong();
        args = args.mid(2);
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    if (limitMiB > 0) {
        // What the program has mapped now plus the allowance: the next big allocation fails.
        const long long now = virtualBytes();
        const rlim_t limit = static_cast<rlim_t>(now + limitMiB * 1024 * 1024);
        const rlimit rl{limit, limit};
        if (now < 0 || ::setrlimit(RLIMIT_AS, &rl) != 0) {
            std::perror("hostlist_helper: limiting memory");
            return 4;
        }
    }
    const int code = run(args);
    std::fflush(stdout);
    return code;
}
