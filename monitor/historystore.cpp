#include "monitor/historystore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <chrono>
#include <limits>
#include <sqlite3.h>
#include <utility>

namespace monitor {

namespace {

constexpr qint64 MinuteMs = 60000;
constexpr qint64 HourMs = 3600000;
// Samples arrive up to a sweep late (they carry the sweep's time); roll up only minutes this old.
constexpr qint64 RollupLagMs = 2 * MinuteMs;
constexpr qint64 MaintainEveryMs = MinuteMs;
constexpr auto CommitEvery = std::chrono::seconds(1);

// SQLite's result codes, as Qt's driver reports them.
const QString SqliteCorrupt = QStringLiteral("11");
const QString SqliteFull = QStringLiteral("13");
const QString SqliteNotADb = QStringLiteral("26");

const char* const Schema[] = {
    "CREATE TABLE IF NOT EXISTS hosts(id INTEGER PRIMARY KEY, name TEXT NOT NULL, address TEXT NOT NULL,"
    " UNIQUE(name, address))",
    "CREATE TABLE IF NOT EXISTS samples(host_id INTEGER NOT NULL, t_ms INTEGER NOT NULL, status INTEGER NOT NULL,"
    " rtt_us INTEGER, PRIMARY KEY(host_id, t_ms)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS minutes(host_id INTEGER NOT NULL, t_ms INTEGER NOT NULL, sent INTEGER NOT NULL,"
    " received INTEGER NOT NULL, min_us INTEGER, avg_us INTEGER, max_us INTEGER, status INTEGER NOT NULL,"
    " PRIMARY KEY(host_id, t_ms)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS hours(host_id INTEGER NOT NULL, t_ms INTEGER NOT NULL, sent INTEGER NOT NULL,"
    " received INTEGER NOT NULL, min_us INTEGER, avg_us INTEGER, max_us INTEGER, status INTEGER NOT NULL,"
    " PRIMARY KEY(host_id, t_ms)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS state_changes(host_id INTEGER NOT NULL, t_ms INTEGER NOT NULL,"
    " state INTEGER NOT NULL, status INTEGER NOT NULL, PRIMARY KEY(host_id, t_ms)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS rollup_state(level TEXT PRIMARY KEY, done_ms INTEGER NOT NULL)",
};

QString hostKey(const QString& name, const QString& address)
{
    return name + QLatin1Char('\n') + address;
}

const char* levelTable(RollupLevel level)
{
    return level == RollupLevel::Minute ? "minutes" : "hours";
}

QString levelName(RollupLevel level)
{
    return level == RollupLevel::Minute ? QStringLiteral("minute") : QStringLiteral("hour");
}

bool exec(QSqlDatabase& db, const char* sql)
{
    QSqlQuery q(db);
    return q.exec(QString::fromLatin1(sql));
}

qint64 scalar(const QSqlDatabase& db, const QString& sql, qint64 otherwise = 0)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next() || q.value(0).isNull())
        return otherwise;
    return q.value(0).toLongLong();
}

// The connection's own SQLite handle, for the write path: a row at a time through QSqlQuery
// costs more than SQLite itself does, and a day of 1,000 hosts is 86 million rows.
sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(v.constData());
}

// A prepared statement, finalized when it goes.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

QSqlDatabase readerDb(const QString& name, const QString& path)
{
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000;QSQLITE_OPEN_READONLY"));
    db.open();
    return db;
}

QVariant rttValue(qint64 us)
{
    return us < 0 ? QVariant(QMetaType(QMetaType::LongLong)) : QVariant(us);
}

} // namespace

std::optional<HistoryLimits> HistoryLimits::of(int rawDays, int minuteDays, int hourDays, int maxMegabytes)
{
    const auto inDays = [](int days) { return days >= 1 && days <= MaxDays; };
    if (!inDays(rawDays) || !inDays(minuteDays) || !inDays(hourDays) || maxMegabytes < MinMegabytes ||
        maxMegabytes > MaxMegabytes)
        return std::nullopt;
    return HistoryLimits{rawDays * Day, minuteDays * Day, hourDays * Day, maxMegabytes * Megabyte};
}

HistoryStore::HistoryStore(const QString& path, HistoryLimits limits, Clock clock, QObject* parent)
    : QObject(parent), m_path(path), m_limits(limits), m_clock(std::move(clock)),
      m_writerName(QStringLiteral("tivane-history-writer-%1").arg(quintptr(this), 0, 16))
{
    m_thread = std::thread([this] { run(); });
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_started; });
}

