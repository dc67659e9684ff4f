#include "app/windowplacement.h"

#include "app/windowsettings.h"
#include "platform/settingsstore.h"
#include "platform/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <utility>

using platform::toPixels;
using platform::toTwips;

WindowPlacement::WindowPlacement(QWidget& window, std::function<void()> layout)
    : m_window(window), m_layout(std::move(layout))
{
}

void WindowPlacement::restore(const platform::SettingsStore& settings, int contentWidth)
{
    QRect g = WindowSettings::loadGeometry(settings);
    // A first run opens wide enough for every column on show, but no wider than the screen
    // leaves right of where it opens, so it opens where it should; a stored size always wins.
    if (!settings.contains(QStringLiteral("Settings"), QStringLiteral("WndW"))) {
        int wanted = contentWidth + frameExtra().width();
        if (const QScreen* screen = m_window.screen())
            wanted = std::min(wanted, screen->availableGeometry().right() + 1 - toPixels(g.x()));
        g.setWidth(std::max(g.width(), toTwips(wanted)));
    }
    setGeometryTwips(g.y(), g.x(), g.height(), g.width());
}

QSize WindowPlacement::frameExtra() const
{
    return m_window.frameGeometry().size() - m_window.size();
}

QRect WindowPlacement::geometryTwips() const
{
    const QRect outer = m_normalOuter.isValid() ? m_normalOuter : m_window.frameGeometry();
    const QSize client = m_normalOuter.isValid() ? m_normalClient.size() : m_window.size();
    // While the window still sits where stored twips put it, hand those back, so a geometry
    // survives any number of runs unchanged. Where the compositor places windows, the place
    // read back means nothing and only the size counts.
    const bool samePlace = WindowSettings::compositorPlacesWindows() || outer.topLeft() == m_applied.framePos;
    if (m_applied.twips.isValid() && samePlace && client == m_applied.client)
        return m_applied.twips;
    return QRect(toTwips(outer.x()), toTwips(outer.y()), toTwips(outer.width()), toTwips(outer.height()));
}

QRect WindowPlacement::fitToArea(QRect outer, const QRect& available, bool placed)
{
    outer.setWidth(std::min(outer.width(), available.width()));
    outer.setHeight(std::min(outer.height(), available.height()));
    if (!placed) {
        outer.moveLeft(std::clamp(outer.x(), available.left(), available.right() + 1 - outer.width()));
        outer.moveTop(std::clamp(outer.y(), available.top(), available.bottom() + 1 - outer.height()));
    }
    return outer;
}

int WindowPlacement::mostOf(const QRect& outer, const QVector<QRect>& areas)
{
    int index = -1;
    qint64 best = -1;
    for (int i = 0; i < areas.size(); ++i) {
        const QRect common = areas.at(i).intersected(outer);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > best) {
            best = area;
            index = i;
        }
    }
    return index;
}

void WindowPlacement::setGeometryTwips(int top, int left, int height, int width)
{
    const int minW = toPixels(MinOuterWidth);
    const int minH = toPixels(MinOuterHeight);
    const QRect twips(left, top, std::max(width, MinOuterWidth), std::max(height, MinOuterHeight));
    QRect outer(toPixels(twips.x()), toPixels(twips.y()), std::max(toPixels(twips.width()), minW),
                std::max(toPixels(twips.height()), minH));

    // Keep the whole window, and so its title bar, on the screen it is meant for; a window larger
    // than that screen (a stored size from a bigger monitor, or a high scale factor) is shrunk.
    const bool placed = WindowSettings::compositorPlacesWindows();
    const QPoint titleBar(outer.x() + std::min(outer.width() / 2, 100), outer.y() + 10);
    QScreen* target = placed ? m_window.screen() : QGuiApplication::screenAt(titleBar);
    if (!target) {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QVector<QRect> areas;
        for (const QScreen* screen : screens)
            areas.append(screen->availableGeometry());
        const int most = mostOf(outer, areas);
        target = most >= 0 ? screens.at(most) : nullptr;
    }
    if (!target)
        target = QGuiApplication::primaryScreen();
    if (target)
        outer = fitToArea(outer, target->availableGeometry(), placed);

    // The minimum and the size are for the client area: take the frame off, as far as it is known.
    const QSize frame = frameExtra();
    m_window.setMinimumSize(std::max(1, std::min(minW, outer.width()) - frame.width()),
                            std::max(1, std::min(minH, outer.height()) - frame.height()));
    if (!placed)
        m_window.move(outer.topLeft());
    m_window.resize(std::max(1, outer.width() - frame.width()), std::max(1, outer.height() - frame.height()));
    m_layout();

    const bool asStored = outer.topLeft() == QPoint(toPixels(twips.x()), toPixels(twips.y())) &&
                          outer.width() == std::max(toPixels(twips.width()), minW) &&
                          outer.height() == std::max(toPixels(twips.height()), minH);
    m_applied.twips = asStored ? twips : QRect();
    m_applied.framePos = placed ? QPoint() : outer.topLeft();
    m_applied.client = m_window.size();
    m_applied.frame = frame;
    rememberNormal();
}

void WindowPlacement::rememberNormal()
{
    if (m_window.isVisible() &&
        !(m_window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
        m_normalOuter = m_window.frameGeometry();
        m_normalClient = m_window.geometry();
    }
    // A window manager may frame the window only after the stored geometry was applied; apply it
    // again then, so that the outer size is what was stored, not the stored size plus the frame.
    if (m_applied.twips.isValid() && m_applied.reapplied < 2 && frameExtra() != m_applied.frame &&
        m_window.size() == m_applied.client && m_window.isVisible()) {
        const QRect t = m_applied.twips;
        const int reapplied = m_applied.reapplied + 1;
        setGeometryTwips(t.y(), t.x(), t.height(), t.width());
        m_applied.reapplied = reapplied;
    }
}

void WindowPlacement::keepMinimum()
{
    QSize minOuter(toPixels(MinOuterWidth), toPixels(MinOuterHeight));
    if (const QScreen* s = m_window.screen())
        minOuter = minOuter.boundedTo(s->availableGeometry().size());
    const QSize minClient = (minOuter - frameExtra()).expandedTo(QSize(1, 1));
    m_window.setMinimumSize(minClient);
    if (!(m_window.windowState() & Qt::WindowMaximized) &&
        (m_window.width() < minClient.width() || m_window.height() < minClient.height()))
        m_window.resize(m_window.size().expandedTo(minClient));
}
