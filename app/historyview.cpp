#include "app/historyview.h"

#include "app/hostwatch.h"
#include "monitor/hoststats.h"

#include <QDateTime>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <vector>

using monitor::HistoryPoint;
using monitor::HostState;
using monitor::SampleKind;

namespace {
constexpr int Margin = 8;
constexpr int LossBandHeight = 8;

// A round number of microseconds at or above us, for the top of the scale: 1, 2 or 5 times a
// power of ten.
qint64 niceCeiling(qint64 us)
{
    qint64 step = 1;
    for (int i = 0; i < 12; ++i) {
        for (const qint64 m : {1, 2, 5}) {
            if (step * m >= us)
                return step * m;
        }
        step *= 10;
    }
    return us;
}
} // namespace

HistoryPlot::HistoryPlot(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("historyPlot"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor HistoryPlot::lossColor()
{
    return QColor(230, 40, 40);
}

QColor HistoryPlot::downColor()
{
    return QColor(230, 40, 40);
}

QColor HistoryPlot::degradedColor()
{
    return QColor(240, 163, 10);
}

QColor HistoryPlot::upColor()
{
    return QColor(40, 180, 70);
}

QSize HistoryPlot::sizeHint() const
{
    return {640, 260};
}

QSize HistoryPlot::minimumSizeHint() const
{
    return {200, 120};
}

void HistoryPlot::setData(QVector<HistoryPoint> points, QVector<monitor::StateEvent> events)
{
    m_points = std::move(points);
    m_events = std::move(events);
    m_maxRttUs = 0;
    for (const HistoryPoint& p : std::as_const(m_points)) {
        if (p.kind == SampleKind::Reply)
            m_maxRttUs = std::max(m_maxRttUs, p.rttUs);
    }
    update();
}

qint64 HistoryPlot::firstMs() const
{
    qint64 first = m_points.isEmpty() ? 0 : m_points.first().atMs;
    if (!m_events.isEmpty() && (first == 0 || m_events.first().atMs < first))
        first = m_events.first().atMs;
    return first;
}

qint64 HistoryPlot::lastMs() const
{
    qint64 last = m_points.isEmpty() ? 0 : m_points.last().atMs;
    if (!m_events.isEmpty())
        last = std::max(last, m_events.last().atMs);
    // At least a minute, so that the first few sweeps do not fill the width.
    return std::max(last, firstMs() + 60000);
}

QRect HistoryPlot::plotArea() const
{
    const int label = fontMetrics().horizontalAdvance(QStringLiteral("000.00 ms")) + Margin;
    const int line = fontMetrics().height();
    return QRect(QPoint(label, Margin + line / 2), QPoint(width() - Margin - 1, height() - Margin - line - 4));
}

QRect HistoryPlot::lossBand() const
{
    const QRect a = plotArea();
    return QRect(a.left(), a.bottom() - LossBandHeight + 1, a.width(), LossBandHeight);
}

int HistoryPlot::xOf(qint64 ms) const
{
    const QRect a = plotArea();
    const qint64 first = firstMs();
    const qint64 span = std::max<qint64>(1, lastMs() - first);
    const double f = std::clamp(double(ms - first) / double(span), 0.0, 1.0);
    return a.left() + int(std::lround(f * (a.width() - 1)));
}

void HistoryPlot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Base));
    const QRect area = plotArea();
    if (area.width() < 10 || area.height() < LossBandHeight * 3)
        return;
    const QColor text = pal.color(QPalette::Text);
    QColor grid = text;
    grid.setAlpha(50);

    if (m_points.isEmpty() && m_events.isEmpty()) {
        p.setPen(text);
        p.drawText(area, Qt::AlignCenter, QStringLiteral("No results yet"));
        return;
    }

    // Round trips above the loss band; the top of the scale a round number.
    const qint64 top = niceCeiling(std::max<qint64>(m_maxRttUs, 100));
    const int rttBottom = area.bottom() - LossBandHeight - 2;
    const int rttHeight = std::max(1, rttBottom - area.top());
    const auto yOf = [&](qint64 us) { return rttBottom - int(std::lround(double(us) / double(top) * rttHeight)); };

    p.setPen(QPen(grid, 0));
    for (int i = 0; i <= 4; ++i) {
        const qint64 us = top * i / 4;
        const int y = yOf(us);
        p.drawLine(area.left(), y, area.right(), y);
    }
    p.setPen(text);
    for (int i = 0; i <= 4; ++i) {
        const qint64 us = top * i / 4;
        const QRect r(0, yOf(us) - fontMetrics().height() / 2, area.left() - 4, fontMetrics().height());
        p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, i == 0 ? QStringLiteral("0") : monitor::formatRtt(us));
    }
    // Times under the plot: its start, middle and end.
    const qint64 first = firstMs();
    const qint64 last = lastMs();
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    const int timeY = area.bottom() + 4;
    const int lineH = fontMetrics().height();
    p.drawText(QRect(area.left(), timeY, area.width(), lineH), Qt::AlignLeft, monitor::formatMoment(first, nowMs));
    p.drawText(QRect(area.left(), timeY, area.width(), lineH), Qt::AlignHCenter,
               monitor::formatMoment(first + (last - first) / 2, nowMs));
    p.drawText(QRect(area.left(), timeY, area.width(), lineH), Qt::AlignRight, monitor::formatMoment(last, nowMs));
    p.setPen(QPen(grid, 0));
    p.drawRect(area.adjusted(0, 0, -1, -1));

    // One pixel column at a time: the range of its replies, and whether it lost any. A day of
    // sweeps is tens of thousands of points; the width is a few hundred pixels.
    struct Column
    {
        qint64 lo = -1;
        qint64 hi = -1;
        bool lost = false;
    };
    std::vector<Column> cols(std::size_t(area.width()));
    for (const HistoryPoint& pt : std::as_const(m_points)) {
        Column& c = cols[std::size_t(xOf(pt.atMs) - area.left())];
        if (pt.kind == SampleKind::Reply) {
            c.lo = c.lo < 0 ? pt.rttUs : std::min(c.lo, pt.rttUs);
            c.hi = std::max(c.hi, pt.rttUs);
        } else {
            c.lost = true;
        }
    }
    QColor lineColor = pal.color(QPalette::Highlight);
    if (lineColor.lightness() < 60 || lineColor.lightness() > 220)
        lineColor = QColor(40, 120, 220);
    p.setRenderHint(QPainter::Antialiasing, false);
    int prevX = -1;
    int prevY = 0;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        const int x = area.left() + int(i);
        if (c.lost) {
            p.fillRect(QRect(x, lossBand().top(), 1, LossBandHeight), lossColor());
            prevX = -1; // a loss breaks the line
        }
        if (c.lo < 0)
            continue;
        p.setPen(QPen(lineColor, 1));
        const int yHi = yOf(c.hi);
        const int yLo = yOf(c.lo);
        if (prevX >= 0)
            p.drawLine(prevX, prevY, x, (yHi + yLo) / 2);
        p.drawLine(x, yHi, x, yLo);
        prevX = x;
        prevY = (yHi + yLo) / 2;
    }

    for (const monitor::StateEvent& e : std::as_const(m_events)) {
        if (e.state == HostState::Unknown)
            continue;
        const int x = xOf(e.atMs);
        const QColor c = e.state == HostState::Down       ? downColor()
                         : e.state == HostState::Degraded ? degradedColor()
                                                          : upColor();
        p.setPen(QPen(c, 2, Qt::DashLine));
        p.drawLine(x, area.top(), x, area.bottom());
        p.setPen(c);
        const QString label = monitor::stateText(e.state);
        const int w = fontMetrics().horizontalAdvance(label);
        const int lx = x + 3 + w > area.right() ? x - 3 - w : x + 3;
        p.drawText(QPoint(lx, area.top() + fontMetrics().ascent()), label);
    }
}