std::unique_ptr<HistoryStore> HistoryStore::openForReading(const QString& path)
{
    std::unique_ptr<HistoryStore> store(new HistoryStore(ReadOnly{}, path));
    if (!QFileInfo(path).isFile()) {
        store->m_openError = QStringLiteral("there is no such file");
        return store;
    }
    // Read-only and without a writer: a look must not make, change or move anybody's file.
    QSqlQuery q(readerDb(store->readConnection(), path));
    if (q.exec(QStringLiteral("SELECT count(*) FROM hosts")) && q.next() &&
        q.exec(QStringLiteral("SELECT count(*) FROM samples")) && q.next()) {
        store->m_open = true;
    } else {
        const QString why = q.lastError().text();
        store->m_openError = why.trimmed().isEmpty() ? QStringLiteral("it is not a history file") : why;
    }
    return store;
}

HistoryStore::HistoryStore(ReadOnly, const QString& path) : m_path(path) {}

HistoryStore::~HistoryStore()
{
    if (m_thread.joinable()) {
        endSweep();
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    const QString reader = readConnection();
    if (QSqlDatabase::contains(reader))
        QSqlDatabase::removeDatabase(reader);
}

qint64 HistoryStore::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

void HistoryStore::add(const QString& name, const QString& address, qint64 atMs, std::int32_t status, qint64 rttUs)
{
    if (m_open && m_thread.joinable())
        m_local.push_back(Row{name, address, atMs, status, status == 0 ? std::max<qint64>(rttUs, 0) : -1, -1});
}

void HistoryStore::addEvent(const QString& name, const QString& address, const StateEvent& event)
{
    if (m_open && m_thread.joinable())
        m_local.push_back(Row{name, address, event.atMs, event.status, -1, int(event.state)});
}

void HistoryStore::endSweep()
{
    if (m_local.empty())
        return;
    bool dropped = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty())
            m_queue.swap(m_local);
        else
            m_queue.insert(m_queue.end(), std::make_move_iterator(m_local.begin()),
                           std::make_move_iterator(m_local.end()));
        // A writer stuck on its disk must not take the program's memory with it: the oldest
        // outcomes go, as they would on a full disk.
        const std::size_t most = std::size_t(std::max<qint64>(m_limits.maxQueuedRows, 1));
        if (m_queue.size() > most) {
            m_queue.erase(m_queue.begin(), m_queue.begin() + std::ptrdiff_t(m_queue.size() - most));
            dropped = !std::exchange(m_dropped, true);
        }
    }
    m_local.clear();
    m_wake.notify_all();
    if (dropped) {
        Q_EMIT failed(QStringLiteral("writing %1 has fallen more than %2 outcomes behind, so the oldest of them "
                                     "were dropped")
                          .arg(QDir::toNativeSeparators(m_path))
                          .arg(m_limits.maxQueuedRows));
    }
}

void HistoryStore::sync()
{
    endSweep();
    std::unique_lock lock(m_mutex);
    if (!m_open || !m_thread.joinable())
        return;
    const quint64 ticket = ++m_requested;
    m_wake.notify_all();
    m_done.wait(lock, [&] { return m_served >= ticket; });
}

void HistoryStore::maintainNow()
{
    {
        std::lock_guard lock(m_mutex);
        m_maintainAsked = true;
    }
    sync();
}

void HistoryStore::run()
{
    const bool opened = openOnWriter();
    {
        std::lock_guard lock(m_mutex);
        m_open = opened;
        m_started = true;
    }
    m_done.notify_all();
    if (!opened)
        return;

    auto lastCommit = std::chrono::steady_clock::now() - CommitEvery;
    for (;;) {
        bool maintainAsked = false;
        quint64 serving = 0;
        bool stop = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || !m_queue.empty() || m_requested > m_served; });
            // One transaction a second at most: what comes meanwhile joins this one.
            m_wake.wait_until(lock, lastCommit + CommitEvery, [&] { return m_stop || m_requested > m_served; });
            m_writing.swap(m_queue);
            serving = m_requested;
            maintainAsked = std::exchange(m_maintainAsked, false);
            stop = m_stop;
        }
        if (!m_writing.empty()) {
            // Only this thread changes m_writing; readers look at it under the lock.
            const bool wrote = write(m_writing);
            {
                std::lock_guard lock(m_mutex);
                m_writing.clear();
                // Caught up: a queue that overflows again is news again.
                if (wrote)
                    m_dropped = false;
            }
            lastCommit = std::chrono::steady_clock::now();
        }
        const qint64 t = now();
        if (maintainAsked || t - m_lastMaintainMs >= MaintainEveryMs) {
            m_lastMaintainMs = t;
            maintain();
        }
        {
            std::lock_guard lock(m_mutex);
            m_served = serving;
        }
        m_done.notify_all();
        if (stop) {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty())
                break;
        }
    }
    {
        QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_writerName);
}

