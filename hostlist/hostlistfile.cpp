#include "hostlistfile.h"

#include "reportlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <utility>

namespace hostlist {

HostListError::HostListError(const QString& message, const QString& path, int line)
    : std::runtime_error(message.toStdString()), m_message(message), m_path(path), m_line(line)
{
}

namespace {

// Where the user should look: the full path, written the way the system writes paths.
QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// Editors on other systems like to start UTF-8 files with a byte order mark.
constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF", 3);

QString decode(QByteArrayView data)
{
    if (data.startsWith(ByteOrderMark))
        data = data.sliced(ByteOrderMark.size());
    // QString::fromUtf8 would drop one more mark; a second one is text and makes the line bad.
    // Stateless: a sequence cut off by the end of the file becomes a replacement character
    // instead of waiting in the decoder for bytes that never come.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(data);
}

struct ScanFailure
{
    int line = 0;
    QString cause;
};

// Walks the lines of a decoded file and hands every entry with its 1-based physical line number to
// sink, so that the loader can build view rows directly while the pure parser collects HostLine values.
template <typename Sink> ScanFailure scan(QStringView text, Sink&& sink)
{
    const qsizetype size = text.size();
    qsizetype pos = 0;
    int lineNumber = 0;
    int entries = 0;
    while (pos < size) {
        qsizetype end = pos;
        while (end < size && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        const QStringView line = text.sliced(pos, end - pos);
        pos = end;
        if (pos < size)
            pos += (text[pos] == u'\r' && pos + 1 < size && text[pos + 1] == u'\n') ? 2 : 1;
        ++lineNumber;

        // A stray blank line, typically a doubled break at the end, holds no entry; refusing
        // the whole list over it would only punish a harmless edit.
        if (line.isEmpty())
            continue;
        if (entries == MaxEntries)
            return {lineNumber, QStringLiteral("too many lines; the list holds at most %1 entries").arg(MaxEntries)};
        std::optional<HostLine> entry = parseHostLine(line);
        if (!entry)
            return {lineNumber, QStringLiteral("a line must start with a type digit 0 to 9")};
        sink(std::move(*entry), lineNumber);
        ++entries;
    }
    return {};
}

// The physical lines of the undecoded file, split and numbered the way scan() splits the decoded
// text: a UTF-8 character never holds a CR or LF byte, and the decoder never swallows one into a
// broken sequence. The byte order mark belongs to the file, not to its first line, so removing that
// line leaves the mark in place.
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

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path))
            throw HostListError(QStringLiteral("The host list was not found: %1").arg(shownPath(path)), path);
        throw HostListError(
            QStringLiteral("The host list could not be opened: %1 (%2)").arg(shownPath(path), file.errorString()),
            path);
    }
    // One read and an in-memory parse: line-by-line device reads cost far more than the parse.
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw HostListError(
            QStringLiteral("The host list could not be read: %1 (%2)").arg(shownPath(path), file.errorString()), path);
    return data;
}

[[noreturn]] void throwWriteError(const QString& path, const QString& reason)
{
    throw HostListError(QStringLiteral("The host list could not be written: %1 (%2)").arg(shownPath(path), reason),
                        path);
}

} // namespace

std::optional<HostLine> parseHostLine(QStringView line)
{
    if (line.isEmpty())
        return std::nullopt;
    // Only ASCII digits: QChar::isDigit() would also let other scripts' digits through.
    const char16_t first = line.front().unicode();
    if (first < u'0' || first > u'9')
        return std::nullopt;

    HostLine entry;
    const int digit = first - u'0';
    entry.type = digit > 2 ? 3 : digit;

    // The separator is one character, which may take two UTF-16 units; splitting a surrogate
    // pair would start the name with half a character.
    qsizetype nameStart = 2;
    if (line.size() > 2 && line[1].isHighSurrogate() && line[2].isLowSurrogate())
        nameStart = 3;
    if (line.size() <= nameStart)
        return entry;

    const QStringView rest = line.sliced(nameStart);
    const qsizetype bar = rest.indexOf(u'|');
    if (bar < 0) {
        entry.name = rest.toString();
        return entry;
    }
    entry.name = rest.first(bar).toString();
    entry.address = rest.sliced(bar + 1).toString();
    return entry;
}

ParsedHostList parseHostList(QByteArrayView data)
{
    ParsedHostList parsed;
    const QString text = decode(data);
    ScanFailure failure = scan(text, [&parsed](HostLine&& entry, int) { parsed.entries.append(std::move(entry)); });
    parsed.errorLine = failure.line;
    parsed.errorCause = std::move(failure.cause);
    return parsed;
}

