#pragma once

// What each address of the probe network (see tests/probe/netlab.h) must end in: the router's
// routes, the prober's local routes, silent hosts, and the responder's late replies and
// crafted errors. The probe's own tests and the sweep's tests read the same table, so the
// two can never disagree about an outcome.

#include <QLatin1String>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace netoutcomes {

inline constexpr std::int32_t kSameStatus = -2;

struct Scenario
{
    const char* name;
    const char* address;
    const char* responder; // the responder's actions for the address; null: the network answers
    std::int32_t status;
    int minRtt;
    int maxRtt;
    const char* from; // expected reply.Address; null: left as it was
    // What a datagram socket reports instead, where the kernel keeps an error from it.
    std::int32_t datagramStatus = kSameStatus;
};

// Responder delays are long enough for the decoys before them to have arrived, so a
// probe that took a decoy shows a round trip below the delay.
inline constexpr Scenario kScenarios[] = {
    {"router replies", "198.18.0.2", nullptr, 0, 0, 100, "198.18.0.2"},
    {"silent host", "198.18.1.2", nullptr, 11010, 1000, 1100, nullptr},
    {"router drops into a blackhole", "198.18.2.3", nullptr, 11010, 1000, 1100, nullptr},
    {"router has no route (net unreachable)", "198.18.3.1", nullptr, 11002, 0, 100, "198.18.0.2"},
    {"router unreachable route (host unreachable)", "198.18.2.1", nullptr, 11003, 0, 100, "198.18.0.2"},
    {"router prohibit route (administratively prohibited)", "198.18.2.2", nullptr, 11003, 0, 100, "198.18.0.2"},
    {"neighbour never answers", "198.18.0.77", nullptr, 11003, 50, 900, "198.18.0.1"},
    {"local prohibit route (EACCES)", "198.18.10.1", nullptr, 11018, 0, 100, nullptr},
    {"broadcast address (EACCES)", "198.18.0.255", nullptr, 11018, 0, 100, nullptr},
    {"local unreachable route (EHOSTUNREACH)", "198.18.11.1", nullptr, 11003, 0, 100, nullptr},
    {"no route at all (ENETUNREACH)", "198.19.0.1", nullptr, 11002, 0, 100, nullptr},
    {"local blackhole route (EINVAL)", "198.18.12.1", nullptr, 11050, 0, 100, nullptr},
    {"queue drops the request (ENOBUFS)", "198.18.20.2", nullptr, 11006, 0, 100, nullptr},

    {"late reply after decoys", "198.18.1.10", "decoys@0,reply@300", 0, 300, 450, "198.18.1.10"},
    {"reply with IP options", "198.18.1.11", "reply:opts@0", 0, 0, 100, "198.18.1.11"},
    {"redirect, then the reply", "198.18.1.12", "decoys@0,error:5:1@0,reply@100", 0, 100, 250, "198.18.1.12"},
    {"reply after the timeout", "198.18.1.13", "reply@1150", 11010, 1000, 1100, nullptr},
    {"net unreachable", "198.18.1.20", "decoys@0,error:3:0@40", 11002, 40, 200, "198.18.1.20"},
    {"host unreachable", "198.18.1.21", "decoys@0,error:3:1@40", 11003, 40, 200, "198.18.1.21"},
    {"protocol unreachable", "198.18.1.22", "decoys@0,error:3:2@40", 11004, 40, 200, "198.18.1.22"},
    {"port unreachable", "198.18.1.23", "decoys@0,error:3:3@40", 11005, 40, 200, "198.18.1.23"},
    {"fragmentation needed", "198.18.1.24", "decoys@0,error:3:4@40", 11009, 40, 200, "198.18.1.24"},
    {"source route failed", "198.18.1.25", "decoys@0,error:3:5@40", 11012, 40, 200, "198.18.1.25"},
    {"destination net unknown", "198.18.1.26", "decoys@0,error:3:6@40", 11002, 40, 200, "198.18.1.26"},
    {"destination host unknown", "198.18.1.27", "decoys@0,error:3:7@40", 11003, 40, 200, "198.18.1.27"},
    {"source host isolated", "198.18.1.28", "decoys@0,error:3:8@40", 11003, 40, 200, "198.18.1.28"},
    {"net administratively prohibited", "198.18.1.29", "decoys@0,error:3:9@40", 11002, 40, 200, "198.18.1.29"},
    {"host administratively prohibited", "198.18.1.30", "decoys@0,error:3:10@40", 11003, 40, 200, "198.18.1.30"},
    {"net unreachable for TOS", "198.18.1.31", "decoys@0,error:3:11@40", 11002, 40, 200, "198.18.1.31"},
    {"host unreachable for TOS", "198.18.1.32", "decoys@0,error:3:12@40", 11003, 40, 200, "198.18.1.32"},
    {"communication prohibited", "198.18.1.33", "decoys@0,error:3:13@40", 11003, 40, 200, "198.18.1.33"},
    {"host precedence violation", "198.18.1.34", "decoys@0,error:3:14@40", 11003, 40, 200, "198.18.1.34"},
    {"precedence cutoff", "198.18.1.35", "decoys@0,error:3:15@40", 11003, 40, 200, "198.18.1.35"},
    {"time exceeded in transit, from another node", "198.18.1.40", "decoys@0,error:11:0:from=198.18.1.3@40", 11013, 40,
     200, "198.18.1.3"},
    // The kernel drops reassembly timeouts before they reach ICMP sockets.
    {"time exceeded in reassembly", "198.18.1.41", "decoys@0,error:11:1@40", 11014, 40, 200, "198.18.1.41", 11010},
    {"parameter problem", "198.18.1.42", "decoys@0,error:12:0@40", 11015, 40, 200, "198.18.1.42"},
    {"source quench", "198.18.1.43", "decoys@0,error:4:0@40", 11016, 40, 200, "198.18.1.43"},
    {"error quoting a header with options", "198.18.1.44", "decoys@0,error:3:3:opts@40", 11005, 40, 200, "198.18.1.44"},
};

