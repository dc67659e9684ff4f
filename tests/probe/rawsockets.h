#pragma once

// What a process can reach of the network with its own descriptors: how many of them are raw
// sockets (IP or packet), the kind that forges packets and reads everyone's traffic.

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

inline int countRawSockets()
{
    int found = 0;
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder)
        return -1;
    while (const dirent* entry = ::readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ::dirfd(folder))
            continue;
        struct stat info;
        if (::fstat(int(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        int type = 0;
        int domain = 0;
        socklen_t length = sizeof type;
        ::getsockopt(int(fd), SOL_SOCKET, SO_TYPE, &type, &length);
        length = sizeof domain;
        ::getsockopt(int(fd), SOL_SOCKET, SO_DOMAIN, &domain, &length);
        if (type == SOCK_RAW || domain == AF_PACKET)
            ++found;
    }
    ::closedir(folder);
    return found;
}
