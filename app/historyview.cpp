#include "app/historyview.h"

#include "app/hostwatch.h"
#include "app/mainservices.h"
#include "monitor/csvexport.h"
#include "monitor/hoststats.h"
#include "monitor/sweep.h"
#include "platform/messagebox.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <vector>

using monitor::HistoryPoint;
using monitor::HostState;
using monitor::SampleKind;

namespace {
constexpr int Margin = 8;
constexpr int LossBandHeight = 12;
constexpr qint64 SecondMs = 1000;
constexpr qint64 MinuteMs = 60 * SecondMs;
constexpr qint64 HourMs = 60 * MinuteMs;
constexpr qint64 DayMs = 24 * HourMs;
constexpr qint64 MinSpanMs = 10 * SecondMs;
constexpr qint64 MaxSpanMs = 3 * 366 * DayMs;

// Where the axis gets a label: the first step that leaves room for the labels.
const qint64 TickSteps[] = {SecondMs,      2 * SecondMs,  5 * SecondMs, 10 * SecondMs, 15 * SecondMs,
                            30 * SecondMs, MinuteMs,      2 * MinuteMs, 5 * MinuteMs,  10 * MinuteMs,
                            15 * MinuteMs, 30 * MinuteMs, HourMs,       2 * HourMs,    3 * HourMs,
                            6 * HourMs,    12 * HourMs,   DayMs,        2 * DayMs,     7 * DayMs,
                            14 * DayMs,    30 * DayMs,    91 * DayMs,   182 * DayMs,   365 * DayMs};

// A label as fine as the step between labels: seconds, minutes, days or months.
QString tickLabel(qint64 ms, qint64 step)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, monitor::localZone());
    if (step < MinuteMs)
        return t.toString(QStringLiteral("HH:mm:ss"));
    if (step < DayMs)
        return t.toString(QStringLiteral("HH:mm"));
    if (step < 30 * DayMs)
        return t.toString(QStringLiteral("MMM d"));
    return t.toString(QStringLiteral("MMM yyyy"));
}

// A vertical line from y0 down to y1, in pieces short enough that the raster engine blends each
// on this thread: a taller one it hands to its thread pool, and on a busy machine the hand-over
// takes far longer than the drawing. The pieces cover the same pixels, each once.
void drawUpright(QPainter& p, int x, int y0, int y1)
{
    constexpr int Piece = 64;
    const int length = y1 - y0 + 1;
    const int pieces = (length + Piece - 1) / Piece;
    if (pieces <= 1) {
        p.drawLine(x, y0, x, y1);
        return;
    }
    for (int i = 0, y = y0; i < pieces; ++i) {
        const int end = y0 + length * (i + 1) / pieces - 1;
        p.drawLine(x, y, x, end);
        y = end + 1;
    }
}

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
    m_rollups.clear();
    m_events = std::move(events);
    m_fixed = false;
    measureGap();
    update();
}

void HistoryPlot::setData(QVector<HistoryPoint> points, QVector<monitor::HistoryRollup> rollups,
                          QVector<monitor::StateEvent> events, qint64 fromMs, qint64 toMs)
{
    m_points = std::move(points);
    m_rollups = std::move(rollups);
    m_events = std::move(events);
    m_fixed = true;
    m_fromMs = fromMs;
    m_toMs = std::max(toMs, fromMs + 1);
    measureGap();
    update();
}

