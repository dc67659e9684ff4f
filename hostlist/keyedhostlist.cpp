#include "hostlist/keyedhostlist.h"

#include "hostlist/hostlistfile_p.h"

#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>

namespace hostlist {

using namespace detail;

namespace {

// Process-wide, so that no two files and no two loads hand out the same key.
EntryKey nextKey()
{
    static std::atomic<EntryKey> lastKey{0};
    return lastKey.fetch_add(1, std::memory_order_relaxed) + 1;
}

} // namespace

HostListFile::HostListFile(const QString& path) : m_path(path) {}

LoadedHostList HostListFile::load()
{
    m_sources.clear();
    m_sources.squeeze();
    LoadedHostList loaded;
    // On failure no key is known: none reached a caller.
    auto forget = qScopeGuard([this] { m_sources.clear(); });
    guarded(m_path, [&] {
        QByteArray data;
        {
            // Shared: no Append or Remove is halfway through while the bytes are read.
            const LockedHostList file(m_path, LockedHostList::Access::Read);
            data = file.readAll();
        }
        const qsizetype breaks = std::max(data.count('\n'), data.count('\r'));
        const qsizetype expected = std::min<qsizetype>(breaks + 1, MaxEntries);
        loaded.entries.reserve(expected);
        m_sources.reserve(expected);

        m_loadedAsLegacy = isLegacyText(data);
        const ScanFailure failure =
            scan(data, m_loadedAsLegacy, m_legacyEncoding, [&](HostLine&& entry, const RawLines& line) {
                const EntryKey key = nextKey();
                m_sources.append({key, {line.number(), line.bytes().toByteArray()}});
                loaded.entries.append({key, std::move(entry)});
            });
        if (failure.line != 0) {
            loaded.error =
                HostListError(QStringLiteral("%1, line %2: %3")
                                  .arg(QFileInfo(m_path).fileName(), QString::number(failure.line), failure.cause),
                              m_path, failure.line);
        }
    });
    forget.dismiss();
    return loaded;
}

HostListFile::Source HostListFile::sourceOf(EntryKey key) const
{
    const auto it = std::lower_bound(m_sources.cbegin(), m_sources.cend(), key,
                                     [](const Tracked& t, EntryKey k) { return t.key < k; });
    if (it == m_sources.cend() || it->key != key)
        return {};
    return it->source;
}

HostListError HostListFile::changedError() const
{
    return HostListError(QStringLiteral("%1 has changed since it was loaded; choose Reload and try again.")
                             .arg(QFileInfo(m_path).fileName()),
                         m_path);
}

QVector<HostListFile::Tracked>::iterator HostListFile::find(EntryKey key)
{
    const auto it = std::lower_bound(m_sources.begin(), m_sources.end(), key,
                                     [](const Tracked& t, EntryKey k) { return t.key < k; });
    if (it == m_sources.end() || it->key != key || !QFileInfo::exists(m_path))
        throw changedError();
    return it;
}

namespace {

// Finds the loaded line in data: at its number and still byte for byte as loaded. The entry knows
// only what the file held when it was loaded; going by position alone could hit a neighbour after
// an edit by hand.
bool seek(RawLines& raw, const HostListFile::Source& source)
{
    while (raw.number() < source.line && raw.advance()) {
    }
    return raw.number() == source.line && raw.bytes() == source.bytes;
}

} // namespace

void HostListFile::remove(EntryKey key)
{
    const auto it = find(key);
    const Source& source = it->source;

    guarded(m_path, [&] {
        // The read, the check and the replacement under one lock: an append from another process
        // waits and then goes to the new file instead of vanishing with the old one.
        LockedHostList file(m_path, LockedHostList::Access::Change);
        const QByteArray data = file.readAll();

        RawLines raw(data);
        if (!seek(raw, source))
            throw changedError();

        QByteArray kept;
        kept.reserve(data.size() - (raw.next() - raw.start()));
        kept += QByteArrayView(data).first(raw.start());
        kept += QByteArrayView(data).sliced(raw.next());

        // Written beside the file and renamed over it: a full disk or a crash halfway leaves the
        // old list whole instead of a truncated one.
        file.replace(kept);
    });

    // Every entry after this one in key order sits below it in the file.
    const auto below = m_sources.erase(it);
    for (auto moved = below; moved != m_sources.end(); ++moved)
        --moved->source.line;
}

void HostListFile::removeAll(QVector<EntryKey> keys)
{
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    if (keys.isEmpty())
        return;
    // Keys grow with the line, so these are in the file's order.
    QVector<Source> sources;
    for (const EntryKey key : keys)
        sources.append(find(key)->source);

    guarded(m_path, [&] {
        LockedHostList file(m_path, LockedHostList::Access::Change);
        const QByteArray data = file.readAll();
        RawLines raw(data);
        QByteArray kept;
        kept.reserve(data.size());
        qsizetype from = 0;
        for (const Source& source : sources) {
            if (!seek(raw, source))
                throw changedError();
            kept += QByteArrayView(data).sliced(from, raw.start() - from);
            from = raw.next();
        }
        kept += QByteArrayView(data).sliced(from);
        file.replace(kept);
    });

    QVector<Tracked> left;
    left.reserve(m_sources.size() - keys.size());
    int removedAbove = 0;
    for (Tracked& t : m_sources) {
        if (removedAbove < keys.size() && t.key == keys.at(removedAbove)) {
            ++removedAbove;
            continue;
        }
        t.source.line -= removedAbove;
        left.append(std::move(t));
    }
    m_sources = std::move(left);
}

void HostListFile::replace(EntryKey key, const HostLine& entry)
{
    const auto it = find(key);
    QByteArray written;
    guarded(m_path, [&] {
        LockedHostList file(m_path, LockedHostList::Access::Change);
        const QByteArray data = file.readAll();

        RawLines raw(data);
        if (!seek(raw, it->source))
            throw changedError();
        written = lineBytes(m_path, entry, isLegacyText(data), m_legacyEncoding);
        if (written == it->source.bytes)
            return;

        const qsizetype end = raw.start() + raw.bytes().size();
        QByteArray changed;
        changed.reserve(data.size() - raw.bytes().size() + written.size());
        changed += QByteArrayView(data).first(raw.start());
        changed += written;
        changed += QByteArrayView(data).sliced(end);
        file.replace(changed);
    });
    it->source.bytes = written;
}

EntryKey HostListFile::append(const HostLine& entry)
{
    return appendAll({entry}).value(0);
}

QVector<EntryKey> HostListFile::appendAll(const QVector<HostLine>& entries)
{
    QVector<EntryKey> keys;
    if (entries.isEmpty())
        return keys;
    guarded(m_path, [&] {
        // Locked, so that a Remove in another process cannot replace the file between this
        // append and its own read, which would drop the new line.
        LockedHostList file(m_path, LockedHostList::Access::Append);

        QByteArray data;
        if (file.readable())
            data = file.readAll();
        const bool legacy = isLegacyText(data);
        QVector<QByteArray> texts;
        for (const HostLine& entry : entries)
            texts.append(lineBytes(m_path, entry, legacy, m_legacyEncoding));

        QByteArray line;
        if (file.size() > 0) {
            // A file saved by hand often lacks the final break; without one the entry would be
            // glued onto the last line and both would be lost as one bad line. Where the last
            // byte cannot be read, a break is written anyway: an empty line is skipped on load.
            const int last = file.lastByte();
            if (last != '\n' && last != '\r')
                line += "\r\n";
        }
        // The break written first ends a line of its own (after a lone byte order mark, too).
        data += line;
        for (const QByteArray& text : texts) {
            line += text;
            line += "\r\n";
        }

        // One write call for the whole line, so a reader never sees half an entry from us.
        file.append(line);

        if (!file.readable())
            return;
        RawLines raw(data);
        while (raw.advance()) {
        }
        int number = raw.number();
        for (const QByteArray& text : texts) {
            const EntryKey key = nextKey();
            m_sources.append({key, {++number, text}});
            keys.append(key);
        }
    });
    return keys;
}

void AppendHostEntry(const QString& path, int type, const QString& name, const QString& address)
{
    HostListFile(path).append({type, name, address});
}

} // namespace hostlist
