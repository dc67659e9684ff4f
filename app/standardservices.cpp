#include "standardservices.h"

#include "frmabout.h"
#include "frmedit.h"
#include "mdlmore.h"

#include <QDesktopServices>
#include <QUrl>

void StandardDialogs::insertEntry(QWidget* owner, const QString& listPath, const platform::ImageList& pictures)
{
    // The new entry shows at the next Reload; reloading here would end a running sweep.
    frmEdit::showInsert(owner, {listPath, m_app.Title, m_messages, &pictures});
}

void StandardDialogs::showEntry(QWidget* owner, const QString& listPath, const platform::ImageList& pictures,
                                const QString& name, const QString& address, int type)
{
    frmEdit::showEdit(owner, {listPath, m_app.Title, m_messages, &pictures}, name, address, type);
}

void StandardDialogs::about(QWidget* owner)
{
    frmAbout::showModal(m_app, owner);
}

bool StandardDialogs::openFolder(const QString& folder)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

int SystemTray::notify(int action, const QIcon& icon, const QString& tip)
{
    return mdlMore::NotifyTrayIcon(action, m_icon, icon, tip);
}
