#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QVector>
#include <optional>
#include <stdexcept>

// list.txt as a file: reading, appending and removing entries, without any widget. Putting the
// entries into the list view is hostlistview.h's job.
namespace hostlist {

// One entry of list.txt: "<type digit>|<name>|<address>".
struct HostLine
{
    int type = 0; // small icon index: 0 none, 1..3
    QString name;
    QString address;

    friend bool operator==(const HostLine&, const HostLine&) = default;
};

// The most entries one list can hold. It bounds what one load keeps in memory and how long one
// sweep through every host takes; a longer file is refused at the first entry past it.
inline constexpr int MaxEntries = 32767;

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

// Splits at CR LF, lone CR and lone LF, decodes the text (see isLegacyText), skips empty lines and
// stops at the first bad line or at entry MaxEntries + 1. legacyEncoding names the code page for a
// file that is not UTF-8; empty means DefaultLegacyEncoding.
ParsedHostList parseHostList(QByteArrayView data, const QByteArray& legacyEncoding = {});

// Lists written on Windows in the code page of the seed's own texts.
inline constexpr char DefaultLegacyEncoding[] = "windows-1251";

// True when data is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool isUtf8(QByteArrayView data);
// True when a list file is not UTF-8 as a whole (no byte order mark, not valid UTF-8). Such a file
// is still read line by line: a line that is valid UTF-8 is UTF-8, any other is in the legacy code
// page. Lines added or changed are written in the legacy code page while this holds.
bool isLegacyText(QByteArrayView data);
// Windows-1251 from a table of our own, so that the result does not depend on how Qt was built.
// The one byte the code page leaves undefined (0x98) stands for U+0098, as browsers read it, so
// that every byte reads back as itself.
QString decodeWindows1251(QByteArrayView bytes);
// Nothing when text holds a character Windows-1251 cannot hold.
std::optional<QByteArray> encodeWindows1251(QStringView text);
// The code page named by encoding (empty: DefaultLegacyEncoding); a name Qt does not know falls
// back to Windows-1251.
QString decodeLegacy(QByteArrayView bytes, const QByteArray& encoding);
std::optional<QByteArray> encodeLegacy(QStringView text, const QByteArray& encoding);

// Why address can never be probed, in words for the user; empty when it can be. Accepts IPv4
// addresses in every form inet_aton(3) reads except 0.0.0.0 and 255.255.255.255, IPv6 literals
// (with a zone after "%"), and host names: labels of letters, digits, hyphens and underscores, at
// most 63 characters each and 253 in all, not starting or ending in a hyphen, the last one not
// all digits (that would be an IPv4 address gone wrong, like 10.0.0.300); names in other scripts
// are checked in their ASCII form. The one rule for the entry dialog and any import.
QString addressProblem(const QString& address);

// Names one entry read from list.txt by a HostListFile; 0 names none. Keys are never reused while
// the program runs, so a key kept from before a reload matches nothing. Holders of a key (the rows
// of the list view) treat it as an opaque tag.
using EntryKey = quint64;

// An entry of list.txt and the key that finds it in the file again.
struct KeyedHostLine
{
    EntryKey key = 0;
    HostLine host;
};

// What HostListFile::load read: the entries before the first bad line, in file order.
struct LoadedHostList
{
    QVector<KeyedHostLine> entries;
    // The bad line that stopped the load, as the error to show ("list.txt, line 3: ..."); empty
    // when every line was read.
    std::optional<HostListError> error;
};

// The list file at one path and where each entry it loaded sits in it: the 1-based physical line
// (empty lines counted) and that line's exact bytes without its break. A removal goes by these,
// not by what the entry says, so that two identical lines stay apart; and the bytes must still
// match, so that an edit by hand since the load is never mistaken for the entry.
class HostListFile
{
public:
    // Where an entry sits in the file; line 0 when the key is unknown.
    struct Source
    {
        int line = 0;
        QByteArray bytes;
    };

    explicit HostListFile(const QString& path = {});

    QString path() const { return m_path; }

