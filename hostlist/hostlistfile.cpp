#include "hostlist/hostlistfile.h"

#include "platform/fdio.h"
#include "probe/hostaddress.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <new>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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

// Process-wide, so that no two files and no two loads hand out the same key.
EntryKey nextKey()
{
    static std::atomic<EntryKey> lastKey{0};
    return lastKey.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Windows-1251 from 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in order.
constexpr char16_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

bool isWindows1251(const QByteArray& encoding)
{
    const QByteArray name = encoding.toLower();
    return name.isEmpty() || name == "windows-1251" || name == "cp1251" || name == "cp-1251";
}

// A list line's bytes, without its break, in the encoding given; throws when a text cannot be
// written as one line of the list or the encoding cannot hold it.
QByteArray lineBytes(const QString& path, const HostLine& entry, bool legacy, const QByteArray& encoding)
{
    const auto refuse = [&path](const QString& why) {
        return HostListError(QStringLiteral("%1; nothing was written to %2.").arg(why, shownPath(path)), path);
    };
    // A line break inside a text would split the entry over two lines, and the second would
    // stop every later load at itself; a "|" in the name would push the rest into the address.
    const auto hasBreak = [](const QString& text) { return text.contains(u'\r') || text.contains(u'\n'); };
    if (hasBreak(entry.name) || hasBreak(entry.address))
        throw refuse(QStringLiteral("A host name or address cannot hold a line break"));
    if (entry.type < 0 || entry.type > 9)
        throw refuse(QStringLiteral("The type must be a digit"));
    const QString text = QString::number(entry.type) + u'|' + entry.name + u'|' + entry.address;
    if (!legacy)
        return text.toUtf8();
    std::optional<QByteArray> bytes = encodeLegacy(text, encoding);
    if (!bytes)
        throw refuse(QStringLiteral("The list is kept in the %1 code page, which cannot hold every character of "
                                    "\"%2\"")
                         .arg(QString::fromLatin1(encoding.isEmpty() ? QByteArray(DefaultLegacyEncoding) : encoding),
                              entry.name + u' ' + entry.address));
    // Code-page bytes that happen to be valid UTF-8 would be read back as UTF-8, another text;
    // such a line is written in UTF-8, which reads back as written.
    if (isUtf8(*bytes) && QString::fromUtf8(*bytes) != text)
        return text.toUtf8();
    return *bytes;
}

[[noreturn]] void throwWriteError(const QString& path, const QString& reason)
{
    throw HostListError(QStringLiteral("The host list could not be written: %1 (%2)").arg(shownPath(path), reason),
                        path);
}

QString reasonOf(int error)
{
    return qt_error_string(error);
}

[[noreturn]] void throwOpenError(const QString& path, int error)
{
    if (error == ENOENT)
        throw HostListError(QStringLiteral("The host list was not found: %1").arg(shownPath(path)), path);
    throw HostListError(
        QStringLiteral("The host list could not be opened: %1 (%2)").arg(shownPath(path), reasonOf(error)), path);
}

[[noreturn]] void throwReadError(const QString& path, int error)
{
    throw HostListError(
        QStringLiteral("The host list could not be read: %1 (%2)").arg(shownPath(path), reasonOf(error)), path);
}

[[noreturn]] void throwTooLarge(const QString& path, qint64 size)
{
    throw HostListError(QStringLiteral("The host list is too large to be read: %1 (%2 bytes; a list may take at "
                                       "most %3 MiB, far more than its %4 entries need)")
                            .arg(shownPath(path), QString::number(size), QString::number(MaxFileBytes / (1024 * 1024)),
                                 QString::number(MaxEntries)),
                        path);
}

// Opening a FIFO blocks until a writer comes, opening a device may act on it; only a regular file
// is a list.
void requireRegular(const QString& path, mode_t mode)
{
    if (S_ISREG(mode))
        return;
    QString kind;
    if (S_ISDIR(mode))
        kind = QStringLiteral("a directory");
    else if (S_ISFIFO(mode))
        kind = QStringLiteral("a named pipe (FIFO)");
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        kind = QStringLiteral("a device");
    else if (S_ISSOCK(mode))
        kind = QStringLiteral("a socket");
    else
        kind = QStringLiteral("something else");
    throw HostListError(QStringLiteral("The host list is not a regular file: %1 is %2.").arg(shownPath(path), kind),
                        path);
}

enum class LockResult
{
    Locked,
    TimedOut,
    Unsupported
};

// Polls instead of blocking, so that a program holding the lock forever cannot freeze the window.
LockResult lockFile(int fd, int operation, const QDeadlineTimer& deadline, const QString& path)
{
    int pauseMs = 1;
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return LockResult::Locked;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL)
            return LockResult::Unsupported;
        if (error != EWOULDBLOCK)
            throwOpenError(path, error);
        if (deadline.hasExpired())
            return LockResult::TimedOut;
        const qint64 remaining = deadline.remainingTime();
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<qint64>(pauseMs, std::max<qint64>(remaining, 1))));
        pauseMs = std::min(pauseMs * 2, 4);
    }
}

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

} // namespace

