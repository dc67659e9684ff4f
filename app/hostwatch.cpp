#include "app/hostwatch.h"

#include "monitor/csvexport.h"
#include "monitor/outagelog.h"
#include "monitor/sweep.h"
#include "platform/soundplayer.h"
#include "resources/artwork.h"
#include "shell/mdlmore.h"

#include <QDateTime>
#include <QDir>
#include <QFontMetrics>
#include <QHeaderView>

using monitor::HostState;
using monitor::StatColumn;

HostWatch::HostWatch(platform::ReportList& list, Sweep& sweep, Services services, QObject* parent)
    : QObject(parent), m_list(list), m_sweep(sweep), m_services(std::move(services))
{
    m_countingSinceMs = now();
    m_columns = monitor::defaultStatColumns();
    // The state leads, so that a host that is down is seen without reading the other columns.
    m_columns.prepend(StatColumn::State);
    m_upIcon = QIcon(artwork::trayBadgePath(artwork::TrayAllUp));
    m_downIcon = QIcon(artwork::trayBadgePath(artwork::TraySomeDown));
    m_degradedIcon = QIcon(artwork::trayBadgePath(artwork::TraySomeDegraded));

    platform::ReportListModel* model = m_list.items();
    model->setExtraColumns(this);
    // Wide enough for what the columns usually hold, so that they fit beside the list's own
    // four in a window of the usual size.
    const QFontMetrics fm = m_list.fontMetrics();
    for (int c = 0; c < m_columns.size(); ++c) {
        QString sample;
        switch (m_columns.at(c)) {
        case StatColumn::State:
            sample = QStringLiteral("Degraded") + QStringLiteral("MMM"); // and the badge
            break;
        case StatColumn::Sent:
        case StatColumn::Received:
            sample = QStringLiteral("99999");
            break;
        case StatColumn::Loss:
        case StatColumn::RecentLoss:
            sample = QStringLiteral("33.3%");
            break;
        case StatColumn::Since:
            sample = QStringLiteral("00:00:00");
            break;
        default:
            sample = QStringLiteral("< 0.01 ms");
            break;
        }
        const int text = std::max(fm.horizontalAdvance(sample), fm.horizontalAdvance(extraHeader(c)));
        m_list.setColumnWidth(FirstColumn + c, text + 2 * fm.averageCharWidth() + 4);
    }
    connect(model, &QAbstractItemModel::modelReset, this, &HostWatch::followAll);
    connect(&m_hook, &monitor::CommandHook::problem, this, &HostWatch::onCommandProblem);
    connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        follow(first + 1, last + 1);
        refreshOverall();
    });
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { forget(first + 1, last + 1); });
    // A row's name or address set after it was added (Add, then the sub-item).
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                // The tray counts the ticked hosts only.
                if (roles.contains(Qt::CheckStateRole))
                    refreshOverall();
                if (from.column() > 1 || (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)))
                    return;
                follow(from.row() + 1, to.row() + 1);
            });
    // Times of another day are shown with their date: at midnight every such time changes.
    m_midnight.setSingleShot(true);
    connect(&m_midnight, &QTimer::timeout, this, [this] {
        m_list.items()->extraChanged(0);
        armMidnight();
    });
    armMidnight();
    connect(&sweep, &Sweep::entryFinished, this, &HostWatch::onEntryFinished);
    connect(&sweep, &Sweep::sweepFinished, this, &HostWatch::flush);
    connect(&sweep, &Sweep::runStarted, this, [this] { logMonitoring(OutageLog::Monitoring::Started); });
    connect(&sweep, &Sweep::runEnded, this, [this] { logMonitoring(OutageLog::Monitoring::Stopped); });
    followAll();
}

HostWatch::~HostWatch()
{
    m_list.items()->setExtraColumns(nullptr);
}

int HostWatch::msToNextDay() const
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(this->now(), monitor::localZone());
    const QDateTime next(now.date().addDays(1), QTime(0, 0), monitor::localZone());
    // A little past midnight, so that the clock has surely turned when the texts are made.
    constexpr qint64 Day = 24 * 3600 * 1000;
    return int(std::clamp<qint64>(now.msecsTo(next) + 500, 500, Day));
}

void HostWatch::armMidnight()
{
    m_midnight.start(msToNextDay());
}

qint64 HostWatch::now() const
{
    return m_services.now ? m_services.now() : QDateTime::currentMSecsSinceEpoch();
}

QColor HostWatch::downTint()
{
    return QColor(230, 40, 40, 90);
}

// Half transparent like the red, so the text stays readable on light and dark palettes.
QColor HostWatch::degradedTint()
{
    return QColor(240, 163, 10, 100);
}

quint64 HostWatch::keyAt(int row) const
{
    const platform::ReportListModel* model = m_list.items();
    return row >= 1 && row <= model->count() ? model->row(row).key : 0;
}

