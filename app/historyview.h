#pragma once

#include "monitor/history.h"
#include "monitor/historystore.h"

#include <QDialog>
#include <QVector>
#include <QWidget>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class HostWatch;
class MainDialogs;

namespace platform {
class MessageBox;
}

// Round-trip time over time for one host. Each pixel column shows the minimum, average and
// maximum of what falls into it (a band; a single point where the points fit), losses as red
// marks along the bottom as tall as the share lost, state changes as dashed vertical lines (red:
// down, green: up again). Minute and hour roll-ups are drawn the same way as raw samples. The
// wheel zooms around the pointer, dragging pans, a double click asks for the chosen range again.
// Drawn with QPainter: one plot of one kind needs no charting library.
class HistoryPlot : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryPlot(QWidget* parent = nullptr);

    // The span shown runs from the first point or event to the last, a minute at least.
    void setData(QVector<monitor::HistoryPoint> points, QVector<monitor::StateEvent> events);
    // The span shown is [fromMs, toMs), whatever the data cover.
    void setData(QVector<monitor::HistoryPoint> points, QVector<monitor::HistoryRollup> rollups,
                 QVector<monitor::StateEvent> events, qint64 fromMs, qint64 toMs);
    const QVector<monitor::HistoryPoint>& points() const { return m_points; }
    const QVector<monitor::HistoryRollup>& rollups() const { return m_rollups; }
    qint64 firstMs() const;
    qint64 lastMs() const;
    // The moment at x in the plot area.
    qint64 timeAt(int x) const;
    // What the tool tip at x says.
    QString tipAt(int x) const;

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

Q_SIGNALS:
    // The user zoomed or panned to [fromMs, toMs).
    void spanChanged(qint64 fromMs, qint64 toMs);
    // A double click: back to the range chosen.
    void resetAsked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Column
    {
        qint64 sent = 0;
        qint64 lost = 0;
        qint64 lo = -1;
        qint64 hi = -1;
        double sum = 0;
        qint64 replies = 0;
        std::int32_t status = 0;
        qint64 firstMs = 0; // the span its results cover
        qint64 lastMs = 0;
    };
    std::vector<Column> columns() const;
    void showSpan(qint64 fromMs, qint64 toMs);
    void measureGap();

    QVector<monitor::HistoryPoint> m_points;
    QVector<monitor::HistoryRollup> m_rollups;
    QVector<monitor::StateEvent> m_events;
    qint64 m_gapMs = 1;   // samples further apart were not probed in between: the line stops
    bool m_fixed = false; // the span is set, not taken from the data
    qint64 m_fromMs = 0;
    qint64 m_toMs = 0;
    int m_dragX = -1;
    qint64 m_dragFrom = 0;
};

// A window with the statistics and the history of one host, kept up to date after each sweep.
// It closes by itself when the host leaves the list.
class HistoryWindow : public QDialog
{
    Q_OBJECT
public:
    // Export asks dialogs where to write and tells a failure through messages; without them
    // there is no export.
    HistoryWindow(HostWatch& watch, quint64 key, QWidget* parent = nullptr, MainDialogs* dialogs = nullptr,
                  platform::MessageBox* messages = nullptr);
    // Brings the owner's history window of the host to the front, or opens one.
    static void showFor(HostWatch& watch, quint64 key, QWidget* owner, MainDialogs& dialogs,
                        platform::MessageBox& messages);

    quint64 key() const { return m_key; }
    HistoryPlot* plot() const { return m_plot; }
    QString summary() const;

    // The ranges offered, in the order of the chooser; 0 for "since the list was loaded".
    static QVector<qint64> rangesMs();
    QComboBox* rangeChooser() const { return m_range; }
    // The shown range's samples (or roll-ups where the samples are gone) as CSV.
    QByteArray shownCsv() const;

public Q_SLOTS:
    void refresh();
    void exportShown();

private:
    void load(qint64 fromMs, qint64 toMs);

    HostWatch& m_watch;
    quint64 m_key;
    MainDialogs* m_dialogs;
    platform::MessageBox* m_messages;
    QLabel* m_summary = nullptr;
    QLabel* m_off = nullptr; // why there is no history to show
    QComboBox* m_range = nullptr;
    QPushButton* m_export = nullptr;
    HistoryPlot* m_plot = nullptr;
    bool m_zoomed = false; // the user's span holds until a double click or another range
    qint64 m_fromMs = 0;
    qint64 m_toMs = 0;
};
