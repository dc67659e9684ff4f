#include "app/paintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

bool PaintPacer::defer(bool sweeping)
{
    constexpr qint64 FrameMs = 40;
    if (!sweeping) {
        m_lastPaintMs = -FrameMs;
        return false;
    }
    if (!m_clock.isValid())
        m_clock.start();
    const qint64 now = m_clock.elapsed();
    const qint64 wait = m_lastPaintMs + FrameMs - now;
    if (wait <= 0) {
        m_lastPaintMs = now;
        return false;
    }
    if (!m_deferred) {
        m_deferred = true;
        QTimer::singleShot(int(wait), &m_window, [this] {
            m_deferred = false;
            QCoreApplication::postEvent(&m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
        });
    }
    return true;
}