bool HistoryStore::openOnWriter()
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        m_openError = QStringLiteral("its folder %1 cannot be made").arg(info.absolutePath());
        return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        QString code;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_writerName);
            db.setDatabaseName(m_path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
            if (!db.open()) {
                m_openError = db.lastError().text();
            } else {
                QSqlQuery q(db);
                // The first read finds out whether the file is a database at all.
                bool ok = q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
                if (ok) {
                    ok = exec(db, "PRAGMA auto_vacuum=INCREMENTAL") &&
                         q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && q.next() &&
                         q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0 &&
                         exec(db, "PRAGMA synchronous=NORMAL");
                    for (const char* sql : Schema)
                        ok = ok && exec(db, sql);
                    if (ok)
                        ok = q.exec(QStringLiteral("SELECT count(*) FROM hosts"));
                }
                if (ok) {
                    if (m_movedAside.isEmpty())
                        m_openError.clear();
                    return true;
                }
                const QSqlError e = q.lastError().isValid() ? q.lastError() : db.lastError();
                m_openError = e.text().isEmpty() ? QStringLiteral("it is not a usable database") : e.text();
                if (m_openError.trimmed().isEmpty())
                    m_openError = QStringLiteral("unknown error");
                code = e.nativeErrorCode();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(m_writerName);
        if (attempt > 0 || (code != SqliteCorrupt && code != SqliteNotADb))
            return false;
        // Damaged: kept for whoever wants to look, under a name of its own; a fresh file starts.
        const QString aside = m_path + QStringLiteral(".damaged-") +
                              QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!QFile::rename(m_path, aside)) {
            m_openError += QStringLiteral("; it could not be moved aside");
            return false;
        }
        for (const char* suffix : {"-wal", "-shm"}) {
            const QString side = m_path + QLatin1String(suffix);
            if (QFile::exists(side))
                QFile::rename(side, aside + QLatin1String(suffix));
        }
        m_movedAside = aside;
        m_openError = QStringLiteral("%1 was damaged (%2) and was moved aside to %3; a new history is started")
                          .arg(QDir::toNativeSeparators(m_path), m_openError, QDir::toNativeSeparators(aside));
    }
    return false;
}

qint64 HistoryStore::hostId(const QString& name, const QString& address, bool create)
{
    const QString key = hostKey(name, address);
    const auto it = m_ids.constFind(key);
    if (it != m_ids.constEnd())
        return *it;
    QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM hosts WHERE name = ? AND address = ?"));
    q.addBindValue(name);
    q.addBindValue(address);
    if (q.exec() && q.next()) {
        const qint64 id = q.value(0).toLongLong();
        m_ids.insert(key, id);
        return id;
    }
    if (!create)
        return -1;
    q.prepare(QStringLiteral("INSERT INTO hosts(name, address) VALUES(?, ?)"));
    q.addBindValue(name);
    q.addBindValue(address);
    if (!q.exec())
        return -1;
    const qint64 id = q.lastInsertId().toLongLong();
    // Not cached yet: the transaction may still be rolled back.
    return id;
}

