#pragma once

// The ICMP endpoint is the only thing either program needs a privilege for. Both open it
// first thing in main, before any Qt object exists (Qt loads plugins named by the
// environment), and then give up every capability for good.
namespace mdlPing {

// Opens the process's ICMP endpoints, IPv4 and IPv6: the unprivileged datagram sockets where
// they are allowed, else (with cap_net_raw) raw sockets handed to helper processes, so this
// process never holds one. Then clears the effective, permitted and inheritable capability
// sets. In a program started with file capabilities it first clears the environment
// variables that would make Qt load code from a folder of the user's choosing. False when
// the capabilities could not be given up; the caller should not go on then.
bool OpenEndpointAndDropPrivileges();

// The environment part of the above, on its own.
void clearCodePathsIfPrivileged();

// Clears the three capability sets of the calling process (every thread started later
// inherits them). False with errno set when the kernel refused.
bool dropAllCapabilities();

} // namespace mdlPing
