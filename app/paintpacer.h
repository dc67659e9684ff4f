#pragma once

#include <QElapsedTimer>

class QWidget;

// Paces a window's repaints while a sweep runs: the sweep yields after every row, and painting at
// each yield would cost more than probing a fast host, so it repaints at a steady frame rate.
class PaintPacer
{
public:
    explicit PaintPacer(QWidget& window) : m_window(window) {}

    // For each update request: true when it is put off, posted again once the frame is due
    // (the repaint manager is still waiting for it).
    bool defer(bool sweeping);

private:
    QWidget& m_window;
    QElapsedTimer m_clock;
    qint64 m_lastPaintMs = -1000;
    bool m_deferred = false;
};
