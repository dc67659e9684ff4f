#pragma once

#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstddef>

#include <fcntl.h>
#include <unistd.h>

// The POSIX steps every writer of a file that must never be left cut off takes. Inline, so the
// list file, the logs and the exports share them without linking anything.
namespace monitor::fdio {

// Writes all of bytes at the descriptor's position (the end, for O_APPEND); 0, or the errno of
// the write that failed. A write that takes nothing is EIO, so a full disk never loops.
inline int writeAll(int fd, QByteArrayView bytes)
{
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<std::size_t>(std::min<qsizetype>(left, qsizetype(1) << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        left -= n;
    }
    return 0;
}

// Makes the folder's entries (a rename, a new file) durable; 0 or the errno. File systems that
// cannot sync a folder say EINVAL, which leaves nothing to do.
inline int syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int result = 0;
    if (::fsync(fd) != 0 && errno != EINVAL)
        result = errno;
    ::close(fd);
    return result;
}

} // namespace monitor::fdio