HostListError HostListError::outOfMemory(const QString& path)
{
    return HostListError(QStringLiteral("The host list does not fit in the memory available: %1").arg(shownPath(path)),
                         path);
}

LockedHostList::LockedHostList(const QString& path, Access access) : m_path(path), m_access(access)
{
    open();
}

LockedHostList::~LockedHostList()
{
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
}

void LockedHostList::open()
{
    const QByteArray native = QFile::encodeName(m_path);
    const QDeadlineTimer deadline(LockWaitMs);
    const auto busy = [this] {
        return HostListError(QStringLiteral("The host list is in use by another program: %1. Try again in a moment.")
                                 .arg(shownPath(m_path)),
                             m_path);
    };
    for (;;) {
        struct stat before;
        bool exists = true;
        if (::stat(native.constData(), &before) == 0) {
            requireRegular(m_path, before.st_mode);
        } else if (errno == ENOENT && m_access == Access::Append) {
            exists = false;
        } else {
            throwOpenError(m_path, errno);
        }

        // O_NONBLOCK: should a FIFO take the file's place after the check above, the open still
        // returns at once and the fstat below refuses it.
        constexpr int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        int fd = -1;
        bool created = false;
        bool readable = true;
        if (!exists) {
            fd = ::open(native.constData(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | common, 0666);
            if (fd < 0 && errno == EEXIST) {
                struct stat link;
                if (::lstat(native.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) {
                    if (deadline.hasExpired())
                        throw busy();
                    continue; // someone else created it first; use theirs
                }
                // A link to a file not there yet: create the file it names, as an editor would.
                fd = ::open(native.constData(), O_RDWR | O_APPEND | O_CREAT | common, 0666);
            }
            if (fd < 0)
                throwWriteError(m_path, reasonOf(errno));
            created = true;
        } else {
            switch (m_access) {
            case Access::Read:
                fd = ::open(native.constData(), O_RDONLY | common);
                break;
            case Access::Change:
                fd = ::open(native.constData(), O_RDWR | common);
                break;
            case Access::Append:
                fd = ::open(native.constData(), O_RDWR | O_APPEND | common);
                if (fd < 0 && errno == EACCES) {
                    // A write-only list can still take a line.
                    fd = ::open(native.constData(), O_WRONLY | O_APPEND | common);
                    readable = false;
                }
                break;
            }
            if (fd < 0) {
                if (errno == ENOENT && m_access == Access::Append && !deadline.hasExpired())
                    continue; // replaced or removed between the stat and the open
                const int error = errno;
                if (m_access == Access::Append)
                    throwWriteError(m_path, reasonOf(error));
                throwOpenError(m_path, error);
            }
        }

        struct stat held;
        if (::fstat(fd, &held) != 0) {
            const int error = errno;
            ::close(fd);
            throwOpenError(m_path, error);
        }
        if (!S_ISREG(held.st_mode)) {
            ::close(fd);
            requireRegular(m_path, held.st_mode);
        }
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

        LockResult locked = LockResult::Unsupported;
        try {
            locked = lockFile(fd, m_access == Access::Read ? LOCK_SH : LOCK_EX, deadline, m_path);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (locked == LockResult::TimedOut) {
            ::close(fd);
            throw busy();
        }

        // The lock is on the file that was opened. If list.txt was replaced or removed while this
        // waited, the lock guards a file nobody will read again: start over on the one there now.
        struct stat now;
        if (::stat(native.constData(), &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino) {
            ::close(fd);
            if (deadline.hasExpired())
                throw busy();
            continue; // a list that is gone now is reported by the stat at the top
        }

        m_fd = fd;
        m_created = created;
        m_readable = m_access != Access::Append || readable;
        refresh();
        return;
    }
}

void LockedHostList::refresh()
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        throwOpenError(m_path, errno);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_uid = st.st_uid;
    m_gid = st.st_gid;
    m_mode = st.st_mode;
}

qint64 LockedHostList::size() const
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        throwReadError(m_path, errno);
    return st.st_size;
}

QByteArray LockedHostList::readAll() const
{
    if (!m_readable)
        throwOpenError(m_path, EACCES);
    const qint64 expected = size();
    if (expected > MaxFileBytes)
        throwTooLarge(m_path, expected);
    // One read and an in-memory parse: line-by-line device reads cost far more than the parse.
    QByteArray data;
    data.resize(expected + 1); // the spare byte shows the end without a second buffer
    qint64 got = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > MaxFileBytes)
                throwTooLarge(m_path, got);
            data.resize(std::min<qint64>(got + 65536, MaxFileBytes + 1));
        }
        const ssize_t n = ::pread(m_fd, data.data() + got, static_cast<size_t>(data.size() - got), got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwReadError(m_path, errno);
        }
        if (n == 0)
            break;
        got += n;
    }
    data.truncate(got);
    return data;
}

