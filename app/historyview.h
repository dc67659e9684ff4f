#pragma once

#include "monitor/history.h"

#include <QDialog>
#include <QVector>
#include <QWidget>

class QLabel;
class HostWatch;

// Round-trip time over time for one host: replies as a line (a pixel column shows the range of
// its replies), losses as red marks along the bottom, state changes as vertical lines (red: down,
// green: up again). Drawn with QPainter: one plot of one kind needs no charting library.
class HistoryPlot : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryPlot(QWidget* parent = nullptr);

    // The span shown runs from the first point or event to the last, a minute at least.
    void setData(QVector<monitor::HistoryPoint> points, QVector<monitor::StateEvent> events);
    const QVector<monitor::HistoryPoint>& points() const { return m_points; }

    // The colours, fixed so that they read on light and dark palettes alike.
    static QColor lossColor();
    static QColor downColor();
    static QColor upColor();
    static QColor degradedColor();

    // The plot area within the widget, where x runs over time and y over the round trip.
    QRect plotArea() const;
    // The band along the bottom of the plot area where losses are marked.
    QRect lossBand() const;
    // The x of a moment in the plot area (clamped to it).
    int xOf(qint64 ms) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qint64 firstMs() const;
    qint64 lastMs() const;

    QVector<monitor::HistoryPoint> m_points;
    QVector<monitor::StateEvent> m_events;
    qint64 m_maxRttUs = 0;
};

// A window with the statistics and the history of one host, kept up to date after each sweep.
// It closes by itself when the host leaves the list.
class HistoryWindow : public QDialog
{
    Q_OBJECT
public:
    HistoryWindow(HostWatch& watch, quint64 key, QWidget* parent = nullptr);
    // Brings the owner's history window of the host to the front, or opens one.
    static void showFor(HostWatch& watch, quint64 key, QWidget* owner);

    quint64 key() const { return m_key; }
    HistoryPlot* plot() const { return m_plot; }
    QString summary() const;

public Q_SLOTS:
    void refresh();

private:
    HostWatch& m_watch;
    quint64 m_key;
    QLabel* m_summary = nullptr;
    HistoryPlot* m_plot = nullptr;
};
