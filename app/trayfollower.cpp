#include "app/trayfollower.h"

#include "app/mainservices.h"
#include "shell/mdlmore.h"

#include <QCursor>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <utility>

namespace {
// How often the window looks whether a notification area came or went.
constexpr int TrayWatchMs = 2000;
} // namespace

TrayFollower::TrayFollower(QWidget& window, const MainServices& services, std::function<bool()> ended)
    : m_window(window), m_services(services), m_ended(std::move(ended)), m_tip(services.app.Title)
{
}

void TrayFollower::start(QMenu* menu)
{
    if (m_services.tray)
        m_services.tray->setMenu(menu);
    m_shown = notify(mdlMore::NIM_ADD, mdlMore::namedIcon(m_window.windowIcon(), QStringLiteral("tivane")),
                     m_services.app.Title) != 0;
    // Without word from the tray when it comes or goes, look now and then.
    if (!m_services.tray || !m_services.tray->reportsChanges()) {
        if (!m_watch) {
            m_watch = new QTimer(&m_window);
            m_watch->setInterval(TrayWatchMs);
            QObject::connect(m_watch, &QTimer::timeout, &m_window, [this] { follow(); });
        }
        m_watch->start();
    }
}

void TrayFollower::stopWatching()
{
    if (m_watch)
        m_watch->stop();
}

void TrayFollower::remove()
{
    notify(mdlMore::NIM_DELETE, QIcon(), QString());
    m_shown = false;
}

void TrayFollower::follow()
{
    if (m_ended())
        return;
    // A tray that has just appeared shows the icon given at the start: give it the state's.
    const bool shown = notify(mdlMore::NIM_MODIFY, m_shown ? QIcon() : m_icon, m_tip) != 0;
    if (shown == m_shown)
        return;
    m_shown = shown;
    // Without a notification area a hidden window could never be brought back.
    if (!shown && m_window.isHidden())
        showWindow();
}

void TrayFollower::showOverall(const QIcon& icon, const QString& tip)
{
    m_icon = icon;
    m_tip = tip;
    if (m_shown && !m_ended())
        notify(mdlMore::NIM_MODIFY, icon, tip);
}

void TrayFollower::showMessage(const QString& title, const QString& text, bool warning)
{
    if (m_shown && m_services.tray)
        m_services.tray->showMessage(title, text, warning);
}

void TrayFollower::mouseMove(int code, QMenu* menu)
{
    m_lastCode = code;
    if (m_busy || m_ended())
        return;
    m_busy = true;
    if (m_lastCode == mdlMore::TrayLeftDoubleClick)
        showWindow();
    else if (m_lastCode == mdlMore::TrayRightUp)
        menu->exec(QCursor::pos());
    m_busy = false;
}

void TrayFollower::showWindow()
{
    if (m_ended())
        return;
    if (m_window.windowState() & Qt::WindowMinimized)
        m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

int TrayFollower::notify(int action, const QIcon& icon, const QString& tip)
{
    return m_services.tray ? m_services.tray->notify(action, icon, tip) : 0;
}
