#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <stdexcept>

// list.txt held under its lock, read whole, appended to and replaced without ever being left cut off.
namespace hostlist {

// The largest file read as a list. A full list of sensible entries takes a small part of this; a
// bigger file is refused unread instead of being pulled into memory.
inline constexpr qint64 MaxFileBytes = qint64(64) * 1024 * 1024;

// A host list that cannot be read or written. The message is meant for the user as it is.
class HostListError : public std::runtime_error
{
public:
    HostListError(const QString& message, const QString& path, int line = 0);
    // The list at path, or what it takes, did not fit in the memory available.
    static HostListError outOfMemory(const QString& path);
    QString message() const { return m_message; }
    QString path() const { return m_path; }
    // 1-based number of the line that stopped a load; 0 when the file as a whole failed.
    int line() const { return m_line; }

private:
    QString m_message;
    QString m_path;
    int m_line;
};

// list.txt opened and locked against the other processes that use it, other copies of Tivane
// included, for as long as the object lives. The lock is an advisory flock(2) on list.txt itself
// (shared for Read, exclusive otherwise), not on a file beside it: it needs no write permission in
// the folder and leaves nothing behind. replace() puts a new file in list.txt's place; whoever was
// waiting for the old file's lock notices on getting it that the name now means another file and
// starts over on that one, which this object already holds locked. Only programs that take the
// lock are kept out; an editor saving by hand is not. Where the file system offers no locks at
// all the file is used unlocked, as before. Every failure throws HostListError naming the file.
// Anything that is not a regular file (a folder, a FIFO, a device) is refused without a blocking
// open. The lock belongs to this object's own open file, so a second object for the same file
// waits for the first even in the same process: never hold two at once.
class LockedHostList
{
public:
    enum class Access
    {
        Read,   // shared lock; the file must exist and be readable
        Change, // exclusive lock; the file must exist and be readable and writable
        Append, // exclusive lock; created when missing, opened write-only where it cannot be read
    };
    // How long the constructor waits for a lock another process holds before it gives up.
    static constexpr int LockWaitMs = 10000;

    LockedHostList(const QString& path, Access access);
    ~LockedHostList();
    LockedHostList(const LockedHostList&) = delete;
    LockedHostList& operator=(const LockedHostList&) = delete;

    QString path() const { return m_path; }
    bool readable() const { return m_readable; }
    // The file's size now; only lock holders change it.
    qint64 size() const;

    // Every byte of the file; refuses a file larger than MaxFileBytes.
    QByteArray readAll() const;
    // The last byte (0..255), or -1 when the file is empty or cannot be read.
    int lastByte() const;
    // Writes bytes at the end and waits until they are on the disk. On failure the file is cut
    // back to its length before the call and the message gives the system's reason.
    void append(QByteArrayView bytes);
    // Puts a file holding exactly bytes in this one's place: written beside it, synced, given the
    // old owner, group and mode (as far as the process may), renamed over it, the folder synced.
    // Follows a symbolic link to the file it names. On failure the file stays as it was. A hard
    // link elsewhere keeps naming the old file and so keeps the old bytes; access control lists
    // and other extended attributes are not carried over. Afterwards this object holds the new
    // file, locked.
    void replace(QByteArrayView bytes);

private:
    void open();
    void refresh();

    QString m_path;
    Access m_access;
    int m_fd = -1;
    bool m_readable = false;
    bool m_created = false;
    quint64 m_dev = 0;
    quint64 m_ino = 0;
    uint m_uid = 0;
    uint m_gid = 0;
    uint m_mode = 0;
};

} // namespace hostlist
