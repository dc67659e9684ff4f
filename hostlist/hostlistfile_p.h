#pragma once

// What the units of the list file share among themselves and show no one else.

#include "hostlist/hostline.h"
#include "hostlist/legacytext.h"
#include "hostlist/lockedhostlist.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

namespace hostlist::detail {

// Where the user should look: the full path, written the way the system writes paths.
QString shownPath(const QString& path);

// Editors on other systems like to start UTF-8 files with a byte order mark.
inline constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF", 3);

// The physical lines of the file, split at CR LF, lone CR and lone LF and numbered from 1, empty
// lines included. The one splitter for loading and removing, so that a line number from a load
// names the same bytes in a removal. Split before decoding: a UTF-8 character never holds a CR or
// LF byte. The byte order mark belongs to the file, not to its first line, so removing that line
// leaves the mark in place.
class RawLines
{
public:
    explicit RawLines(QByteArrayView data) : m_data(data)
    {
        if (data.startsWith(ByteOrderMark))
            m_next = ByteOrderMark.size();
    }

    // Steps to the following line; false after the last one.
    bool advance()
    {
        const qsizetype size = m_data.size();
        if (m_next >= size)
            return false;
        m_start = m_next;
        m_end = m_start;
        while (m_end < size && m_data[m_end] != '\n' && m_data[m_end] != '\r')
            ++m_end;
        m_next = m_end;
        if (m_next < size)
            m_next += (m_data[m_next] == '\r' && m_next + 1 < size && m_data[m_next + 1] == '\n') ? 2 : 1;
        ++m_number;
        return true;
    }

    int number() const { return m_number; }
    QByteArrayView bytes() const { return m_data.sliced(m_start, m_end - m_start); }
    qsizetype start() const { return m_start; }
    // Where the following line starts: just past this line's break.
    qsizetype next() const { return m_next; }

private:
    QByteArrayView m_data;
    qsizetype m_start = 0;
    qsizetype m_end = 0;
    qsizetype m_next = 0;
    int m_number = 0;
};

struct ScanFailure
{
    int line = 0;
    QString cause;
};

// Reads the entries of a file and hands each to sink with the line it came from, so that the
// loader can note where it sits while the pure parser only collects HostLine values.
template <typename Sink> ScanFailure scan(QByteArrayView data, bool legacy, const QByteArray& encoding, Sink&& sink)
{
    // Stateless: a sequence cut off by the end of a line becomes a replacement character instead
    // of waiting in the decoder for bytes that never come. ConvertInitialBom: the file's own mark
    // is gone already; another one is text and makes its line bad.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    RawLines lines(data);
    int entries = 0;
    while (lines.advance()) {
        // A stray blank line, typically a doubled break at the end, holds no entry; refusing
        // the whole list over it would only punish a harmless edit.
        if (lines.bytes().isEmpty())
            continue;
        if (entries == MaxEntries)
            return {lines.number(),
                    QStringLiteral("too many lines; the list holds at most %1 entries").arg(MaxEntries)};
        // Line by line: a UTF-8 list with one line pasted from an old tool keeps its other names.
        const bool lineLegacy = legacy && !isUtf8(lines.bytes());
        const QString text = lineLegacy ? decodeLegacy(lines.bytes(), encoding) : QString(utf8.decode(lines.bytes()));
        std::optional<HostLine> entry = parseHostLine(text);
        if (!entry)
            return {lines.number(), QStringLiteral("a line must start with a type digit 0 to 9")};
        sink(std::move(*entry), std::as_const(lines));
        ++entries;
    }
    return {};
}

// A list line's bytes, without its break, in the encoding given; throws when a text cannot be
// written as one line of the list or the encoding cannot hold it.
QByteArray lineBytes(const QString& path, const HostLine& entry, bool legacy, const QByteArray& encoding);

// Turns running out of memory (or a size the containers cannot hold) into the error the caller
// shows, so that no other exception leaves the public functions.
template <typename Work> void guarded(const QString& path, Work&& work)
{
    try {
        work();
    } catch (const HostListError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw HostListError::outOfMemory(path);
    } catch (const std::length_error&) {
        throw HostListError::outOfMemory(path);
    }
}

} // namespace hostlist::detail