HistoryWindow::HistoryWindow(HostWatch& watch, quint64 key, QWidget* parent)
    : QDialog(parent), m_watch(watch), m_key(key)
{
    setObjectName(QStringLiteral("frmHistory"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblSummary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_plot = new HistoryPlot(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_plot, 1);
    connect(&watch, &HostWatch::recorded, this, &HistoryWindow::refresh);
    refresh();
}

QString HistoryWindow::summary() const
{
    return m_summary->text();
}

void HistoryWindow::refresh()
{
    const monitor::HostMonitor& m = m_watch.monitor();
    const monitor::HostStats* s = m.stats(m_key);
    if (!s) {
        // The host left the list (a Reload or a removal): nothing of it is left to show.
        if (isVisible())
            close();
        return;
    }
    setWindowTitle(QStringLiteral("History of %1").arg(monitor::hostLabel(s->name, s->address)));
    m_summary->setText(monitor::statToolTip(*s, m_watch.now()));
    m_plot->setData(m.history(m_key), m.stateEvents(m_key));
}

void HistoryWindow::showFor(HostWatch& watch, quint64 key, QWidget* owner)
{
    const auto open = owner->findChildren<HistoryWindow*>();
    for (HistoryWindow* w : open) {
        if (w->key() == key) {
            w->raise();
            w->activateWindow();
            return;
        }
    }
    auto* window = new HistoryWindow(watch, key, owner);
    window->setWindowFlag(Qt::Window);
    window->resize(680, 360);
    window->show();
}
