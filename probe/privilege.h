#pragma once

// The ICMP endpoint is the only thing either program needs a privilege for. Both open it
// first thing in main, before any Qt object exists (Qt loads plugins named by the
// environment), and then give up every capability for good.
namespace mdlPing {

// Opens the process's ICMP endpoints, IPv4 and IPv6 (with cap_net_raw if the program was given it, else
// through the unprivileged datagram socket), then clears the effective, permitted and
// inheritable capability sets. False when the capabilities could not be given up; the
// caller should not go on then.
bool OpenEndpointAndDropPrivileges();

// Clears the three capability sets of the calling process (every thread started later
// inherits them). False with errno set when the kernel refused.
bool dropAllCapabilities();

} // namespace mdlPing
