#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Throwaway network namespaces for the probe tests. The names carry the test's pid, so
// tests running side by side never meet, and namespaces a killed run left behind are
// removed by the next run. Everything is deleted again when the lab goes away.
//
// The probe network built by buildProbeNetwork():
//
//   P (prober) 198.18.0.1 --- 198.18.0.2 R (router) 198.18.1.1 --- 198.18.1.2 H (host)
//
// H ignores echo requests in its kernel; a responder program answers for it. R forwards
// and turns some destinations into ICMP errors; P has local routes that fail the send.
class NetLab
{
public:
    // Why namespaces cannot be used here; empty when they can.
    static QString unavailableReason();

    explicit NetLab(const QString& tag);
    ~NetLab();
    NetLab(const NetLab&) = delete;
    NetLab& operator=(const NetLab&) = delete;

    QString name(const QString& role) const;
    bool addNamespace(const QString& role);
    // Runs `ip -n <namespace of role> ARGS...`.
    bool ip(const QString& role, const QStringList& args);
    // Runs COMMAND inside the namespace of role; its stdout goes to output.
    bool exec(const QString& role, const QStringList& command, QByteArray* output = nullptr);
    bool sysctl(const QString& role, const QStringList& settings);

    bool buildProbeNetwork();
    // IPv6 on the same links, after buildProbeNetwork(): see lab6 below. H ignores ICMPv6
    // echo requests too.
    bool buildIpv6Network();
    // Gives the namespace of role a name service of its own, as `ip netns exec` and runIn()
    // see it: /etc/netns/<namespace>/hosts with these lines, and a resolver on the
    // namespace's own loopback, where nothing listens, so no lookup ever leaves it.
    bool setNameService(const QString& role, const QStringList& hostsLines);
    // Gives H further addresses, e.g. for each scripted responder behaviour.
    bool addHostAddresses(const QStringList& addresses);

    // Runs work on a thread that has entered the namespace of role (and its name service,
    // if it has one); false when it could not. Threads the work starts inherit both.
    bool runIn(const QString& role, const std::function<void()>& work);

    // Counter from the namespace's /proc/net/snmp, e.g. ("Icmp", "OutEchos"); -1 if unknown.
    qint64 snmpCounter(const QString& role, const QString& group, const QString& field);

    QString error() const { return m_error; }

private:
    bool run(const QString& program, const QStringList& args, QByteArray* output = nullptr);
    static void removeAbandoned();

    QString m_prefix;
    QStringList m_created;
    QStringList m_nameServices; // folders under /etc/netns
    QString m_error;
};

// Addresses of the probe network, as the prober sees them.
namespace lab {
inline const QString kProber = QStringLiteral("198.18.0.1");
inline const QString kRouter = QStringLiteral("198.18.0.2");
inline const QString kSilentHost = QStringLiteral("198.18.1.2");
// Routed to R, which answers with ICMP errors or drops them.
inline const QString kRouterUnreachable = QStringLiteral("198.18.2.1");
inline const QString kRouterProhibited = QStringLiteral("198.18.2.2");
inline const QString kRouterBlackhole = QStringLiteral("198.18.2.3");
inline const QString kRouterNoRoute = QStringLiteral("198.18.3.1");
// Fail on P itself.
inline const QString kLocalProhibited = QStringLiteral("198.18.10.1");
inline const QString kLocalUnreachable = QStringLiteral("198.18.11.1");
inline const QString kLocalBlackhole = QStringLiteral("198.18.12.1");
inline const QString kNoRoute = QStringLiteral("198.19.0.1");
inline const QString kBroadcast = QStringLiteral("198.18.0.255");
inline const QString kNoNeighbour = QStringLiteral("198.18.0.77");
inline const QString kFullQueue = QStringLiteral("198.18.20.2");
} // namespace lab

// The IPv6 side, documentation addresses only:
//   P 2001:db8::1 --- 2001:db8::2 R 2001:db8:1::1 --- 2001:db8:1::2 H
namespace lab6 {
inline const QString kProber = QStringLiteral("2001:db8::1");
inline const QString kRouter = QStringLiteral("2001:db8::2");
inline const QString kSilentHost = QStringLiteral("2001:db8:1::2");
// Routed to R, which has an unreachable, a prohibit and a blackhole route for them, or no route.
inline const QString kRouterUnreachable = QStringLiteral("2001:db8:2::1");
inline const QString kRouterProhibited = QStringLiteral("2001:db8:2::2");
inline const QString kRouterBlackhole = QStringLiteral("2001:db8:2::3");
inline const QString kRouterNoRoute = QStringLiteral("2001:db8:3::1");
// Fail on P itself.
inline const QString kLocalProhibited = QStringLiteral("2001:db8:10::1");
inline const QString kLocalUnreachable = QStringLiteral("2001:db8:11::1");
inline const QString kNoRoute = QStringLiteral("2001:db9::1");
} // namespace lab6
