#include "app/commands.h"

#include "app/sweepview.h"
#include "app/toolbarlayout.h"
#include "monitor/sweep.h"
#include "platform/appinfo.h"
#include "platform/messagebox.h"
#include "platform/reportlist.h"
#include "platform/soundplayer.h"
#include "platform/toolbar.h"

void Commands::tblTivane_ButtonClick(int index)
{
    // No yield before the command: Ping and Stop return at once, and the about box runs the event
    // loop itself; a yield here would only let a second click run inside this one.
    switch (index) {
    case tb::Ping:
        m_sweep.PingList();
        break;
    case tb::Stop:
        m_sweep.stop();
        break;
    case tb::About:
        m_ctx.sound.play(m_ctx.app.file(QStringLiteral("Info.wav")));
        if (hooks.showAbout)
            hooks.showAbout();
        break;
    case tb::Exit:
        if (hooks.unload)
            hooks.unload();
        break;
    default:
        // The placeholder, the faces of the drop-down buttons and the alert toggle do nothing here.
        break;
    }
}

void Commands::tblTivane_ButtonMenuClick(const QString& key)
{
    if (key == QLatin1String("mnuPingN")) {
        m_sweep.PingList();
    } else if (key == QLatin1String("mnuPingC")) {
        m_sweep.PingContinuous();
    } else if (key == QLatin1String("mnuReload")) {
        reload();
    } else if (key == QLatin1String("mnuShGrd")) {
        m_ctx.list.setGridLines(!m_ctx.list.gridLines());
        if (hooks.viewChanged)
            hooks.viewChanged();
    } else if (key == QLatin1String("mnuChBoxs")) {
        m_ctx.list.setCheckboxes(!m_ctx.list.checkboxes());
        if (hooks.viewChanged)
            hooks.viewChanged();
    } else if (key == QLatin1String("mnuAddIp")) {
        byKeyOrMessage(hooks.addIp, key);
    } else if (key == QLatin1String("mnuEdit")) {
        byKeyOrMessage(hooks.editIp, key);
    } else if (key == QLatin1String("mnuRem")) {
        byKeyOrMessage(hooks.removeIp, key);
    } else if (key == QLatin1String("mnuOpenList")) {
        byKeyOrMessage(hooks.openListFolder, key);
    } else if (key == QLatin1String("mnuAutoStart")) {
        byKeyOrMessage(hooks.startWithSession, key);
    } else if (key == QLatin1String("mnuAOT")) {
        byKeyOrMessage(hooks.alwaysOnTop, key);
    } else if (key == QLatin1String("mnuSWndPos")) {
        byKeyOrMessage(hooks.saveWndPos, key);
    } else if (key == QLatin1String("mnuHUS")) {
        byKeyOrMessage(hooks.hideUnselected, key);
    } else if (key == QLatin1String("mnuPAAO")) {
        m_sweep.setAllAtOnce(!m_sweep.allAtOnce());
        if (hooks.viewChanged)
            hooks.viewChanged();
    } else {
        m_ctx.messages.show(key, platform::MsgOkOnly, m_ctx.app.Title);
    }
}

void Commands::byKeyOrMessage(const std::function<void()>& hook, const QString& key)
{
    if (hook)
        hook();
    else
        m_ctx.messages.show(key, platform::MsgOkOnly, m_ctx.app.Title);
}

void Commands::reload()
{
    // Nothing of a sweep may be written into the list once it is refilled.
    m_sweep.abandon();
    m_ctx.list.clear();
    if (hooks.loadList)
        hooks.loadList();
}