bool HistoryStore::write(const std::vector<Row>& rows)
{
    QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
    sqlite3* handle = sqliteHandle(db);
    QString why;
    QString code;
    bool ok = handle && db.transaction();
    QHash<QString, qint64> made;
    if (ok) {
        // The host of each row once per distinct pair of strings: the caller hands the same
        // shared strings sweep after sweep, and rows alive together never share data by chance.
        QHash<QPair<const void*, const void*>, qint64> byData;
        std::vector<std::pair<qint64, const Row*>> keyed;
        keyed.reserve(rows.size());
        for (const Row& r : rows) {
            const QPair<const void*, const void*> data(r.name.constData(), r.address.constData());
            qint64 id = byData.value(data, -1);
            if (id < 0) {
                const QString key = hostKey(r.name, r.address);
                id = made.value(key, -1);
                if (id < 0) {
                    id = hostId(r.name, r.address, true);
                    if (id < 0) {
                        ok = false;
                        break;
                    }
                    if (!m_ids.contains(key))
                        made.insert(key, id);
                }
                byData.insert(data, id);
            }
            keyed.emplace_back(id, &r);
        }
        // In key order, each host's rows land on the same few pages one after the other. Stable,
        // so that of two rows with the same key the later one still wins.
        std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        // Samples go in a statement of many rows at a time: each step has a cost of its own.
        constexpr int Many = 64;
        QByteArray manySql = "INSERT OR REPLACE INTO samples VALUES(?, ?, ?, ?)";
        for (int i = 1; i < Many; ++i)
            manySql += ", (?, ?, ?, ?)";
        Statement many(handle, manySql.constData());
        Statement sample(handle, "INSERT OR REPLACE INTO samples VALUES(?, ?, ?, ?)");
        Statement event(handle, "INSERT OR REPLACE INTO state_changes VALUES(?, ?, ?, ?)");
        ok = ok && many && sample && event;
        const auto bind = [](sqlite3_stmt* q, int at, qint64 id, const Row& r) {
            sqlite3_bind_int64(q, at + 1, id);
            sqlite3_bind_int64(q, at + 2, r.atMs);
            sqlite3_bind_int64(q, at + 3, r.status);
            if (r.rttUs < 0)
                sqlite3_bind_null(q, at + 4);
            else
                sqlite3_bind_int64(q, at + 4, r.rttUs);
        };
        const auto step = [&ok](sqlite3_stmt* q) {
            ok = sqlite3_step(q) == SQLITE_DONE;
            sqlite3_reset(q);
        };
        std::vector<std::pair<qint64, const Row*>> pending;
        pending.reserve(Many);
        for (const auto& [id, r] : keyed) {
            if (!ok)
                break;
            if (r->state >= 0) {
                sqlite3_stmt* q = event.get();
                sqlite3_bind_int64(q, 1, id);
                sqlite3_bind_int64(q, 2, r->atMs);
                sqlite3_bind_int64(q, 3, r->state);
                sqlite3_bind_int64(q, 4, r->status);
                step(q);
                continue;
            }
            pending.emplace_back(id, r);
            if (int(pending.size()) == Many) {
                for (int i = 0; i < Many; ++i)
                    bind(many.get(), 4 * i, pending[std::size_t(i)].first, *pending[std::size_t(i)].second);
                step(many.get());
                pending.clear();
            }
        }
        for (const auto& [id, r] : pending) {
            if (!ok)
                break;
            bind(sample.get(), 0, id, *r);
            step(sample.get());
        }
        if (!ok && why.isEmpty()) {
            why = QString::fromUtf8(sqlite3_errmsg(handle));
            code = QString::number(sqlite3_errcode(handle) & 0xff);
        }
    }
    if (ok)
        ok = db.commit();
    if (!ok) {
        const QSqlError e = db.lastError();
        // Qt's commit() keeps SQLite's text but not its code: ask SQLite itself, before rollback.
        const bool full = e.nativeErrorCode() == SqliteFull || code == SqliteFull ||
                          (handle && (sqlite3_extended_errcode(handle) & 0xff) == SQLITE_FULL);
        db.rollback();
        if (why.isEmpty())
            why = e.text();
        if (!m_failing) {
            m_failing = true;
            Q_EMIT failed(full
                              ? QStringLiteral("the disk of %1 is full").arg(QDir::toNativeSeparators(m_path))
                              : QStringLiteral("%1 cannot be written (%2)").arg(QDir::toNativeSeparators(m_path), why));
        }
        return false;
    }
    for (auto it = made.constBegin(); it != made.constEnd(); ++it)
        m_ids.insert(it.key(), it.value());
    if (m_failing) {
        m_failing = false;
        Q_EMIT resumed();
    }
    return true;
}

void HistoryStore::maintain()
{
    QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
    const qint64 t = now();
    const qint64 minuteEdge = (t - RollupLagMs) / MinuteMs * MinuteMs;
    const qint64 hourEdge = (minuteEdge - MinuteMs) / HourMs * HourMs;
    if (!db.transaction())
        return;
    rollUp(RollupLevel::Minute, minuteEdge);
    rollUp(RollupLevel::Hour, hourEdge);
    const struct
    {
        const char* table;
        qint64 keep;
    } retention[] = {{"samples", m_limits.rawMs},
                     {"minutes", m_limits.minuteMs},
                     {"hours", m_limits.hourMs},
                     {"state_changes", std::max(m_limits.hourMs, m_limits.rawMs)}};
    // Host by host, each a range of the key: a condition on the time alone reads every row.
    for (const auto& r : retention) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("DELETE FROM %1 WHERE host_id IN (SELECT id FROM hosts) AND t_ms < ?")
                      .arg(QLatin1String(r.table)));
        q.addBindValue(t - r.keep);
        q.exec();
    }
    if (!db.commit()) {
        db.rollback();
        return;
    }
    enforceCap();
}