    // Reads the file under a shared lock and forgets the keys of every earlier load. Throws
    // HostListError when the file cannot be read (also when it is not a regular file, is larger
    // than MaxFileBytes or does not fit in memory); a bad line is not thrown but returned, with
    // the entries before it. No other exception leaves this or the functions below.
    LoadedHostList load();

    // The code page for a file that is not UTF-8; empty means DefaultLegacyEncoding.
    void setLegacyEncoding(const QByteArray& encoding) { m_legacyEncoding = encoding; }
    QByteArray legacyEncoding() const { return m_legacyEncoding; }
    // True when the last load read the file in the legacy code page.
    bool loadedAsLegacy() const { return m_loadedAsLegacy; }

    // Appends entry at the end of the file (created when missing), in the encoding the file is in
    // now (UTF-8 for a new or empty file), under the lock and synced; see AppendHostEntry. The new
    // line is known from then on, so it can be replaced or removed without a reload. Returns its
    // key; 0 when the file cannot be read (a write-only list), so its lines cannot be counted.
    // Throws HostListError when the entry holds a line break or a character the file's encoding
    // cannot hold, or the file cannot be written; the file is then unchanged.
    EntryKey append(const HostLine& entry);
    // Appends every entry in one write, as append() does one; all or nothing. Their keys in order.
    QVector<EntryKey> appendAll(const QVector<HostLine>& entries);

    // Rewrites the entry's physical line as entry says, in the file's encoding; every other byte
    // stays as it is, and the file is replaced as remove() does. Throws HostListError as remove()
    // does, and as append() does for an entry that cannot be written.
    void replace(EntryKey key, const HostLine& entry);

    // Takes the entry's physical line, with its break, out of the file; every other byte stays as
    // it is. The file is replaced under the lock through LockedHostList::replace, keeping its
    // owner, group and mode; on failure it stays byte for byte as it was. Afterwards the key is
    // forgotten and the entries below it know their line moved up, so a second removal needs no
    // reload. Throws HostListError when the key is unknown or the line is no longer there as
    // loaded (the file changed since; the message asks for a Reload), or when the file cannot be
    // read or written.
    void remove(EntryKey key);
    // Takes the lines of all these entries out in one replacement of the file, as remove() does
    // one; all or nothing.
    void removeAll(QVector<EntryKey> keys);

    Source sourceOf(EntryKey key) const;
    // Entries loaded and not removed since.
    int count() const { return static_cast<int>(m_sources.size()); }

private:
    struct Tracked
    {
        EntryKey key = 0;
        Source source;
    };

    QVector<Tracked>::iterator find(EntryKey key);
    HostListError changedError() const;

    QString m_path;
    QByteArray m_legacyEncoding;
    bool m_loadedAsLegacy = false;
    // Keys grow with the line number, so this is ordered by both.
    QVector<Tracked> m_sources;
};

// What an import of many hosts at once would add, and what it leaves out and why.
struct ImportPlan
{
    struct Rejected
    {
        int line = 0; // 1-based line of the text
        QString text;
        QString why;
    };
    QVector<HostLine> accepted;
    QVector<Rejected> rejected;
};

// Reads one host a line: a list.txt line ("1|name|address"), a CSV line "name,address" (fields
// may be quoted, so a name can hold a comma), "name address" (the last word is the address, the
// words before it the name) or an address alone (which then names itself). Empty
// lines are skipped; a line whose address can never be probed, whose name holds a "|", or which
// repeats a host already in `existing` or earlier in the text, is rejected with the reason.
// New hosts get type 3 (unknown). At most MaxEntries lines are read.
ImportPlan planImport(QStringView text, const QVector<HostLine>& existing = {});

// Adds one entry at the end of the file at path (created when missing) as
// "<type>|<name>|<address>" CR LF in the file's encoding (UTF-8 unless it is in the legacy code
// page already), texts as given, under the lock of LockedHostList and
// synced to the disk before it returns. A missing final break is added first; where the file
// cannot be read (a write-only list) one is always added, since an empty line is harmless.
// Throws HostListError on failure, after cutting the file back to its old length.
void AppendHostEntry(const QString& path, int type, const QString& name, const QString& address);

} // namespace hostlist