void HostWatch::follow(int first, int last)
{
    const platform::ReportListModel* model = m_list.items();
    last = std::min(last, model->count());
    for (int i = std::max(first, 1); i <= last; ++i) {
        const platform::ReportListModel::Row& r = model->row(i);
        if (r.key == 0)
            continue;
        // A rename keeps the statistics; another address starts afresh.
        const monitor::HostStats* s = m_monitor.stats(r.key);
        if (!s || s->name != r.text || s->address != r.sub[0])
            m_monitor.setEntry(r.key, r.text, r.sub[0]);
    }
}

void HostWatch::forget(int first, int last)
{
    const platform::ReportListModel* model = m_list.items();
    last = std::min(last, model->count());
    for (int i = std::max(first, 1); i <= last; ++i) {
        if (const quint64 key = model->row(i).key)
            m_monitor.removeEntry(key);
    }
    // Only once the rows are gone do the counts add up again.
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshOverall();
            Q_EMIT recorded();
        },
        Qt::QueuedConnection);
}

void HostWatch::followAll()
{
    m_countingSinceMs = now();
    m_monitor.clear();
    follow(1, m_list.items()->count());
    refreshOverall();
    Q_EMIT recorded();
}

void HostWatch::setStatisticsShown(bool on)
{
    m_shown = on;
    applyShown();
}

void HostWatch::applyShown()
{
    for (int c = 0; c < extraColumnCount(); ++c)
        m_list.setColumnHidden(FirstColumn + c, !m_shown);
}

void HostWatch::resetStatistics()
{
    m_countingSinceMs = now();
    m_monitor.resetStatistics();
    m_list.items()->extraChanged(0);
    refreshOverall();
    Q_EMIT recorded();
}

void HostWatch::setDownAfter(int failures)
{
    m_monitor.setDownAfter(failures);
}

void HostWatch::setRules(const monitor::AlertRules& rules)
{
    m_monitor.setRules(rules);
}

void HostWatch::setAlertCommand(bool run, const QString& commandLine)
{
    m_runCommand = run;
    m_commandLine = commandLine;
    m_hook.setCommand(run ? commandLine : QString());
}

void HostWatch::onCommandProblem(const QString& why)
{
    if (!m_logPath.isEmpty())
        logResult(OutageLog(m_logPath).appendCommandProblem(why, now()));
    Q_EMIT commandFailed(why);
}

void HostWatch::onEntryFinished(int row, quint64 key, std::int32_t status, qint64 rttUs, qint64 atMs)
{
    if (key == 0)
        return;
    if (!m_monitor.contains(key))
        follow(row, row);
    if (m_monitor.record(key, status, rttUs, atMs)) {
        m_list.items()->extraChanged(row);
        if (m_store) {
            const monitor::HostStats* s = m_monitor.stats(key);
            m_store->add(s->name, s->address, atMs, status, rttUs);
        }
    }
    // The outcome of a probe still in flight when its sweep was stopped: the sweep has already
    // ended, so no end is coming to tell its change.
    if (!m_sweep.isRunning() && m_monitor.hasPendingChanges())
        flush();
}

void HostWatch::openHistory(const QString& path)
{
    if (m_store && m_store->path() == path && m_store->limits() == m_limits)
        return;
    m_store.reset();
    m_store = std::make_unique<monitor::HistoryStore>(path, m_limits);
    connect(m_store.get(), &monitor::HistoryStore::failed, this, [this](const QString& why) {
        Q_EMIT historyFailed(QStringLiteral("History is not being written: %1. Monitoring goes on, and history "
                                            "is written again as soon as it can be.")
                                 .arg(why));
    });
    if (!m_store->isOpen()) {
        Q_EMIT historyFailed(QStringLiteral("History is off: %1 cannot be opened (%2). Monitoring goes on without it.")
                                 .arg(QDir::toNativeSeparators(path), m_store->openError()));
    } else if (!m_store->movedAsideTo().isEmpty()) {
        Q_EMIT historyFailed(m_store->openError() + QLatin1Char('.'));
    }
}

QString HostWatch::historyOff() const
{
    if (!m_store)
        return QStringLiteral("No history is kept for this list.");
    if (!m_store->isOpen()) {
        return QStringLiteral("History is off: %1 cannot be opened (%2).")
            .arg(QDir::toNativeSeparators(m_store->path()), m_store->openError());
    }
    return {};
}

