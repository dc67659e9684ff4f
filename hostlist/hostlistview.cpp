#include "hostlist/hostlistview.h"

#include "platform/reportlist.h"

#include <new>
#include <stdexcept>
#include <utility>

namespace hostlist {

namespace {

void loadRows(platform::ReportList& list, HostListFile& file)
{
    LoadedHostList loaded = file.load();

    using Row = platform::ReportListModel::Row;
    QVector<Row> rows;
    rows.reserve(loaded.entries.size());
    for (KeyedHostLine& entry : loaded.entries) {
        Row row;
        row.key = entry.key;
        row.text = std::move(entry.host.name);
        row.smallIcon = entry.host.type;
        row.checked = true;
        row.sub[0] = std::move(entry.host.address);
        rows.append(std::move(row));
    }

    // One insertion and one scroll for the whole batch: per-row inserts and scrolls make the
    // view lay itself out again each time.
    if (!rows.isEmpty()) {
        list.items()->append(std::move(rows));
        list.ensureVisible(list.count());
    }
    if (loaded.error)
        throw *loaded.error;
}

} // namespace

void LoadList(platform::ReportList& list, HostListFile& file)
{
    list.clear();
    try {
        loadRows(list, file);
    } catch (const std::bad_alloc&) {
        throw HostListError::outOfMemory(file.path());
    } catch (const std::length_error&) {
        throw HostListError::outOfMemory(file.path());
    }
}

} // namespace hostlist