void HistoryStore::rollUp(RollupLevel level, qint64 upToMs)
{
    QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
    const QString name = levelName(level);
    qint64 from = scalar(db, QStringLiteral("SELECT done_ms FROM rollup_state WHERE level = '%1'").arg(name), -1);
    const qint64 span = level == RollupLevel::Minute ? MinuteMs : HourMs;
    if (from < 0) {
        // The first time: from the oldest row there is.
        const char* source = level == RollupLevel::Minute ? "samples" : "minutes";
        from = scalar(db,
                      QStringLiteral("SELECT min((SELECT min(t_ms) FROM %1 WHERE host_id = hosts.id)) FROM hosts")
                          .arg(QLatin1String(source)),
                      upToMs) /
               span * span;
    }
    if (from >= upToMs)
        return;

    struct Acc
    {
        qint64 sent = 0;
        qint64 received = 0;
        qint64 minUs = -1;
        qint64 maxUs = -1;
        double sumUs = 0;
        QMap<std::int32_t, qint64> statusSeen;
    };
    QMap<QPair<qint64, qint64>, Acc> acc; // (host, start) -> sums
    QPair<qint64, qint64> lastKey(-1, -1);
    Acc* last = nullptr;
    const auto add = [&](qint64 host, qint64 start, std::int32_t status, qint64 sent, qint64 received, qint64 lo,
                         qint64 hi, double sum) {
        const QPair<qint64, qint64> key(host, start);
        if (!last || key != lastKey) {
            last = &acc[key];
            lastKey = key;
        }
        Acc& a = *last;
        a.sent += sent;
        a.received += received;
        a.statusSeen[status] += sent;
        if (received > 0) {
            a.minUs = a.minUs < 0 ? lo : std::min(a.minUs, lo);
            a.maxUs = std::max(a.maxUs, hi);
            a.sumUs += sum;
        }
    };
    if (level == RollupLevel::Minute) {
        // Row by row, in key order, summed here: SQLite would sort every row to group them, and
        // a minute's rows of each host come one after the other anyway.
        sqlite3* handle = sqliteHandle(db);
        if (!handle)
            return;
        Statement q(handle, "SELECT host_id, t_ms, status, rtt_us FROM samples"
                            " WHERE host_id IN (SELECT id FROM hosts) AND t_ms >= ? AND t_ms < ?");
        if (!q)
            return;
        sqlite3_bind_int64(q.get(), 1, from);
        sqlite3_bind_int64(q.get(), 2, upToMs);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
            const bool replied = sqlite3_column_type(q.get(), 3) != SQLITE_NULL;
            const qint64 rtt = replied ? sqlite3_column_int64(q.get(), 3) : -1;
            add(sqlite3_column_int64(q.get(), 0), sqlite3_column_int64(q.get(), 1) / MinuteMs * MinuteMs,
                std::int32_t(sqlite3_column_int(q.get(), 2)), 1, replied ? 1 : 0, rtt, rtt, double(rtt));
        }
        if (rc != SQLITE_DONE)
            return;
    } else {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT host_id, t_ms / 3600000 * 3600000, status, sum(sent), sum(received),"
                           " min(min_us), max(max_us), total(avg_us * received) FROM minutes"
                           " WHERE host_id IN (SELECT id FROM hosts) AND t_ms >= ? AND t_ms < ? GROUP BY 1, 2, 3"));
        q.addBindValue(from);
        q.addBindValue(upToMs);
        if (!q.exec())
            return;
        while (q.next()) {
            add(q.value(0).toLongLong(), q.value(1).toLongLong(), std::int32_t(q.value(2).toInt()),
                q.value(3).toLongLong(), q.value(4).toLongLong(), q.value(5).toLongLong(), q.value(6).toLongLong(),
                q.value(7).toDouble());
        }
    }
    QSqlQuery ins(db);
    ins.prepare(QStringLiteral("INSERT OR REPLACE INTO %1 VALUES(?, ?, ?, ?, ?, ?, ?, ?)")
                    .arg(QLatin1String(levelTable(level))));
    for (auto it = acc.constBegin(); it != acc.constEnd(); ++it) {
        const Acc& a = it.value();
        std::int32_t most = 0;
        qint64 mostSeen = -1;
        for (auto s = a.statusSeen.constBegin(); s != a.statusSeen.constEnd(); ++s) {
            if (s.value() > mostSeen) {
                most = s.key();
                mostSeen = s.value();
            }
        }
        ins.bindValue(0, it.key().first);
        ins.bindValue(1, it.key().second);
        ins.bindValue(2, a.sent);
        ins.bindValue(3, a.received);
        ins.bindValue(4, rttValue(a.minUs));
        ins.bindValue(5, rttValue(a.received > 0 ? qint64(a.sumUs / double(a.received) + 0.5) : -1));
        ins.bindValue(6, rttValue(a.maxUs));
        ins.bindValue(7, most);
        ins.exec();
    }
    QSqlQuery done(db);
    done.prepare(QStringLiteral("INSERT OR REPLACE INTO rollup_state VALUES(?, ?)"));
    done.addBindValue(name);
    done.addBindValue(upToMs / span * span);
    done.exec();
}