// Where nothing was probed (the program was not running, the host was unticked), the line
// stops: drawn across, it would read as round trips measured all along. A gap is three times
// the usual spacing of the samples; roll-ups follow each other without one.
void HistoryPlot::measureGap()
{
    std::vector<qint64> steps;
    steps.reserve(std::size_t(std::max<qsizetype>(0, m_points.size() - 1)));
    for (qsizetype i = 1; i < m_points.size(); ++i)
        steps.push_back(m_points[i].atMs - m_points[i - 1].atMs);
    if (steps.empty()) {
        m_gapMs = 1;
        return;
    }
    const auto middle = steps.begin() + std::ptrdiff_t(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    m_gapMs = std::max<qint64>(3 * *middle, 1);
}

qint64 HistoryPlot::firstMs() const
{
    if (m_fixed)
        return m_fromMs;
    qint64 first = m_points.isEmpty() ? 0 : m_points.first().atMs;
    if (!m_events.isEmpty() && (first == 0 || m_events.first().atMs < first))
        first = m_events.first().atMs;
    return first;
}

qint64 HistoryPlot::lastMs() const
{
    if (m_fixed)
        return m_toMs;
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

qint64 HistoryPlot::timeAt(int x) const
{
    const QRect a = plotArea();
    const double f = double(x - a.left()) / double(std::max(1, a.width() - 1));
    return firstMs() + qint64(std::llround(f * double(lastMs() - firstMs())));
}

std::vector<HistoryPlot::Column> HistoryPlot::columns() const
{
    const QRect area = plotArea();
    std::vector<Column> cols(std::size_t(std::max(0, area.width())));
    if (cols.empty())
        return cols;
    const qint64 first = firstMs();
    const qint64 last = lastMs();
    const auto inside = [&](qint64 ms) { return ms >= first && ms <= last; };
    // As xOf(), without measuring the fonts for every point.
    const double perMs = double(area.width() - 1) / double(std::max<qint64>(1, last - first));
    const auto colOf = [&](qint64 ms) {
        return int(std::lround(std::clamp(double(ms - first) * perMs, 0.0, double(area.width() - 1))));
    };
    for (const HistoryPoint& pt : std::as_const(m_points)) {
        if (!inside(pt.atMs))
            continue;
        Column& c = cols[std::size_t(colOf(pt.atMs))];
        c.firstMs = c.sent == 0 ? pt.atMs : std::min(c.firstMs, pt.atMs);
        c.lastMs = std::max(c.lastMs, pt.atMs);
        ++c.sent;
        if (pt.kind == SampleKind::Reply) {
            c.lo = c.lo < 0 ? pt.rttUs : std::min(c.lo, pt.rttUs);
            c.hi = std::max(c.hi, pt.rttUs);
            c.sum += double(pt.rttUs);
            ++c.replies;
        } else {
            ++c.lost;
            c.status = 1;
        }
    }
    // A roll-up covers every column of its span.
    for (const monitor::HistoryRollup& r : std::as_const(m_rollups)) {
        if (r.atMs + r.spanMs <= first || r.atMs > last)
            continue;
        const int x0 = colOf(r.atMs);
        const int x1 = std::max(x0, colOf(r.atMs + r.spanMs - 1) - (r.spanMs > 1 ? 1 : 0));
        for (int x = x0; x <= x1 && x < int(cols.size()); ++x) {
            Column& c = cols[std::size_t(x)];
            c.firstMs = c.sent == 0 ? r.atMs : std::min(c.firstMs, r.atMs);
            c.lastMs = std::max(c.lastMs, r.atMs + r.spanMs);
            c.sent += r.sent;
            c.lost += r.sent - r.received;
            if (r.received > 0) {
                c.lo = c.lo < 0 ? r.minUs : std::min(c.lo, r.minUs);
                c.hi = std::max(c.hi, r.maxUs);
                c.sum += double(r.avgUs) * double(r.received);
                c.replies += r.received;
            }
            if (r.status != 0)
                c.status = r.status;
        }
    }
    return cols;
}

QString HistoryPlot::tipAt(int x) const
{
    const QRect area = plotArea();
    if (x < area.left() || x > area.right())
        return {};
    const std::vector<Column> cols = columns();
    const Column& c = cols[std::size_t(x - area.left())];
    const qint64 from = timeAt(x);
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    QStringList lines{monitor::formatMoment(from, nowMs)};
    if (c.sent == 0) {
        lines << QStringLiteral("No probes");
        return lines.join(QLatin1Char('\n'));
    }
    if (c.replies == 1)
        lines << QStringLiteral("Round trip %1").arg(monitor::formatRtt(c.lo));
    else if (c.replies > 1)
        lines << QStringLiteral("Round trip min %1, avg %2, max %3")
                     .arg(monitor::formatRtt(c.lo), monitor::formatRtt(qint64(c.sum / double(c.replies) + 0.5)),
                          monitor::formatRtt(c.hi));
    lines << QStringLiteral("Loss %1 (%2 of %3)")
                 .arg(monitor::formatLoss(100.0 * double(c.lost) / double(c.sent)))
                 .arg(c.lost)
                 .arg(c.sent);
    if (c.lost > 0)
        lines << (c.status > 1 ? Sweep::statusText(c.status) : QStringLiteral("No reply"));
    return lines.join(QLatin1Char('\n'));
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

    if (m_points.isEmpty() && m_rollups.isEmpty() && m_events.isEmpty() && !m_fixed) {
        p.setPen(text);
        p.drawText(area, Qt::AlignCenter, QStringLiteral("No results yet"));
        return;
    }
    const std::vector<Column> cols = columns();
    qint64 maxRtt = 0;
    for (const Column& c : cols)
        maxRtt = std::max(maxRtt, c.hi);

    // Round trips above the loss band; the top of the scale a round number.
    const qint64 top = niceCeiling(std::max<qint64>(maxRtt, 100));
    const int rttBottom = area.bottom() - LossBandHeight - 2;
    const int rttHeight = std::max(1, rttBottom - area.top());
    const auto yOf = [&](qint64 us) { return rttBottom - int(std::lround(double(us) / double(top) * rttHeight)); };

    p.setPen(QPen(grid, 0));
    for (int i = 0; i <= 4; ++i) {
        const int y = yOf(top * i / 4);
        p.drawLine(area.left(), y, area.right(), y);
    }
    p.setPen(text);
    for (int i = 0; i <= 4; ++i) {
        const qint64 us = top * i / 4;
        const QRect r(0, yOf(us) - fontMetrics().height() / 2, area.left() - 4, fontMetrics().height());
        p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, i == 0 ? QStringLiteral("0") : monitor::formatRtt(us));
    }
    // Times under the plot, at round moments as far apart as the labels need.
    const qint64 first = firstMs();
    const qint64 last = lastMs();
    const int timeY = area.bottom() + 4;
    const int lineH = fontMetrics().height();
    const int labelW = fontMetrics().horizontalAdvance(QStringLiteral("MMM 00 0000")) + 12;
    const double msPerPx = double(last - first) / double(std::max(1, area.width()));
    qint64 step = TickSteps[std::size(TickSteps) - 1];
    for (const qint64 s : TickSteps) {
        if (double(s) / msPerPx >= labelW) {
            step = s;
            break;
        }
    }
    // Round in local time, so that an hour's label reads 14:00, not 14:00 in UTC's offset.
    const qint64 offset = qint64(monitor::localZone().offsetFromUtc(QDateTime::fromMSecsSinceEpoch(first))) * 1000;
    const qint64 roundStep = std::min(step, DayMs);
    for (qint64 t = ((first + offset) / roundStep + 1) * roundStep - offset; t < last; t += step) {
        const int x = xOf(t);
        p.setPen(QPen(grid, 0));
        drawUpright(p, x, area.top(), area.bottom());
        p.setPen(text);
        p.drawText(QRect(x - labelW / 2, timeY, labelW, lineH), Qt::AlignHCenter, tickLabel(t, step));
    }
    p.setPen(QPen(grid, 0));
    p.drawRect(area.adjusted(0, 0, -1, -1));

    QColor lineColor = pal.color(QPalette::Highlight);
    if (lineColor.lightness() < 60 || lineColor.lightness() > 220)
        lineColor = QColor(40, 120, 220);
    QColor bandColor = lineColor;
    bandColor.setAlpha(110);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Gathered first and drawn a kind at a time: a pen change per column cost more than the
    // drawing. The order stays right: the losses sit below the round trips, and every band is
    // down before the line that crosses it.
    int prevX = -1;
    int prevY = 0;
    qint64 prevLastMs = 0;
    const QRect band = lossBand();
    std::vector<QRect> losses;
    std::vector<QLine> bands;
    std::vector<QLine> segments;
    std::vector<QPoint> averages;
    std::vector<char> alone; // an average no line reaches: a probe on its own, drawn larger
    bands.reserve(cols.size());
    segments.reserve(cols.size());
    averages.reserve(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        const int x = area.left() + int(i);
        if (c.lost > 0) {
            const int h = std::max(2, int(std::ceil(double(LossBandHeight) * double(c.lost) / double(c.sent))));
            losses.emplace_back(x, band.bottom() - h + 1, 1, h);
            if (c.replies == 0)
                prevX = -1; // a column without replies breaks the line
        }
        if (c.replies == 0)
            continue;
        const int yHi = yOf(c.hi);
        const int yLo = yOf(c.lo);
        const int yAvg = yOf(qint64(c.sum / double(c.replies) + 0.5));
        if (yLo > yHi)
            bands.emplace_back(x, yHi, x, yLo);
        const bool joined = prevX >= 0 && c.firstMs - prevLastMs <= m_gapMs;
        if (joined) {
            segments.emplace_back(prevX, prevY, x, yAvg);
            alone.back() = false;
        }
        averages.emplace_back(x, yAvg);
        alone.push_back(!joined);
        prevX = x;
        prevY = yAvg;
        prevLastMs = c.lastMs;
    }
    for (const QRect& r : losses)
        p.fillRect(r, lossColor());
    p.setPen(QPen(bandColor, 1));
    for (const QLine& b : bands)
        drawUpright(p, b.x1(), b.y1(), b.y2());
    p.setPen(QPen(lineColor, 1));
    p.drawLines(segments.data(), int(segments.size()));
    p.drawPoints(averages.data(), int(averages.size()));

    int labelRight = area.left() - 1;
    int labelRow = 0;
    for (const monitor::StateEvent& e : std::as_const(m_events)) {
        if (e.state == HostState::Unknown || e.atMs < first || e.atMs > last)
            continue;
        const int x = xOf(e.atMs);
        const QColor c = e.state == HostState::Down       ? downColor()
                         : e.state == HostState::Degraded ? degradedColor()
                                                          : upColor();
        p.setPen(QPen(c, 2, Qt::DashLine));
        // Down to the loss band only: the losses right at a change stay in sight.
        p.drawLine(x, area.top(), x, band.top() - 2);
        p.setPen(c);
        const QString label = monitor::stateText(e.state);
        const int w = fontMetrics().horizontalAdvance(label);
        const int lx = x + 3 + w > area.right() ? x - 3 - w : x + 3;
        // Changes close together: their labels one under the other, not over each other.
        labelRow = lx <= labelRight ? labelRow + 1 : 0;
        labelRight = std::max(labelRight, lx + w);
        p.drawText(QPoint(lx, area.top() + fontMetrics().ascent() + labelRow * fontMetrics().height()), label);
    }
    // Over the changes' lines: the probe that made a change is often one on its own.
    for (std::size_t i = 0; i < averages.size(); ++i) {
        if (alone[i])
            p.fillRect(averages[i].x() - 1, averages[i].y() - 1, 3, 3, lineColor);
    }
}

void HistoryPlot::showSpan(qint64 fromMs, qint64 toMs)
{
    const qint64 span = std::clamp<qint64>(toMs - fromMs, MinSpanMs, MaxSpanMs);
    const qint64 mid = fromMs / 2 + toMs / 2;
    m_fromMs = toMs - fromMs == span ? fromMs : mid - span / 2;
    m_toMs = m_fromMs + span;
    m_fixed = true;
    update();
    Q_EMIT spanChanged(m_fromMs, m_toMs);
}

void HistoryPlot::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0)
        return;
    // Around the moment under the pointer: it stays where it is.
    const qint64 at = timeAt(int(event->position().x()));
    const double f = std::pow(0.8, steps);
    const qint64 first = firstMs();
    const qint64 last = lastMs();
    showSpan(at - qint64(double(at - first) * f), at + qint64(double(last - at) * f));
    event->accept();
}

