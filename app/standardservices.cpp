#include "app/standardservices.h"

#include "hostlist/frmedit.h"
#include "hostlist/frmimport.h"
#include "shell/frmabout.h"
#include "shell/mdlmore.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

std::optional<hostlist::KeyedHostLine> StandardDialogs::insertEntry(QWidget* owner, hostlist::HostListFile& file,
                                                                    const platform::ImageList& pictures)
{
    return frmEdit::showInsert(owner, {file.path(), m_app.Title, m_messages, &pictures, &file});
}

std::optional<hostlist::HostLine> StandardDialogs::showEntry(QWidget* owner, hostlist::HostListFile& file,
                                                             const platform::ImageList& pictures,
                                                             hostlist::EntryKey key, const QString& name,
                                                             const QString& address, int type)
{
    return frmEdit::showEdit(owner, {file.path(), m_app.Title, m_messages, &pictures, &file}, name, address, type, key);
}

std::optional<QVector<hostlist::HostLine>> StandardDialogs::importHosts(QWidget* owner,
                                                                        const QVector<hostlist::HostLine>& existing)
{
    frmImport dialog(existing, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.plan().accepted;
}

void StandardDialogs::about(QWidget* owner)
{
    frmAbout::showModal(m_app, owner);
}

bool StandardDialogs::openFolder(const QString& folder)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

QString StandardDialogs::saveFile(QWidget* owner, const QString& title, const QString& suggestedPath,
                                  const QString& filter)
{
    return QFileDialog::getSaveFileName(owner, title, suggestedPath, filter);
}

bool StandardDialogs::alerts(QWidget* owner, AlertSettings& settings)
{
    AlertsDialog dialog(settings, owner);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    settings = dialog.settings();
    return true;
}

bool StandardDialogs::options(QWidget* owner, ProbeSettings& settings)
{
    OptionsDialog dialog(settings, owner);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    settings = dialog.settings();
    return true;
}

bool SystemTray::showMessage(const QString& title, const QString& text, bool warning)
{
    return m_icon.showMessage(title, text, warning);
}

int SystemTray::notify(int action, const QIcon& icon, const QString& tip)
{
    return mdlMore::NotifyTrayIcon(action, m_icon, icon, tip);
}

void SystemTray::setMenu(QMenu* menu)
{
    m_icon.setMenu(menu);
}

bool SystemTray::reportsChanges() const
{
    return m_icon.followsHost();
}