int LockedHostList::lastByte() const
{
    if (!m_readable)
        return -1;
    const qint64 end = size();
    if (end <= 0)
        return -1;
    unsigned char last = 0;
    for (;;) {
        const ssize_t n = ::pread(m_fd, &last, 1, end - 1);
        if (n == 1)
            return last;
        if (n < 0 && errno == EINTR)
            continue;
        return -1;
    }
}

void LockedHostList::append(QByteArrayView bytes)
{
    const qint64 oldSize = size();
    int error = platform::fdio::writeAll(m_fd, bytes);
    if (error == 0 && ::fdatasync(m_fd) != 0)
        error = errno;
    if (error == 0 && m_created)
        error = platform::fdio::syncFolder(QFileInfo(QFileInfo(m_path).canonicalFilePath()).absolutePath());
    if (error == 0)
        return;
    // A line cut off by a full disk would load as an entry with a wrong address.
    if (::ftruncate(m_fd, oldSize) != 0) {
        const int cutError = errno;
        throw HostListError(QStringLiteral("The host list could not be written: %1 (%2). It may now end in a cut-off "
                                           "line, which could not be taken out again (%3).")
                                .arg(shownPath(m_path), reasonOf(error), reasonOf(cutError)),
                            m_path);
    }
    throwWriteError(m_path, reasonOf(error));
}

void LockedHostList::replace(QByteArrayView bytes)
{
    // A symbolic link stays a link; the file it names gets the new bytes.
    const QFileInfo info(m_path);
    QString target = info.canonicalFilePath();
    if (target.isEmpty())
        target = info.absoluteFilePath();
    const QFileInfo targetInfo(target);
    const QString folder = targetInfo.absolutePath();
    QByteArray temp =
        QFile::encodeName(folder + QStringLiteral("/.") + targetInfo.fileName() + QStringLiteral(".tivane-XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        // The list itself may well be writable: say that its folder is what refused.
        const int error = errno;
        throw HostListError(QStringLiteral("The host list could not be changed: its folder %1 refused the temporary "
                                           "file that a safe change writes beside the list (%2). Make the folder "
                                           "writable, or move list.txt into a folder you can write to.")
                                .arg(shownPath(folder), reasonOf(error)),
                            m_path);
    }
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.constData());
        throwWriteError(m_path, reasonOf(error));
    };

    // Owner and group first: a change of owner clears set-ID bits, which the mode then restores.
    // Only root may give a file away; anyone may pick one of their own groups.
    if (::fchown(fd, m_uid, m_gid) != 0) {
        if (errno != EPERM)
            fail(errno);
        (void)::fchown(fd, static_cast<uid_t>(-1), m_gid);
    }
    if (::fchmod(fd, m_mode & 07777) != 0)
        fail(errno);
    if (const int error = platform::fdio::writeAll(fd, bytes))
        fail(error);
    if (::fsync(fd) != 0)
        fail(errno);
    // Locked before it gets the name, so that it is never list.txt unlocked while this object lives.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != ENOSYS &&
        errno != EINVAL)
        fail(errno);
    if (::rename(temp.constData(), QFile::encodeName(target).constData()) != 0)
        fail(errno);

    // Waiters on the old file wake up, see the new one under the name and wait for it instead.
    ::close(m_fd);
    m_fd = fd;
    m_readable = true;
    m_created = false;
    refresh();

    if (const int error = platform::fdio::syncFolder(folder)) {
        throw HostListError(QStringLiteral("The host list was changed, but the change may not be safe on the disk: "
                                           "%1 (%2)")
                                .arg(shownPath(m_path), reasonOf(error)),
                            m_path);
    }
}

