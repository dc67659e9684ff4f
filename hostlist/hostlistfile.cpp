#include "hostlistfile.h"

#include "reportlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

QString decode(QByteArrayView data)
{
    // Editors on other systems like to start UTF-8 files with a byte order mark.
    constexpr QByteArrayView bom("\xEF\xBB\xBF", 3);
    if (data.startsWith(bom))
        data = data.sliced(bom.size());
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

// Walks the lines of a decoded file and hands every entry to sink, so that the loader can
// build view rows directly while the pure parser collects HostLine values.
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
        sink(std::move(*entry));
        ++entries;
    }
    return {};
}

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
    ScanFailure failure = scan(text, [&parsed](HostLine&& entry) { parsed.entries.append(std::move(entry)); });
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

    const ScanFailure failure = scan(decode(data), [&rows](HostLine&& entry) {
        Row row;
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

} // namespace hostlist