// The same over IPv6: R's routes, P's local routes, and the responder's ICMPv6 errors.
inline constexpr Scenario kScenarios6[] = {
    {"router replies", "2001:db8::2", nullptr, 0, 0, 100, nullptr},
    {"silent host", "2001:db8:1::2", nullptr, 11010, 1000, 1100, nullptr},
    {"router drops into a blackhole", "2001:db8:2::3", nullptr, 11010, 1000, 1100, nullptr},
    {"router has no route", "2001:db8:3::1", nullptr, 11002, 0, 100, nullptr},
    {"router unreachable route", "2001:db8:2::1", nullptr, 11002, 0, 100, nullptr},
    {"router prohibit route", "2001:db8:2::2", nullptr, 11003, 0, 100, nullptr},
    {"local prohibit route", "2001:db8:10::1", nullptr, 11018, 0, 100, nullptr},
    {"local unreachable route", "2001:db8:11::1", nullptr, 11003, 0, 100, nullptr},
    {"no route at all", "2001:db9::1", nullptr, 11002, 0, 100, nullptr},

    {"late reply after decoys", "2001:db8:1::10", "decoys@0,reply@300", 0, 300, 450, nullptr},
    {"reply after the timeout", "2001:db8:1::13", "reply@1150", 11010, 1000, 1100, nullptr},
    {"no route", "2001:db8:1::20", "decoys@0,error:1:0@40", 11002, 40, 200, nullptr},
    {"administratively prohibited", "2001:db8:1::21", "decoys@0,error:1:1@40", 11003, 40, 200, nullptr},
    {"beyond the scope", "2001:db8:1::22", "decoys@0,error:1:2@40", 11003, 40, 200, nullptr},
    {"address unreachable", "2001:db8:1::23", "decoys@0,error:1:3@40", 11003, 40, 200, nullptr},
    {"port unreachable", "2001:db8:1::24", "decoys@0,error:1:4@40", 11005, 40, 200, nullptr},
    {"failed policy", "2001:db8:1::25", "decoys@0,error:1:5@40", 11003, 40, 200, nullptr},
    {"reject route", "2001:db8:1::26", "decoys@0,error:1:6@40", 11003, 40, 200, nullptr},
    {"packet too big", "2001:db8:1::27", "decoys@0,error:2:0@40", 11009, 40, 200, nullptr},
    {"hop limit exceeded", "2001:db8:1::28", "decoys@0,error:3:0@40", 11013, 40, 200, nullptr},
    {"reassembly time exceeded", "2001:db8:1::29", "decoys@0,error:3:1@40", 11014, 40, 200, nullptr},
    {"parameter problem", "2001:db8:1::2a", "decoys@0,error:4:0@40", 11015, 40, 200, nullptr},
};

// The responder's rules ("address=actions") for the rows of table that script one; their
// addresses are appended to addresses, when given, for the host to carry.
template <std::size_t N> QStringList responderRules(const Scenario (&table)[N], QStringList* addresses = nullptr)
{
    QStringList rules;
    for (const Scenario& s : table) {
        if (!s.responder)
            continue;
        if (addresses)
            addresses->append(QLatin1String(s.address));
        rules.append(QLatin1String(s.address) + QLatin1Char('=') + QLatin1String(s.responder));
    }
    return rules;
}

} // namespace netoutcomes