void HistoryStore::enforceCap()
{
    QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
    const auto used = [&] {
        return scalar(db, QStringLiteral("SELECT (SELECT page_count FROM pragma_page_count()) -"
                                         " (SELECT freelist_count FROM pragma_freelist_count())")) *
               scalar(db, QStringLiteral("PRAGMA page_size"));
    };
    // Oldest first, raw samples before roll-ups: a slice of the oldest tenth at a time.
    for (const char* table : {"samples", "minutes", "hours"}) {
        for (int round = 0; round < 64 && used() > m_limits.maxBytes; ++round) {
            const QString t = QLatin1String(table);
            // Each host's ends are a seek in the key; the table's are a read of every row.
            const qint64 lo = scalar(
                db, QStringLiteral("SELECT min((SELECT min(t_ms) FROM %1 WHERE host_id = hosts.id)) FROM hosts").arg(t),
                -1);
            if (lo < 0)
                break;
            const qint64 hi = scalar(
                db, QStringLiteral("SELECT max((SELECT max(t_ms) FROM %1 WHERE host_id = hosts.id)) FROM hosts").arg(t),
                lo);
            const qint64 cut = lo + std::max<qint64>(1, (hi - lo) / 10);
            // What goes must be in the next level first, even before its time: otherwise the cap
            // would take samples no minute ever held.
            if (t != QLatin1String("hours") && db.transaction()) {
                const RollupLevel next = t == QLatin1String("samples") ? RollupLevel::Minute : RollupLevel::Hour;
                const qint64 span = next == RollupLevel::Minute ? MinuteMs : HourMs;
                rollUp(next, (cut + span - 1) / span * span);
                if (!db.commit())
                    db.rollback();
            }
            QSqlQuery q(db);
            q.prepare(QStringLiteral("DELETE FROM %1 WHERE host_id IN (SELECT id FROM hosts) AND t_ms < ?").arg(t));
            q.addBindValue(cut);
            q.exec();
        }
    }
    exec(db, "PRAGMA incremental_vacuum");
}

QString HistoryStore::readConnection() const
{
    return QStringLiteral("tivane-history-reader-%1").arg(quintptr(this), 0, 16);
}

qint64 HistoryStore::readHostId(const QString& name, const QString& address) const
{
    if (!m_open)
        return -1;
    QSqlDatabase db = readerDb(readConnection(), m_path);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM hosts WHERE name = ? AND address = ?"));
    q.addBindValue(name);
    q.addBindValue(address);
    return q.exec() && q.next() ? q.value(0).toLongLong() : -1;
}

QVector<QPair<QString, QString>> HistoryStore::hosts() const
{
    QVector<QPair<QString, QString>> out;
    if (!m_open)
        return out;
    QSqlQuery q(readerDb(readConnection(), m_path));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT name, address FROM hosts ORDER BY name, address")))
        return out;
    while (q.next())
        out.append({q.value(0).toString(), q.value(1).toString()});
    return out;
}