bool isUtf8(QByteArrayView data)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
            least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
            least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
            least = 0x10000;
        } else {
            return false;
        }
        if (n - i <= more)
            return false;
        for (int k = 1; k <= more; ++k) {
            const unsigned char next = p[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

bool isLegacyText(QByteArrayView data)
{
    return !data.startsWith(ByteOrderMark) && !isUtf8(data);
}

QString decodeWindows1251(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        if (c < 0x80)
            *out++ = QChar(char16_t(c));
        else if (c < 0xC0)
            *out++ = QChar(Cp1251High[c - 0x80]);
        else
            *out++ = QChar(char16_t(0x0410 + (c - 0xC0)));
    }
    return text;
}

std::optional<QByteArray> encodeWindows1251(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            bytes += char(u);
        } else if (u >= 0x0410 && u <= 0x044F) {
            bytes += char(0xC0 + (u - 0x0410));
        } else {
            const char16_t* const end = std::end(Cp1251High);
            const char16_t* at = std::find(std::begin(Cp1251High), end, u);
            if (at == end)
                return std::nullopt;
            bytes += char(0x80 + (at - std::begin(Cp1251High)));
        }
    }
    return bytes;
}

QString decodeLegacy(QByteArrayView bytes, const QByteArray& encoding)
{
    if (!isWindows1251(encoding)) {
        QStringDecoder decoder(encoding.constData(), QStringDecoder::Flag::Stateless);
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return decodeWindows1251(bytes);
}

std::optional<QByteArray> encodeLegacy(QStringView text, const QByteArray& encoding)
{
    if (!isWindows1251(encoding)) {
        QStringEncoder encoder(encoding.constData(), QStringEncoder::Flag::Stateless);
        if (encoder.isValid()) {
            QByteArray bytes = encoder.encode(text);
            // Some converters put a substitute in silently; reading back shows it.
            if (encoder.hasError() || decodeLegacy(bytes, encoding) != text)
                return std::nullopt;
            return bytes;
        }
    }
    return encodeWindows1251(text);
}

QString addressProblem(const QString& address)
{
    if (address.trimmed().isEmpty())
        return QStringLiteral("The address is empty.");
    if (address.contains(QChar(0)) || address != address.trimmed())
        return QStringLiteral("\"%1\" holds spaces or control characters; an address cannot.").arg(address.trimmed());
    // What the probe would refuse to send to.
    const hostaddress::HostAddress parsed = hostaddress::parse(address);
    using Form = hostaddress::HostAddress::Form;
    if (parsed.form != Form::Invalid)
        return parsed.form == Form::Name || parsed.oneHost
                   ? QString()
                   : QStringLiteral("%1 is not the address of one host.").arg(address);
    if (address.contains(u':'))
        return QStringLiteral("\"%1\" is not an IPv6 address.").arg(address);
    const QString last = address.section(u'.', -1);
    const bool numeric =
        !last.isEmpty() && std::all_of(last.cbegin(), last.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return numeric ? QStringLiteral("\"%1\" is not an IPv4 address.").arg(address)
                   : QStringLiteral("\"%1\" is neither an IP address nor a host name.").arg(address);
}

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

ParsedHostList parseHostList(QByteArrayView data, const QByteArray& legacyEncoding)
{
    ParsedHostList parsed;
    ScanFailure failure = scan(data, isLegacyText(data), legacyEncoding, [&parsed](HostLine&& entry, const RawLines&) {
        parsed.entries.append(std::move(entry));
    });
    parsed.errorLine = failure.line;
    parsed.errorCause = std::move(failure.cause);
    return parsed;
}

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

namespace {

// The fields of a CSV line: separated by commas, a field in double quotes may hold commas, and
// two double quotes in it stand for one. Nothing for a quote left open or text after a closing one.
std::optional<QStringList> csvFields(QStringView line)
{
    QStringList fields;
    QString field;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        field.clear();
        if (i < n && line[i] == u'"') {
            ++i;
            while (true) {
                if (i >= n)
                    return std::nullopt;
                if (line[i] == u'"') {
                    if (i + 1 < n && line[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            while (i < n && line[i].isSpace())
                ++i;
            if (i < n && line[i] != u',')
                return std::nullopt;
        } else {
            while (i < n && line[i] != u',')
                field += line[i++];
        }
        fields.append(field.trimmed());
        if (i >= n)
            return fields;
        ++i; // the comma
    }
}

// "name,address" as a spreadsheet writes it; nothing when the line is not such a pair with a
// usable address, so that "pc, home 10.0.0.2" is still read as words.
std::optional<HostLine> csvHost(const QString& line)
{
    if (!line.contains(u','))
        return std::nullopt;
    const std::optional<QStringList> fields = csvFields(line);
    if (!fields || fields->size() != 2 || fields->at(1).isEmpty() || !addressProblem(fields->at(1)).isEmpty())
        return std::nullopt;
    return HostLine{3, fields->at(0).isEmpty() ? fields->at(1) : fields->at(0), fields->at(1)};
}

} // namespace

ImportPlan planImport(QStringView text, const QVector<HostLine>& existing)
{
    ImportPlan plan;
    QSet<QString> seen;
    for (const HostLine& e : existing)
        seen.insert(e.address.toLower());
    int number = 0;
    for (QStringView raw : text.split(u'\n')) {
        ++number;
        if (number > MaxEntries)
            break;
        const QString line = raw.trimmed().toString();
        if (line.isEmpty())
            continue;
        const auto reject = [&](const QString& why) { plan.rejected.append({number, line, why}); };
        HostLine entry;
        // A number of any script first and a bar: it looks like a list line.
        const char32_t first = line.size() > 1 && line[0].isHighSurrogate() && line[1].isLowSurrogate()
                                   ? QChar::surrogateToUcs4(line[0], line[1])
                                   : char32_t(line[0].unicode());
        const bool looksListed = QChar::isNumber(first) && line.contains(u'|');
        const std::optional<HostLine> listLine = looksListed ? parseHostLine(line) : std::nullopt;
        // A list line first: its name may hold a comma.
        const std::optional<HostLine> fromCsv = listLine ? std::nullopt : csvHost(line);
        if (fromCsv) {
            entry = *fromCsv;
            if (entry.name.contains(u'|')) {
                reject(QStringLiteral("a name cannot hold \"|\""));
                continue;
            }
        } else if (listLine) {
            entry = *listLine;
            entry.address = entry.address.trimmed();
        } else if (looksListed) {
            // A digit of another script: only 0 to 9 give a type.
            reject(QStringLiteral("a line with \"|\" must start with a type digit 0 to 9"));
            continue;
        } else {
            const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
            entry.type = 3;
            entry.address = words.last();
            entry.name = words.size() > 1 ? words.mid(0, words.size() - 1).join(u' ') : entry.address;
            if (entry.name.contains(u'|')) {
                reject(QStringLiteral("a name cannot hold \"|\""));
                continue;
            }
        }
        if (const QString problem = addressProblem(entry.address); !problem.isEmpty()) {
            reject(problem);
            continue;
        }
        if (seen.contains(entry.address.toLower())) {
            reject(QStringLiteral("%1 is in the list already").arg(entry.address));
            continue;
        }
        seen.insert(entry.address.toLower());
        plan.accepted.append(entry);
    }
    return plan;
}

void AppendHostEntry(const QString& path, int type, const QString& name, const QString& address)
{
    HostListFile(path).append({type, name, address});
}

} // namespace hostlist
