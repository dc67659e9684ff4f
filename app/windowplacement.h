#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>
#include <functional>

class QWidget;

namespace platform {
class SettingsStore;
}

// Where the main window goes and what it gives back to the settings. Stored twips are applied
// with the frame taken off as far as it is known, kept on a screen, and handed back unchanged
// while the window is untouched (pixels are coarser than twips).
class WindowPlacement
{
public:
    // Smallest outer size, in twips.
    static constexpr int MinOuterWidth = 7850;
    static constexpr int MinOuterHeight = 4800;

    // layout lays the window's controls out after a resize made here.
    WindowPlacement(QWidget& window, std::function<void()> layout);

    // Applies the stored geometry; a first run opens wide enough for contentWidth pixels.
    void restore(const platform::SettingsStore& settings, int contentWidth);
    // Outer geometry in twips, as stored in the settings.
    QRect geometryTwips() const;
    void setGeometryTwips(int top, int left, int height, int width);
    // Notes the geometry while the window is normal; applies the stored one again when a window
    // manager framed the window after it was applied.
    void rememberNormal();
    // The client minimum for the outer minimum, never more than the screen can show; grows a
    // window left smaller than that.
    void keepMinimum();
    // Zero until a window manager has framed the window.
    QSize frameExtra() const;

    // The outer rectangle shrunk to the available area and, unless the compositor places
    // windows, moved wholly onto it.
    static QRect fitToArea(QRect outer, const QRect& available, bool placed);
    // The index of the area holding most of outer, or -1 when there is none.
    static int mostOf(const QRect& outer, const QVector<QRect>& areas);

private:
    QWidget& m_window;
    std::function<void()> m_layout;
    QRect m_normalOuter;  // outer geometry in pixels while the window was last normal
    QRect m_normalClient; // client geometry at the same moment
    // The stored geometry last applied and what it became, so that an untouched window writes
    // back exactly the twips it was given.
    struct Applied
    {
        QRect twips;       // x = left, y = top, in twips; invalid when nothing is applied
        QPoint framePos;   // where the frame was put, in pixels
        QSize client;      // the client size it was given
        QSize frame;       // the frame's extra size known at that time
        int reapplied = 0; // times re-applied because the frame became known later
    } m_applied;
};