void LoadList(platform::ReportList& list, const QString& path)
{
    list.clear();
    const QByteArray data = readWhole(path);

    using Row = platform::ReportListModel::Row;
    QVector<Row> rows;
    const qsizetype breaks = std::max(data.count('\n'), data.count('\r'));
    rows.reserve(std::min<qsizetype>(breaks + 1, MaxEntries));

    RawLines raw(data);
    const ScanFailure failure = scan(decode(data), [&rows, &raw](HostLine&& entry, int lineNumber) {
        while (raw.number() < lineNumber && raw.advance()) {
        }
        Row row;
        row.sourceLine = lineNumber;
        row.sourceBytes = raw.bytes().toByteArray();
        row.text = std::move(entry.name);
        row.smallIcon = entry.type;
        row.checked = true;
        row.sub[0] = std::move(entry.address);
        rows.append(std::move(row));
    });

    // One insertion and one scroll for the whole batch: per-row inserts and scrolls make the
    // view lay itself out again each time.
    if (!rows.isEmpty()) {
        list.items()->append(std::move(rows));
        list.ensureVisible(list.count());
    }
    if (failure.line != 0) {
        throw HostListError(QStringLiteral("%1, line %2: %3")
                                .arg(QFileInfo(path).fileName(), QString::number(failure.line), failure.cause),
                            path, failure.line);
    }
}

void AppendHostEntry(const QString& path, int type, const QString& name, const QString& address)
{
    // A line break inside a text would split the entry over two lines, and the second would
    // stop every later load at itself.
    const auto hasBreak = [](const QString& text) { return text.contains(u'\r') || text.contains(u'\n'); };
    if (hasBreak(name) || hasBreak(address))
        throw HostListError(
            QStringLiteral("A host name or address cannot hold a line break; nothing was written to %1.")
                .arg(QDir::toNativeSeparators(path)),
            path);
    // Append mode makes the kernel place each write at the end, even if another program
    // appends to the same file at the same time.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        throwWriteError(path, file.errorString());

    QByteArray line;
    const qint64 size = file.size();
    if (size > 0) {
        // A file saved by hand often lacks the final break; without one the entry would be
        // glued onto the last line and both would be lost as one bad line.
        char last = 0;
        if (!file.seek(size - 1) || !file.getChar(&last))
            throwWriteError(path, file.errorString());
        if (last != '\n' && last != '\r')
            line += "\r\n";
    }
    line += QByteArray::number(type);
    line += '|';
    line += name.toUtf8();
    line += '|';
    line += address.toUtf8();
    line += "\r\n";

    // One write call for the whole line, so a reader never sees half an entry from us.
    if (file.write(line) != line.size())
        throwWriteError(path, file.errorString());
    if (!file.flush())
        throwWriteError(path, file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        throwWriteError(path, file.errorString());
}

void RemoveHostEntry(const QString& path, int sourceLine, const QByteArray& sourceBytes)
{
    // The row knows only what the file held when it was loaded. Removing by position alone could
    // hit a neighbour after an edit by hand, so the line must still be there, byte for byte.
    const auto changed = [&path] {
        return HostListError(QStringLiteral("%1 has changed since it was loaded; choose Reload and try again.")
                                 .arg(QFileInfo(path).fileName()),
                             path);
    };
    if (!QFileInfo::exists(path))
        throw changed();
    const QByteArray data = readWhole(path);

    RawLines raw(data);
    while (raw.number() < sourceLine && raw.advance()) {
    }
    if (sourceLine < 1 || raw.number() != sourceLine || raw.bytes() != sourceBytes)
        throw changed();

    QByteArray kept;
    kept.reserve(data.size() - (raw.next() - raw.start()));
    kept += QByteArrayView(data).first(raw.start());
    kept += QByteArrayView(data).sliced(raw.next());

    // Written beside the file and renamed over it: a full disk or a crash halfway leaves the old
    // list whole instead of a truncated one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throwWriteError(path, file.errorString());
    if (file.write(kept) != kept.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throwWriteError(path, reason);
    }
    if (!file.commit())
        throwWriteError(path, file.errorString());
}

void shiftSourceLines(platform::ReportList& list, int removedLine)
{
    platform::ReportListModel* items = list.items();
    for (int i = 1; i <= items->count(); ++i) {
        const platform::ReportListModel::Row& row = items->row(i);
        if (row.sourceLine > removedLine)
            items->setSource(i, row.sourceLine - 1, row.sourceBytes);
    }
}

} // namespace hostlist
