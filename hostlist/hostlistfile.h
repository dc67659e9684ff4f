#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QVector>
#include <optional>
#include <stdexcept>

namespace platform {
class ReportList;
}

namespace hostlist {

// One entry of list.txt: "<type digit>|<name>|<address>".
struct HostLine
{
    int type = 0; // small icon index: 0 none, 1..3
    QString name;
    QString address;

    friend bool operator==(const HostLine&, const HostLine&) = default;
};

// The most entries one list can hold; the row counter of the list is 16 bits wide.
inline constexpr int MaxEntries = 32767;

// The largest file read as a list. A full list of sensible entries takes a small part of this; a
// bigger file is refused unread instead of being pulled into memory.
inline constexpr qint64 MaxFileBytes = qint64(64) * 1024 * 1024;

// A host list that cannot be read or written. The message is meant for the user as it is.
class HostListError : public std::runtime_error
{
public:
    HostListError(const QString& message, const QString& path, int line = 0);
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

// Reads one line (without its line break). Position 1 holds the type digit, position 2 a
// separator that is skipped unseen, then the name up to the first "|" and the address after it.
// Returns nothing when the line does not start with an ASCII digit, which includes an empty line.
std::optional<HostLine> parseHostLine(QStringView line);

// What the bytes of a list file hold: the entries before the first line that cannot be read.
struct ParsedHostList
{
    QVector<HostLine> entries;
    int errorLine = 0;  // 1-based; 0 when every line was read
    QString errorCause; // plain words; empty when errorLine is 0
};

// Splits at CR LF, lone CR and lone LF, decodes UTF-8 (a leading byte order mark is dropped),
// skips empty lines and stops at the first bad line or at entry MaxEntries + 1.
ParsedHostList parseHostList(QByteArrayView data);

// Replaces the rows of the list with the entries of the file at path: each ticked, its
// address as sub-item 1, status and timeout empty, and its sourceLine and sourceBytes telling
// which physical line it came from; the last row is scrolled into view.
// Throws HostListError when the file cannot be read (also when it is not a regular file, is larger
// than MaxFileBytes or does not fit in memory) or a line is bad; the rows read before that line
// stay in the list. No other exception leaves this or the functions below.
void LoadList(platform::ReportList& list, const QString& path);

// Adds one entry at the end of the file at path (created when missing) as
// "<type>|<name>|<address>" CR LF in UTF-8, texts as given, under the lock of LockedHostList and
// synced to the disk before it returns. A missing final break is added first; where the file
// cannot be read (a write-only list) one is always added, since an empty line is harmless.
// Throws HostListError on failure, after cutting the file back to its old length.
void AppendHostEntry(const QString& path, int type, const QString& name, const QString& address);

// Takes one physical line, with its break, out of the file at path: the line numbered sourceLine
// (1-based, empty lines counted), provided it still holds exactly sourceBytes. Every other byte
// stays as it is. The file is replaced under the lock through LockedHostList::replace, keeping its
// owner, group and mode; on failure it stays byte for byte as it was. Throws HostListError when the line is no longer
// there as loaded (the file changed since; the message asks for a Reload) or the file cannot be read or written.
void RemoveHostEntry(const QString& path, int sourceLine, const QByteArray& sourceBytes);

// After a removal the lines below the removed one move up by one. Updates the sourceLine of the
// rows read from them, so that a second removal works without a Reload.
void shiftSourceLines(platform::ReportList& list, int removedLine);

} // namespace hostlist
