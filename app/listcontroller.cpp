#include "app/listcontroller.h"

#include "app/mainservices.h"
#include "app/windowsettings.h"
#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "platform/messagebox.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "resources/examplelist.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QWidget>
#include <utility>

ListController::ListController(QWidget& window, const MainServices& services, platform::ReportList& rows,
                               const platform::ImageList& pictures, QString& path, hostlist::HostListFile& file,
                               Hooks hooks)
    : m_window(window), m_services(services), m_rows(rows), m_pictures(pictures), m_path(path), m_file(file),
      m_hooks(std::move(hooks))
{
}

ListLocation ListController::locate()
{
    const ListLocation where = locateHostList(m_services.app.Path, m_services.listFolder, examplelist::bytes());
    m_path = where.path;
    m_file = hostlist::HostListFile(m_path);
    return where;
}

void ListController::load(const ListLocation& where)
{
    // A list that is not UTF-8 is read in this code page ([List] LegacyEncoding, Windows-1251 when
    // unset). Only a plain name is taken from the settings file.
    const QString encoding =
        m_services.settings.read(QStringLiteral("List"), QStringLiteral("LegacyEncoding"), QString()).trimmed();
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_.:-]{1,40}$"));
    if (plainName.match(encoding).hasMatch())
        m_file.setLegacyEncoding(encoding.toLatin1());
    const QString& path = m_path;
    if (where.origin == ListLocation::Unavailable) {
        applyHideUnselected();
        m_services.messages.show(where.problem +
                                     QStringLiteral("\n\nNo file was changed. Make the folder writable, or put a "
                                                    "list.txt beside the program in %1, then choose Reload under "
                                                    "IP List.")
                                         .arg(QDir::toNativeSeparators(m_services.app.Path)),
                                 platform::MsgExclamation, m_services.app.Title);
        return;
    }
    QString failure;
    rememberTicks();
    try {
        hostlist::LoadList(m_rows, m_file);
    } catch (const hostlist::HostListError& e) {
        failure = e.message();
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("The host list %1 is too large to be held in memory.").arg(path);
    } catch (const std::exception& e) {
        failure =
            QStringLiteral("The host list %1 could not be loaded: %2").arg(path, QString::fromLocal8Bit(e.what()));
    }
    applyTicks();
    applyHideUnselected();
    if (!failure.isEmpty()) {
        m_services.messages.show(failure, platform::MsgOkOnly, m_services.app.Title);
    } else if (where.origin == ListLocation::CreatedFromExample) {
        // Told over the window, once it is on the screen, not on an empty desktop before it.
        m_firstNotice =
            QStringLiteral("Your host list is new: %1\n\nIt starts with the example hosts. Add your own with "
                           "Add IP under IP List, or edit the file; Open List Folder under IP List shows where "
                           "it is.")
                .arg(QDir::toNativeSeparators(path));
        if (m_window.isVisible())
            tellFirstNotice();
    }
}

void ListController::tellFirstNotice()
{
    if (m_firstNotice.isEmpty() || m_hooks.ended() || !m_window.isVisible())
        return;
    m_services.messages.show(std::exchange(m_firstNotice, QString()), platform::MsgInformation, m_services.app.Title);
}

void ListController::rememberTicks()
{
    // An empty list (none loaded yet, or it failed) says nothing about the ticks; keep the last.
    if (m_rows.count() == 0)
        return;
    QVector<std::pair<QString, bool>> shown;
    shown.reserve(m_rows.count());
    for (int i = 1; i <= m_rows.count(); ++i)
        shown.append({WindowSettings::entryIdentity(m_rows.text(i), m_rows.subText(i, 1)), m_rows.isChecked(i)});
    m_unticked = WindowSettings::keepUnticked(m_unticked, shown);
}

void ListController::applyTicks()
{
    if (m_unticked.isEmpty())
        return;
    const QSet<QString> unticked(m_unticked.cbegin(), m_unticked.cend());
    m_applyingTicks = true;
    const auto done = qScopeGuard([this] { m_applyingTicks = false; });
    for (int i = 1; i <= m_rows.count(); ++i) {
        if (unticked.contains(WindowSettings::entryIdentity(m_rows.text(i), m_rows.subText(i, 1))))
            m_rows.setChecked(i, false);
    }
}

void ListController::dataChanged(const QList<int>& roles)
{
    if (m_hooks.hideUnselected() && roles.contains(Qt::CheckStateRole))
        applyHideUnselected();
    // Noted at once: a Reload empties the list before it loads it again.
    if (roles.contains(Qt::CheckStateRole) && !m_applyingTicks)
        rememberTicks();
}

void ListController::applyHideUnselected()
{
    const bool hideUnticked = m_hooks.hideUnselected();
    const int n = m_rows.count();
    for (int i = 1; i <= n; ++i) {
        const bool hide = hideUnticked && !m_rows.isChecked(i);
        if (m_rows.isRowHiddenAt(i) != hide)
            m_rows.setRowHiddenAt(i, hide);
    }
}

