#pragma once

#include <QIcon>
#include <QString>
#include <functional>

class QMenu;
class QTimer;
class QWidget;
struct MainServices;

// The window's icon in the notification area: whether one really shows it, what it shows for
// the hosts' overall state (kept for a tray that appears later), and bringing the window back
// from it.
class TrayFollower
{
public:
    // ended: true once the window has unloaded; nothing is shown or followed after that.
    TrayFollower(QWidget& window, const MainServices& services, std::function<bool()> ended);

    // Adds the icon with its menu, and looks now and then for a tray that does not report its
    // coming and going.
    void start(QMenu* menu);
    void stopWatching();
    // Takes the icon away for good.
    void remove();
    // Looks again whether a notification area shows the icon; shows a hidden window when none does.
    void follow();
    void showOverall(const QIcon& icon, const QString& tip);
    void showMessage(const QString& title, const QString& text, bool warning);
    // The icon's events by code (515 double click, 517 right-button release).
    void mouseMove(int code, QMenu* menu);
    void showWindow();

    bool shown() const { return m_shown; }
    int lastCode() const { return m_lastCode; }

private:
    int notify(int action, const QIcon& icon, const QString& tip);

    QWidget& m_window;
    const MainServices& m_services;
    std::function<bool()> m_ended;
    QTimer* m_watch = nullptr;
    bool m_shown = false;
    bool m_busy = false;
    int m_lastCode = 0;
    QIcon m_icon;
    QString m_tip;
};