void HistoryPlot::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragX = int(event->position().x());
        m_dragFrom = firstMs();
    }
    QWidget::mousePressEvent(event);
}

void HistoryPlot::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragX >= 0 && (event->buttons() & Qt::LeftButton)) {
        const qint64 span = lastMs() - firstMs();
        const double msPerPx = double(span) / double(std::max(1, plotArea().width() - 1));
        const qint64 from = m_dragFrom - qint64(double(int(event->position().x()) - m_dragX) * msPerPx);
        showSpan(from, from + span);
    }
    QWidget::mouseMoveEvent(event);
}

void HistoryPlot::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragX = -1;
    QWidget::mouseReleaseEvent(event);
}

void HistoryPlot::mouseDoubleClickEvent(QMouseEvent* event)
{
    m_dragX = -1;
    Q_EMIT resetAsked();
    event->accept();
}

bool HistoryPlot::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = tipAt(help->pos().x());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
}

HistoryWindow::HistoryWindow(HostWatch& watch, quint64 key, QWidget* parent, MainDialogs* dialogs,
                             platform::MessageBox* messages)
    : QDialog(parent), m_watch(watch), m_key(key), m_dialogs(dialogs), m_messages(messages)
{
    setObjectName(QStringLiteral("frmHistory"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblSummary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* bar = new QHBoxLayout;
    m_range = new QComboBox(this);
    m_range->setObjectName(QStringLiteral("cmbRange"));
    m_range->addItems({QStringLiteral("Last 10 minutes"), QStringLiteral("Last hour"), QStringLiteral("Last 6 hours"),
                       QStringLiteral("Last day"), QStringLiteral("Last week"), QStringLiteral("Last month"),
                       QStringLiteral("Last year"), QStringLiteral("Since the list was loaded")});
    m_range->setCurrentIndex(m_range->count() - 1);
    m_export = new QPushButton(QStringLiteral("Export..."), this);
    m_export->setObjectName(QStringLiteral("btnExport"));
    bar->addWidget(m_range);
    bar->addStretch(1);
    bar->addWidget(m_export);
    m_plot = new HistoryPlot(this);
    m_off = new QLabel(this);
    m_off->setObjectName(QStringLiteral("lblHistoryOff"));
    m_off->setWordWrap(true);
    m_off->hide();
    layout->addWidget(m_summary);
    layout->addWidget(m_off);
    layout->addLayout(bar);
    layout->addWidget(m_plot, 1);
    connect(&watch, &HostWatch::recorded, this, &HistoryWindow::refresh);
    connect(m_range, &QComboBox::currentIndexChanged, this, [this] {
        m_zoomed = false;
        refresh();
    });
    connect(m_plot, &HistoryPlot::resetAsked, this, [this] {
        m_zoomed = false;
        refresh();
    });
    connect(m_plot, &HistoryPlot::spanChanged, this, [this](qint64 from, qint64 to) {
        m_zoomed = true;
        load(from, to);
    });
    connect(m_export, &QPushButton::clicked, this, &HistoryWindow::exportShown);
    refresh();
}

QVector<qint64> HistoryWindow::rangesMs()
{
    return {10 * MinuteMs, HourMs, 6 * HourMs, DayMs, 7 * DayMs, 30 * DayMs, 365 * DayMs, 0};
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
    if (m_zoomed)
        return; // the user's span stays put while the sweeps go on
    const qint64 range = rangesMs().value(m_range->currentIndex());
    // Up to and with this moment: a probe stamped now is shown.
    const qint64 end = m_watch.now() + 1;
    // Since the list was loaded: the stretch the row's figures count, a minute at least.
    const qint64 from = range == 0 ? std::min(m_watch.countingSinceMs(), end - MinuteMs) : end - range;
    load(from, end);
}

void HistoryWindow::load(qint64 fromMs, qint64 toMs)
{
    m_fromMs = fromMs;
    m_toMs = toMs;
    const monitor::HostStats* s = m_watch.monitor().stats(m_key);
    if (!s)
        return;
    monitor::HistoryStore* store = m_watch.historyStore();
    m_off->setText(store ? QString() : m_watch.historyOff());
    m_off->setVisible(!store);
    m_export->setEnabled(store && m_dialogs && m_messages);
    monitor::HistorySlice slice;
    if (store)
        slice = store->slice(s->name, s->address, fromMs, toMs);
    m_plot->setData(std::move(slice.points), std::move(slice.rollups), std::move(slice.events), fromMs, toMs);
}

QByteArray HistoryWindow::shownCsv() const
{
    QList<QStringList> rows;
    if (!m_plot->rollups().isEmpty()) {
        rows.append({QStringLiteral("From"), QStringLiteral("Seconds"), QStringLiteral("Sent"),
                     QStringLiteral("Received"), QStringLiteral("Min ms"), QStringLiteral("Avg ms"),
                     QStringLiteral("Max ms"), QStringLiteral("Status")});
        const auto ms = [](qint64 us) { return us < 0 ? QString() : QString::number(double(us) / 1000.0, 'f', 3); };
        for (const monitor::HistoryRollup& r : m_plot->rollups()) {
            rows.append({csv::isoTime(r.atMs), QString::number(r.spanMs / 1000), QString::number(r.sent),
                         QString::number(r.received), ms(r.minUs), ms(r.avgUs), ms(r.maxUs),
                         r.status == 0 ? QStringLiteral("OK") : Sweep::statusText(r.status)});
        }
    } else {
        rows.append({QStringLiteral("Time"), QStringLiteral("Round trip ms"), QStringLiteral("Result")});
    }
    const bool rollupHeader = !m_plot->rollups().isEmpty();
    for (const HistoryPoint& p : m_plot->points()) {
        if (p.atMs < m_fromMs || p.atMs >= m_toMs)
            continue;
        const QString rtt = p.kind == SampleKind::Reply ? QString::number(double(p.rttUs) / 1000.0, 'f', 3) : QString();
        const QString result = p.kind == SampleKind::Reply ? QStringLiteral("OK") : QStringLiteral("No reply");
        if (rollupHeader)
            rows.append({csv::isoTime(p.atMs), QStringLiteral("0"), QStringLiteral("1"),
                         QString::number(p.kind == SampleKind::Reply ? 1 : 0), rtt, rtt, rtt, result});
        else
            rows.append({csv::isoTime(p.atMs), rtt, result});
    }
    return csv::document(rows);
}

void HistoryWindow::exportShown()
{
    if (!m_dialogs || !m_messages)
        return;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString path = m_dialogs->saveFile(this, QStringLiteral("Export History"),
                                             QDir(folder).filePath(QStringLiteral("history.csv")),
                                             QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    const QString why = csv::writeWholeFile(path, shownCsv());
    if (!why.isEmpty()) {
        m_messages->show(
            QStringLiteral("The history could not be exported to %1: %2").arg(QDir::toNativeSeparators(path), why),
            platform::MsgExclamation, windowTitle());
    }
}

void HistoryWindow::showFor(HostWatch& watch, quint64 key, QWidget* owner, MainDialogs& dialogs,
                            platform::MessageBox& messages)
{
    const auto open = owner->findChildren<HistoryWindow*>();
    for (HistoryWindow* w : open) {
        if (w->key() == key) {
            w->raise();
            w->activateWindow();
            return;
        }
    }
    auto* window = new HistoryWindow(watch, key, owner, &dialogs, &messages);
    window->setWindowFlag(Qt::Window);
    window->resize(760, 400);
    window->show();
}