HistoryStore::Pending HistoryStore::pending(const QString& name, const QString& address, qint64 fromMs,
                                            qint64 toMs) const
{
    Pending out;
    const auto take = [&](const std::vector<Row>& rows) {
        for (const Row& r : rows) {
            if (r.atMs < fromMs || r.atMs >= toMs || r.address != address || r.name != name)
                continue;
            if (r.state < 0)
                out.points.append(HistoryPoint{r.atMs, sampleKind(r.status), r.rttUs});
            else
                out.events.append(StateEvent{r.atMs, HostState(r.state), r.status});
        }
    };
    {
        std::lock_guard lock(m_mutex);
        take(m_writing);
        take(m_queue);
    }
    take(m_local);
    const auto byTime = [](const auto& a, const auto& b) { return a.atMs < b.atMs; };
    std::stable_sort(out.points.begin(), out.points.end(), byTime);
    std::stable_sort(out.events.begin(), out.events.end(), byTime);
    return out;
}

namespace {

// Rows on disk and rows not yet there, as one: a time is in the file once per host (a later row
// of the same time replaces the earlier), so the rows not written yet win.
template <typename T> void mergeNewer(QVector<T>& onDisk, QVector<T> newer)
{
    if (newer.isEmpty())
        return;
    if (onDisk.isEmpty() || onDisk.last().atMs < newer.first().atMs) {
        onDisk += newer;
        return;
    }
    newer += onDisk;
    std::stable_sort(newer.begin(), newer.end(), [](const T& a, const T& b) { return a.atMs < b.atMs; });
    newer.erase(std::unique(newer.begin(), newer.end(), [](const T& a, const T& b) { return a.atMs == b.atMs; }),
                newer.end());
    onDisk = std::move(newer);
}

} // namespace

namespace {

// One row of a result, as the readers take it.
struct Columns
{
    sqlite3_stmt* q;
    qint64 at(int i) const { return sqlite3_column_int64(q, i); }
    qint64 usOrNone(int i) const { return sqlite3_column_type(q, i) == SQLITE_NULL ? -1 : at(i); }
};

} // namespace

// Every read of a host's rows in [fromMs, toMs): the columns asked for, oldest first; each row
// made by make. Straight through SQLite: a History window reads 21,600 rows for six hours after
// every sweep, and a QVariant a value would cost more than the reading.
template <typename T, typename Make>
QVector<T> HistoryStore::hostRows(const char* columns, const char* table, qint64 id, qint64 fromMs, qint64 toMs,
                                  Make make) const
{
    QVector<T> out;
    if (id < 0 || fromMs >= toMs)
        return out;
    sqlite3* handle = sqliteHandle(readerDb(readConnection(), m_path));
    if (!handle)
        return out;
    const QByteArray sql = QByteArray("SELECT ") + columns + " FROM " + table +
                           " WHERE host_id = ? AND t_ms >= ? AND t_ms < ? ORDER BY t_ms";
    Statement q(handle, sql.constData());
    if (!q)
        return out;
    sqlite3_bind_int64(q.get(), 1, id);
    sqlite3_bind_int64(q.get(), 2, fromMs);
    sqlite3_bind_int64(q.get(), 3, toMs);
    const Columns row{q.get()};
    while (sqlite3_step(q.get()) == SQLITE_ROW)
        out.append(make(row));
    return out;
}

QVector<HistoryPoint> HistoryStore::querySamples(qint64 id, qint64 fromMs, qint64 toMs) const
{
    return hostRows<HistoryPoint>("t_ms, status, rtt_us", "samples", id, fromMs, toMs, [](const Columns& c) {
        const auto status = std::int32_t(c.at(1));
        return HistoryPoint{c.at(0), sampleKind(status), status == 0 ? c.usOrNone(2) : -1};
    });
}

QVector<HistoryRollup> HistoryStore::queryRollups(qint64 id, RollupLevel level, qint64 fromMs, qint64 toMs) const
{
    const qint64 span = level == RollupLevel::Minute ? MinuteMs : HourMs;
    return hostRows<HistoryRollup>("t_ms, sent, received, min_us, avg_us, max_us, status", levelTable(level), id,
                                   fromMs, toMs, [span](const Columns& c) {
                                       return HistoryRollup{
                                           c.at(0),       span,          c.at(1),       c.at(2),
                                           c.usOrNone(3), c.usOrNone(4), c.usOrNone(5), std::int32_t(c.at(6))};
                                   });
}

QVector<StateEvent> HistoryStore::queryEvents(qint64 id, qint64 fromMs, qint64 toMs) const
{
    return hostRows<StateEvent>("t_ms, state, status", "state_changes", id, fromMs, toMs, [](const Columns& c) {
        return StateEvent{c.at(0), HostState(c.at(1)), std::int32_t(c.at(2))};
    });
}