void ListController::openFolder()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!m_services.dialogs.openFolder(folder))
        m_services.messages.show(QStringLiteral("The host list is %1\n\nNo file manager could be opened to show "
                                                "its folder.")
                                     .arg(QDir::toNativeSeparators(m_path)),
                                 platform::MsgInformation, m_services.app.Title);
}

void ListController::insert()
{
    if (m_hooks.ended())
        return;
    const std::optional<hostlist::KeyedHostLine> added = m_services.dialogs.insertEntry(&m_window, m_file, m_pictures);
    if (!added || m_hooks.ended())
        return;
    // Shown at once and ticked, at the end: a running sweep has its rows counted already and
    // leaves it for the next one, and reloading here would end the sweep.
    platform::ReportListModel::Row row;
    row.key = added->key;
    row.text = added->host.name;
    row.smallIcon = added->host.type;
    row.checked = true;
    row.sub[0] = added->host.address;
    m_rows.items()->append({row});
    m_rows.select(m_rows.count());
    m_rows.ensureVisible(m_rows.count());
    m_hooks.rowsChanged();
}

void ListController::edit(QString& name, QString& address)
{
    if (m_hooks.ended())
        return;
    const int row = m_rows.selectedIndex();
    const int type = row > 0 ? m_rows.smallIcon(row) : 0;
    const quint64 key = row > 0 ? m_rows.items()->row(row).key : 0;
    const std::optional<hostlist::HostLine> stored =
        m_services.dialogs.showEntry(&m_window, m_file, m_pictures, key, name, address, type);
    // The dialog was modal, but the rows may have been reloaded or sorted meanwhile.
    const int now = stored && !m_hooks.ended() ? m_rows.items()->indexOfKey(key) : 0;
    if (key == 0 || now == 0)
        return;
    m_rows.items()->setText(now, stored->name);
    m_rows.items()->setSmallIcon(now, stored->type);
    if (m_rows.subText(now, 1) != stored->address) {
        // The last answer came from the old address; it says nothing about the new one.
        for (int sub = 2; sub <= platform::ReportListModel::SubItems; ++sub) {
            m_rows.setSubText(now, sub, QString());
            m_rows.setSubIcon(now, sub, 0);
        }
        m_rows.setSubText(now, 1, stored->address);
    }
    name = stored->name;
    address = stored->address;
}

void ListController::remove()
{
    if (m_hooks.ended())
        return;
    const QVector<int> rows = m_rows.selectedRowNumbers();
    if (rows.isEmpty())
        return;
    QVector<quint64> keys;
    for (const int row : rows)
        keys.append(m_rows.items()->row(row).key);
    const QString question = rows.size() == 1
                                 ? QStringLiteral("Remove \"%1\" (%2) from the list?")
                                       .arg(m_rows.text(rows.first()), m_rows.subText(rows.first(), 1))
                                 : QStringLiteral("Remove the %1 selected hosts from the list?").arg(rows.size());
    if (m_services.messages.show(question, platform::MsgYesNo | platform::MsgQuestion, m_services.app.Title) !=
        platform::MsgResultYes)
        return;
    // The question was modal: rows reloaded meanwhile have new keys and are left alone.
    keys.removeIf([this](quint64 key) { return key == 0 || m_rows.items()->indexOfKey(key) == 0; });
    if (keys.isEmpty())
        return;
    try {
        m_file.removeAll(keys);
    } catch (const hostlist::HostListError& e) {
        m_services.messages.show(e.message(), platform::MsgExclamation, m_services.app.Title);
        return;
    }
    for (const quint64 key : keys)
        m_rows.removeAt(m_rows.items()->indexOfKey(key));
    m_hooks.rowsChanged();
}

void ListController::importHosts()
{
    QVector<hostlist::HostLine> existing;
    for (int i = 1; i <= m_rows.count(); ++i)
        existing.append({m_rows.smallIcon(i), m_rows.text(i), m_rows.subText(i, 1)});
    const auto hosts = m_services.dialogs.importHosts(&m_window, existing);
    if (!hosts || hosts->isEmpty() || m_hooks.ended())
        return;
    // One write for all of them.
    const QVector<hostlist::EntryKey> keys = m_file.appendAll(*hosts);
    QVector<platform::ReportListModel::Row> rows;
    for (int i = 0; i < hosts->size(); ++i) {
        platform::ReportListModel::Row row;
        row.key = keys.value(i);
        row.text = hosts->at(i).name;
        row.smallIcon = hosts->at(i).type;
        row.checked = true;
        row.sub[0] = hosts->at(i).address;
        rows.append(row);
    }
    m_rows.items()->append(std::move(rows));
    m_rows.ensureVisible(m_rows.count());
}

QString ListController::outageLogPath() const
{
    return QDir(QFileInfo(m_path).absolutePath()).filePath(QStringLiteral("outages.csv"));
}