void HostWatch::flush()
{
    const QVector<monitor::StateChange> changes = m_monitor.endSweep();
    if (m_store) {
        for (const monitor::StateChange& c : changes)
            m_store->addEvent(c.name, c.address, monitor::StateEvent{c.sinceMs, c.to, c.status});
        m_store->endSweep();
    }
    if (!changes.isEmpty()) {
        refreshOverall();
        const monitor::Notification note = monitor::describeChanges(changes, now());
        if (!note.isEmpty()) {
            const bool toldEach = m_services.notifyEach && m_services.notifyEach(changes);
            if (!toldEach && m_services.notify)
                m_services.notify(note);
            if (m_services.sound && m_services.soundOn && m_services.soundOn() && m_services.soundFile) {
                const char* file =
                    note.cue() == monitor::Notification::Cue::WentDown ? monitor::DownSoundFile : monitor::UpSoundFile;
                m_services.sound->play(m_services.soundFile(QString::fromLatin1(file)));
            }
            Q_EMIT told(note);
        }
        if (!m_logPath.isEmpty())
            logResult(OutageLog(m_logPath).append(changes));
        m_hook.changed(changes, &m_monitor);
    }
    Q_EMIT recorded();
}

void HostWatch::logMonitoring(OutageLog::Monitoring what)
{
    if (!m_logPath.isEmpty())
        logResult(OutageLog(m_logPath).appendMonitoring(what, now()));
}

void HostWatch::logResult(const QString& why)
{
    if (why.isEmpty()) {
        m_logBroken = false;
    } else if (!m_logBroken) {
        m_logBroken = true;
        Q_EMIT logFailed(why);
    }
}

void HostWatch::refreshOverall()
{
    if (!m_services.showOverall)
        return;
    QSet<quint64> ticked;
    const platform::ReportListModel* model = m_list.items();
    for (int i = 1; i <= model->count(); ++i) {
        if (model->row(i).checked && model->row(i).key != 0)
            ticked.insert(model->row(i).key);
    }
    int image = artwork::TrayNoneProbed;
    switch (m_monitor.overall(ticked)) {
    case monitor::Overall::NoneProbed:
        image = artwork::TrayNoneProbed;
        break;
    case monitor::Overall::AllUp:
        image = artwork::TrayAllUp;
        break;
    case monitor::Overall::SomeDegraded:
        image = artwork::TraySomeDegraded;
        break;
    case monitor::Overall::SomeDown:
        image = artwork::TraySomeDown;
        break;
    }
    // Under its theme name as well, where installed, for tray hosts that draw icons by name.
    m_services.showOverall(mdlMore::namedIcon(artwork::trayIcon(image), artwork::trayIconName(image)),
                           m_monitor.trayToolTip(ticked));
}

QByteArray HostWatch::csvOf(const QVector<int>& rows) const
{
    const platform::ReportListModel* model = m_list.items();
    QList<QStringList> lines;
    QStringList header;
    for (int c = 0; c < FirstColumn; ++c)
        header.append(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    header += csv::statisticsHeader();
    lines.append(header);
    for (const int i : rows) {
        if (i < 1 || i > model->count())
            continue;
        const platform::ReportListModel::Row& r = model->row(i);
        QStringList fields{r.text};
        for (const QString& sub : r.sub)
            fields.append(sub);
        fields += csv::statisticsFields(r.key ? m_monitor.stats(r.key) : nullptr);
        lines.append(fields);
    }
    return csv::document(lines);
}

int HostWatch::extraColumnCount() const
{
    return int(m_columns.size());
}

QString HostWatch::extraHeader(int column) const
{
    return column >= 0 && column < m_columns.size() ? monitor::statHeader(m_columns.at(column)) : QString();
}

QVariant HostWatch::extraData(quint64 key, int column, int role) const
{
    if (column < 0 || column >= m_columns.size())
        return {};
    const monitor::HostStats* s = key ? m_monitor.stats(key) : nullptr;
    if (!s)
        return {};
    const StatColumn c = m_columns.at(column);
    switch (role) {
    case Qt::DisplayRole:
        return monitor::statText(*s, c, now());
    case Qt::DecorationRole:
        if (c != StatColumn::State || s->state == HostState::Unknown)
            return {};
        return s->state == HostState::Down ? m_downIcon : s->state == HostState::Degraded ? m_degradedIcon : m_upIcon;
    case Qt::BackgroundRole:
        return rowData(key, role);
    default:
        return {};
    }
}

double HostWatch::extraSortKey(quint64 key, int column) const
{
    const monitor::HostStats* s = key ? m_monitor.stats(key) : nullptr;
    if (!s || column < 0 || column >= m_columns.size())
        return -1;
    return monitor::statSortKey(*s, m_columns.at(column));
}

QVariant HostWatch::rowData(quint64 key, int role) const
{
    const monitor::HostStats* s = key ? m_monitor.stats(key) : nullptr;
    if (!s)
        return {};
    if (role == Qt::BackgroundRole)
        return s->state == HostState::Down       ? QVariant(downTint())
               : s->state == HostState::Degraded ? QVariant(degradedTint())
                                                 : QVariant();
    if (role == Qt::ToolTipRole && m_shown)
        return monitor::statToolTip(*s, now());
    return {};
}