// The rows not on disk yet are taken before the file is read: a row written meanwhile is then
// found twice, and merged, rather than not at all.
QVector<HistoryPoint> HistoryStore::samples(const QString& name, const QString& address, qint64 fromMs,
                                            qint64 toMs) const
{
    if (!m_open)
        return {};
    Pending newer = pending(name, address, fromMs, toMs);
    QVector<HistoryPoint> out = querySamples(readHostId(name, address), fromMs, toMs);
    mergeNewer(out, std::move(newer.points));
    return out;
}

QVector<HistoryRollup> HistoryStore::rollups(const QString& name, const QString& address, RollupLevel level,
                                             qint64 fromMs, qint64 toMs) const
{
    return queryRollups(readHostId(name, address), level, fromMs, toMs);
}

QVector<StateEvent> HistoryStore::events(const QString& name, const QString& address, qint64 fromMs, qint64 toMs) const
{
    if (!m_open)
        return {};
    Pending newer = pending(name, address, fromMs, toMs);
    QVector<StateEvent> out = queryEvents(readHostId(name, address), fromMs, toMs);
    mergeNewer(out, std::move(newer.events));
    return out;
}

HistorySlice HistoryStore::slice(const QString& name, const QString& address, qint64 fromMs, qint64 toMs) const
{
    HistorySlice out;
    if (!m_open || fromMs >= toMs)
        return out;
    Pending newer = pending(name, address, fromMs, toMs);
    const qint64 id = readHostId(name, address);
    const qint64 span = toMs - fromMs;
    const qint64 minuteDone = rolledUpTo(RollupLevel::Minute);
    const qint64 hourDone = rolledUpTo(RollupLevel::Hour);
    const qint64 rawSince = oldestSampleOf(id);
    // Raw samples gone from the start of the span (retention, the size cap) leave roll-ups there.
    const bool rawCovers =
        rawSince <= fromMs ||
        queryRollups(id, RollupLevel::Minute, fromMs, std::min(rawSince / MinuteMs * MinuteMs, toMs)).isEmpty();
    qint64 rawFrom = fromMs;
    if (span > RawSpanMs || !rawCovers) {
        rawFrom = std::clamp(minuteDone, fromMs, toMs);
        if (span > MinuteSpanMs) {
            const qint64 hoursTo = std::clamp(hourDone, fromMs, toMs);
            out.rollups = queryRollups(id, RollupLevel::Hour, fromMs, hoursTo);
            out.rollups += queryRollups(id, RollupLevel::Minute, hoursTo, rawFrom);
        } else {
            out.rollups = queryRollups(id, RollupLevel::Minute, fromMs, rawFrom);
        }
    }
    out.points = querySamples(id, rawFrom, toMs);
    newer.points.erase(std::remove_if(newer.points.begin(), newer.points.end(),
                                      [&](const HistoryPoint& p) { return p.atMs < rawFrom; }),
                       newer.points.end());
    mergeNewer(out.points, std::move(newer.points));
    out.events = queryEvents(id, fromMs, toMs);
    mergeNewer(out.events, std::move(newer.events));
    return out;
}

qint64 HistoryStore::oldestSample(const QString& name, const QString& address) const
{
    return oldestSampleOf(readHostId(name, address));
}

qint64 HistoryStore::oldestSampleOf(qint64 id) const
{
    const qint64 none = std::numeric_limits<qint64>::max();
    if (id < 0)
        return none;
    return scalar(readerDb(readConnection(), m_path),
                  QStringLiteral("SELECT min(t_ms) FROM samples WHERE host_id = %1").arg(id), none);
}

qint64 HistoryStore::rolledUpTo(RollupLevel level) const
{
    if (!m_open)
        return 0;
    return scalar(readerDb(readConnection(), m_path),
                  QStringLiteral("SELECT done_ms FROM rollup_state WHERE level = '%1'").arg(levelName(level)));
}

qint64 HistoryStore::usedBytes() const
{
    if (!m_open)
        return 0;
    const QSqlDatabase db = readerDb(readConnection(), m_path);
    return scalar(db, QStringLiteral("SELECT (SELECT page_count FROM pragma_page_count()) -"
                                     " (SELECT freelist_count FROM pragma_freelist_count())")) *
           scalar(db, QStringLiteral("PRAGMA page_size"));
}

} // namespace monitor
