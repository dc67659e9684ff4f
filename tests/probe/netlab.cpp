#include "tests/probe/netlab.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <memory>

namespace {

const QString kNamePrefix = QStringLiteral("tvprobe");

} // namespace

QString NetLab::unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return QStringLiteral("the ip tool (iproute2) is not installed");
    return {};
}

NetLab::NetLab(const QString& tag)
    : m_prefix(kNamePrefix + QString::number(::getpid()) + QLatin1Char('-') + tag + QLatin1Char('-'))
{
    removeAbandoned();
}

NetLab::~NetLab()
{
    for (const QString& folder : std::as_const(m_nameServices))
        QDir(folder).removeRecursively();
    for (auto it = m_created.crbegin(); it != m_created.crend(); ++it)
        run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("delete"), *it});
}

void NetLab::removeAbandoned()
{
    static const QRegularExpression pattern(QStringLiteral("^") + kNamePrefix + QStringLiteral("(\\d+)-"));
    const QStringList existing = QDir(QStringLiteral("/run/netns")).entryList(QDir::Files | QDir::System);
    for (const QString& name : existing) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (match.hasMatch() && !QFileInfo::exists(QStringLiteral("/proc/") + match.captured(1)))
            QProcess::execute(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("delete"), name});
    }
}

QString NetLab::name(const QString& role) const
{
    return m_prefix + role;
}

bool NetLab::run(const QString& program, const QStringList& args, QByteArray* output)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                  QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

bool NetLab::addNamespace(const QString& role)
{
    if (!run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("add"), name(role)}))
        return false;
    m_created.append(name(role));
    return ip(role, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")});
}

bool NetLab::ip(const QString& role, const QStringList& args)
{
    return run(QStringLiteral("ip"), QStringList{QStringLiteral("-n"), name(role)} + args);
}

bool NetLab::exec(const QString& role, const QStringList& command, QByteArray* output)
{
    return run(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), name(role)} + command,
               output);
}

bool NetLab::sysctl(const QString& role, const QStringList& settings)
{
    return exec(role, QStringList{QStringLiteral("sysctl"), QStringLiteral("-qw")} + settings);
}

bool NetLab::buildProbeNetwork()
{
    const QString P = QStringLiteral("P");
    const QString R = QStringLiteral("R");
    const QString H = QStringLiteral("H");
    auto split = [](const char* command) {
        return QString::fromLatin1(command).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    return addNamespace(P) && addNamespace(R) && addNamespace(H) &&
           // The links are created inside the namespaces, so their names never meet
           // those of another test's lab.
           ip(P, split("link add p0 type veth peer name r0 netns ") + QStringList{name(R)}) &&
           ip(R, split("link add r1 type veth peer name h0 netns ") + QStringList{name(H)}) &&
           ip(P, split("link set p0 up")) && ip(R, split("link set r0 up")) && ip(R, split("link set r1 up")) &&
           ip(H, split("link set h0 up")) && ip(P, split("addr add 198.18.0.1/24 dev p0")) &&
           ip(R, split("addr add 198.18.0.2/24 dev r0")) && ip(R, split("addr add 198.18.1.1/24 dev r1")) &&
           ip(H, split("addr add 198.18.1.2/24 dev h0")) &&
           // P has no default route: anything not listed here is unroutable.
           ip(P, split("route add 198.18.1.0/24 via 198.18.0.2")) &&
           ip(P, split("route add 198.18.2.0/23 via 198.18.0.2")) &&
           ip(P, split("route add prohibit 198.18.10.0/24")) && ip(P, split("route add unreachable 198.18.11.0/24")) &&
           ip(P, split("route add blackhole 198.18.12.0/24")) &&
           // A second link whose queue drops every packet, with a fixed neighbour so
           // the request goes straight to the queue.
           ip(P, split("link add q0 type veth peer name q1")) && ip(P, split("link set q0 up")) &&
           ip(P, split("link set q1 up")) && ip(P, split("addr add 198.18.20.1/24 dev q0")) &&
           ip(P, split("neigh add 198.18.20.2 lladdr 02:00:00:00:00:01 dev q0 nud permanent")) &&
           run(QStringLiteral("tc"),
               QStringList{QStringLiteral("-n"), name(P)} + split("qdisc add dev q0 root pfifo limit 0")) &&
           // A neighbour that never answers fails after 100 ms instead of 3 s, and no
           // rate limit may hold back an ICMP error a test waits for.
           sysctl(P, split("net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_ratemask=0 net.ipv4.neigh.p0.retrans_time_ms=100 "
                           "net.ipv4.neigh.p0.mcast_solicit=1 net.ipv4.neigh.p0.app_solicit=0")) &&
           ip(R, split("route add unreachable 198.18.2.1/32")) && ip(R, split("route add prohibit 198.18.2.2/32")) &&
           ip(R, split("route add blackhole 198.18.2.3/32")) &&
           sysctl(R, split("net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_ratemask=0 "
                           "net.ipv4.conf.all.rp_filter=0 "
                           "net.ipv4.conf.default.rp_filter=0 net.ipv4.conf.r0.rp_filter=0 "
                           "net.ipv4.conf.r1.rp_filter=0")) &&
           ip(H, split("route add default via 198.18.1.1")) && sysctl(H, split("net.ipv4.icmp_echo_ignore_all=1"));
}

bool NetLab::buildIpv6Network()
{
    const QString P = QStringLiteral("P");
    const QString R = QStringLiteral("R");
    const QString H = QStringLiteral("H");
    auto split = [](const char* command) {
        return QString::fromLatin1(command).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    // No duplicate address detection: the addresses are usable at once.
    return sysctl(P, split("net.ipv6.conf.all.disable_ipv6=0 net.ipv6.icmp.ratelimit=0")) &&
           sysctl(R, split("net.ipv6.conf.all.disable_ipv6=0 net.ipv6.conf.all.forwarding=1 "
                           "net.ipv6.icmp.ratelimit=0")) &&
           sysctl(H, split("net.ipv6.conf.all.disable_ipv6=0 net.ipv6.icmp.echo_ignore_all=1")) &&
           ip(P, split("-6 addr add 2001:db8::1/64 dev p0 nodad")) &&
           ip(R, split("-6 addr add 2001:db8::2/64 dev r0 nodad")) &&
           ip(R, split("-6 addr add 2001:db8:1::1/64 dev r1 nodad")) &&
           ip(H, split("-6 addr add 2001:db8:1::2/64 dev h0 nodad")) &&
           ip(P, split("-6 route add 2001:db8:1::/64 via 2001:db8::2")) &&
           ip(P, split("-6 route add 2001:db8:2::/47 via 2001:db8::2")) &&
           ip(P, split("-6 route add prohibit 2001:db8:10::/64")) &&
           ip(P, split("-6 route add unreachable 2001:db8:11::/64")) &&
           ip(R, split("-6 route add unreachable 2001:db8:2::1/128")) &&
           ip(R, split("-6 route add prohibit 2001:db8:2::2/128")) &&
           ip(R, split("-6 route add blackhole 2001:db8:2::3/128")) &&
           ip(H, split("-6 route add default via 2001:db8:1::1"));
}

bool NetLab::setNameService(const QString& role, const QStringList& hostsLines)
{
    const QString folder = QStringLiteral("/etc/netns/") + name(role);
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("cannot create ") + folder;
        return false;
    }
    m_nameServices.append(folder);
    auto write = [&](const QString& file, const QByteArray& text) {
        QFile out(folder + QLatin1Char('/') + file);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(text) == text.size())
            return true;
        m_error = QStringLiteral("cannot write ") + out.fileName();
        return false;
    };
    // Files first, then the namespace's loopback, which refuses at once.
    return write(QStringLiteral("hosts"), hostsLines.join(QLatin1Char('\n')).toUtf8() + '\n') &&
           write(QStringLiteral("resolv.conf"), "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n") &&
           write(QStringLiteral("nsswitch.conf"), "hosts: files dns\n");
}

