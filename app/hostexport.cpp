#include "app/hostexport.h"

#include "app/hostwatch.h"
#include "app/mainservices.h"
#include "monitor/csvexport.h"
#include "platform/messagebox.h"
#include "platform/reportlist.h"

#include <QDir>
#include <QStandardPaths>

namespace hostexport {

void exportRows(QWidget& owner, const MainServices& services, platform::ReportList& rows, HostWatch& watch,
                bool selectedOnly, const std::function<bool()>& ended)
{
    if (ended())
        return;
    const auto chosen = [&rows, selectedOnly] {
        if (selectedOnly)
            return rows.selectedRowNumbers();
        QVector<int> all;
        for (int i = 1; i <= rows.count(); ++i)
            all.append(i);
        return all;
    };
    if (selectedOnly && chosen().isEmpty())
        return;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString suggested = QDir(folder).filePath(QStringLiteral("tivane-hosts.csv"));
    const QString path = services.dialogs.saveFile(&owner, QStringLiteral("Export"), suggested,
                                                   QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty() || ended())
        return;
    // The rows as they are now: the dialog was modal, and a sweep may have moved on meanwhile.
    const QString why = csv::writeWholeFile(path, watch.csvOf(chosen()));
    if (!why.isEmpty())
        services.messages.show(
            QStringLiteral("The hosts could not be exported to %1: %2").arg(QDir::toNativeSeparators(path), why),
            platform::MsgExclamation, services.app.Title);
}

} // namespace hostexport
