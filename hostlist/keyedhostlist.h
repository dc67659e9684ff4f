#pragma once

#include "hostlist/hostline.h"
#include "hostlist/lockedhostlist.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

// The list file and where each loaded entry sits in it, so that edits touch only that entry's line.
namespace hostlist {

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

// Adds one entry at the end of the file at path (created when missing) as
// "<type>|<name>|<address>" CR LF in the file's encoding (UTF-8 unless it is in the legacy code
// page already), texts as given, under the lock of LockedHostList and
// synced to the disk before it returns. A missing final break is added first; where the file
// cannot be read (a write-only list) one is always added, since an empty line is harmless.
// Throws HostListError on failure, after cutting the file back to its old length.
void AppendHostEntry(const QString& path, int type, const QString& name, const QString& address);

} // namespace hostlist
