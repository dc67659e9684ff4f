#pragma once

#include "app/listlocation.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
struct MainServices;

namespace hostlist {
class HostListFile;
}
namespace platform {
class ImageList;
class ReportList;
} // namespace platform

// The host list's rows and the list.txt behind them: finding and loading the list, keeping the
// entries the user unticked across loads, hiding unticked rows, and adding, changing and
// removing entries in the rows and the file together.
class ListController
{
public:
    struct Hooks
    {
        // True once the window has unloaded: a modal dialog's answer then changes nothing.
        std::function<bool()> ended;
        // After rows were added or removed here, for what follows the selection.
        std::function<void()> rowsChanged;
        // Whether unticked rows are hidden.
        std::function<bool()> hideUnselected;
    };

    // path and file are the window's: the list.txt last loaded and where its rows came from.
    ListController(QWidget& window, const MainServices& services, platform::ReportList& rows,
                   const platform::ImageList& pictures, QString& path, hostlist::HostListFile& file, Hooks hooks);

    // Finds the list, creating the user's own from the example the first time, and points the
    // file at it.
    ListLocation locate();
    // Reads the located list into the rows; says what went wrong, or once that the list is new.
    void load(const ListLocation& where);
    // The word about a new list, once the window is on the screen.
    bool hasFirstNotice() const { return !m_firstNotice.isEmpty(); }
    void tellFirstNotice();

    // The entries unticked, as the settings keep them; see WindowSettings::unticked.
    QStringList unticked() const { return m_unticked; }
    void setUnticked(const QStringList& unticked) { m_unticked = unticked; }
    void rememberTicks();
    // After a change of the rows' data with these roles.
    void dataChanged(const QList<int>& roles);

    void applyHideUnselected();

    void openFolder();
    // Through the entry dialogs: a new entry, the selected one (name and address noted in
    // name and address), or the selected ones after asking once.
    void insert();
    void edit(QString& name, QString& address);
    void remove();
    // Through the import dialog, appending what it chose in one write; a failure is thrown as a
    // hostlist::HostListError with nothing added.
    void importHosts();
    // outages.csv beside the list in use.
    QString outageLogPath() const;

private:
    void applyTicks();

    QWidget& m_window;
    const MainServices& m_services;
    platform::ReportList& m_rows;
    const platform::ImageList& m_pictures;
    QString& m_path;
    hostlist::HostListFile& m_file;
    Hooks m_hooks;
    QStringList m_unticked;
    bool m_applyingTicks = false;
    // The first start's word about the new list, until the window is on the screen.
    QString m_firstNotice;
};
