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
// Throws HostListError when the file cannot be read or a line is bad; the rows read before
// that line stay in the list.
void LoadList(platform::ReportList& list, const QString& path);

// Adds one entry at the end of the file at path (created when missing) as
// "<type>|<name>|<address>" CR LF in UTF-8, texts as given. Throws HostListError on failure.
void AppendHostEntry(const QString& path, int type, const QString& name, const QString& address);

// Takes one physical line, with its break, out of the file at path: the line numbered sourceLine
// (1-based, empty lines counted), provided it still holds exactly sourceBytes. Every other byte
// stays as it is. The file is replaced through a temporary copy and a rename, keeping its
// permissions. Throws HostListError when the line is no longer there as loaded (the file changed
// since; the message asks for a Reload) or the file cannot be read or written.
void RemoveHostEntry(const QString& path, int sourceLine, const QByteArray& sourceBytes);

// After a removal the lines below the removed one move up by one. Updates the sourceLine of the
// rows read from them, so that a second removal works without a Reload.
void shiftSourceLines(platform::ReportList& list, int removedLine);

} // namespace hostlist