bool NetLab::addHostAddresses(const QStringList& addresses)
{
    for (const QString& address : addresses) {
        if (!ip(QStringLiteral("H"), {QStringLiteral("addr"), QStringLiteral("add"), address + QStringLiteral("/24"),
                                      QStringLiteral("dev"), QStringLiteral("h0")}))
            return false;
    }
    return true;
}

bool NetLab::runIn(const QString& role, const std::function<void()>& work)
{
    // Entering a network namespace only moves the calling thread, so the test's other
    // threads (and the host's network) stay where they are. A QThread, so the work may run
    // an event loop of its own.
    bool entered = false;
    const QByteArray path = QFile::encodeName(QStringLiteral("/run/netns/") + name(role));
    std::unique_ptr<QThread> thread(QThread::create([&] {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        // The name service the way `ip netns exec` sets it up, in a mount namespace of
        // this thread alone.
        const QString folder = QStringLiteral("/etc/netns/") + name(role);
        const QStringList files = QDir(folder).entryList(QDir::Files);
        if (entered && !files.isEmpty()) {
            entered = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0;
            for (const QString& file : files) {
                const QByteArray from = QFile::encodeName(folder + QLatin1Char('/') + file);
                const QByteArray onto = QFile::encodeName(QStringLiteral("/etc/") + file);
                entered = entered && ::mount(from.constData(), onto.constData(), nullptr, MS_BIND, nullptr) == 0;
            }
        }
        if (entered)
            work();
    }));
    thread->start();
    thread->wait();
    if (!entered)
        m_error = QStringLiteral("could not enter ") + name(role);
    return entered;
}

qint64 NetLab::snmpCounter(const QString& role, const QString& group, const QString& field)
{
    QByteArray snmp;
    if (!exec(role, {QStringLiteral("cat"), QStringLiteral("/proc/net/snmp")}, &snmp))
        return -1;
    // Each group is a line of names followed by a line of values.
    const QStringList lines = QString::fromLatin1(snmp).split(QLatin1Char('\n'));
    const QString head = group + QLatin1Char(':');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith(head) || !lines[i + 1].startsWith(head))
            continue;
        const QStringList names = lines[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QStringList values = lines[i + 1].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const qsizetype index = names.indexOf(field);
        if (index > 0 && index < values.size())
            return values[index].toLongLong();
        return -1;
    }
    return -1;
}
