// The history plot as drawn (losses and state changes where they happened, on light and dark
// palettes), the history window following the sweeps, and the Alerts dialog driven by keys.
#include "app/alertsdialog.h"
#include "app/historyview.h"
#include "app/hostwatch.h"
#include "app/optionsdialog.h"
#include "app/sweepview.h"
#include "monitor/sweep.h"
#include "platform/appinfo.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/toolbar.h"
#include "tests/app/appfakes.h"
#include "tests/support/fakes.h"
#include "tests/support/sweeprig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

using monitor::HistoryPoint;
using monitor::HostState;
using monitor::SampleKind;

namespace {

constexpr qint64 T0 = 1'796'644'800'000;

HistoryPoint reply(qint64 at, qint64 us)
{
    return HistoryPoint{at, SampleKind::Reply, us};
}

HistoryPoint lost(qint64 at)
{
    return HistoryPoint{at, SampleKind::TimedOut, -1};
}

bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
}

// Whether column x of the image has a pixel of colour c between y0 and y1.
bool columnHas(const QImage& img, int x, int y0, int y1, const QColor& c)
{
    for (int dx = -1; dx <= 1; ++dx) {
        for (int y = y0; y <= y1; ++y) {
            if (near(img.pixelColor(x + dx, y), c))
                return true;
        }
    }
    return false;
}

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(30, 30, 30));
    p.setColor(QPalette::Base, QColor(20, 20, 20));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    p.setColor(QPalette::WindowText, QColor(230, 230, 230));
    p.setColor(QPalette::Highlight, QColor(60, 120, 200));
    return p;
}

} // namespace

class tst_HistoryView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lossesAndChangesAreDrawnWhereTheyHappened_data();
    void lossesAndChangesAreDrawnWhereTheyHappened();
    void aDayOfPointsFitsTheWidth();
    void theLineStopsWhereNothingWasProbed_data();
    void theLineStopsWhereNothingWasProbed();
    void aProbeOnItsOwnIsSeen();
    void windowFollowsSweepsAndClosesWhenTheHostGoes_data();
    void windowFollowsSweepsAndClosesWhenTheHostGoes();
    void bandsAndLossShares_data();
    void bandsAndLossShares();
    void tallBandsAreBlendedOnceAllTheWay_data();
    void tallBandsAreBlendedOnceAllTheWay();
    void wheelZoomsAroundThePointerAndDragPans();
    void windowShowsEarlierSessionsFromTheStore();
    void alertsDialogByKeyboard();
    void alertsDialogCountsInWords_data();
    void alertsDialogCountsInWords();
    void alertsDialogCancelKeepsSettings();
    void optionsDialogKeepsTheIntervalInRange();
    void optionsDialogTakesThePayload_data();
    void optionsDialogTakesThePayload();
};

void tst_HistoryView::lossesAndChangesAreDrawnWhereTheyHappened_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    QTest::newRow("dark") << true;
}

void tst_HistoryView::lossesAndChangesAreDrawnWhereTheyHappened()
{
    QFETCH(bool, dark);
    HistoryPlot plot;
    if (dark)
        plot.setPalette(darkPalette());
    plot.resize(600, 240);
    QVector<HistoryPoint> points;
    // Ten minutes a sweep a second: replies, a stretch of losses from minute 4 to 6, replies again.
    for (qint64 s = 0; s < 600; ++s) {
        const qint64 at = T0 + s * 1000;
        points.append(s >= 240 && s < 360 ? lost(at) : reply(at, 2000 + (s % 7) * 100));
    }
    const QVector<monitor::StateEvent> events{
        {T0, HostState::Up, 0}, {T0 + 242000, HostState::Down, 11010}, {T0 + 360000, HostState::Up, 0}};
    plot.setData(points, events);
    const QImage img = plot.grab().toImage();
    const QRect band = plot.lossBand();

    // Losses in the band under their minutes, none under the replies.
    QVERIFY(columnHas(img, plot.xOf(T0 + 300000), band.top(), band.bottom(), HistoryPlot::lossColor()));
    QVERIFY(!columnHas(img, plot.xOf(T0 + 120000), band.top(), band.bottom(), HistoryPlot::lossColor()));
    QVERIFY(!columnHas(img, plot.xOf(T0 + 480000), band.top(), band.bottom(), HistoryPlot::lossColor()));
    // The changes as lines through the plot.
    const QRect area = plot.plotArea();
    QVERIFY(columnHas(img, plot.xOf(T0 + 242000), area.top() + 20, area.top() + 60, HistoryPlot::downColor()));
    QVERIFY(columnHas(img, plot.xOf(T0 + 360000), area.top() + 20, area.top() + 60, HistoryPlot::upColor()));
    // The background follows the palette: a dark one stays dark.
    const QColor base = img.pixelColor(area.center().x(), area.top() + 2);
    QCOMPARE(base.lightness() < 128, dark);
}

void tst_HistoryView::theLineStopsWhereNothingWasProbed_data()
{
    // Two stretches of 1 ms replies, the second from `resumeS` on; whether the line crosses the
    // middle between them. As raw samples a second apart, or as minute roll-ups.
    QTest::addColumn<bool>("rollups");
    QTest::addColumn<int>("resumeS");
    QTest::addColumn<bool>("crossed");
    QTest::newRow("samples, no gap") << false << 300 << true;
    QTest::newRow("samples, a pause of a minute") << false << 360 << false;
    QTest::newRow("minutes one after another") << true << 300 << true;
    QTest::newRow("minutes with two missing") << true << 420 << false;
}

void tst_HistoryView::theLineStopsWhereNothingWasProbed()
{
    QFETCH(bool, rollups);
    QFETCH(int, resumeS);
    QFETCH(bool, crossed);
    QVector<HistoryPoint> points;
    QVector<monitor::HistoryRollup> minutes;
    const auto stretch = [&](int fromS, int toS) {
        for (int t = fromS; t < toS; t += rollups ? 60 : 1) {
            if (rollups)
                minutes.append({T0 + t * 1000LL, 60000, 60, 60, 1000, 1000, 1000, 0});
            else
                points.append(reply(T0 + t * 1000LL, 1000));
        }
    };
    stretch(0, 300);
    stretch(resumeS, resumeS + 300);
    HistoryPlot plot;
    plot.resize(600, 240);
    plot.setData(points, minutes, {}, T0, T0 + (resumeS + 300) * 1000LL);
    const QImage img = plot.grab().toImage();
    const QRect area = plot.plotArea();
    const int x = (plot.xOf(T0 + 299000) + plot.xOf(T0 + resumeS * 1000LL)) / 2;
    // The line is blue; the grid and the background are grey.
    bool drawn = false;
    for (int y = area.top(); y < plot.lossBand().top(); ++y) {
        const QColor c = img.pixelColor(x, y);
        drawn = drawn || c.blue() > c.red() + 60;
    }
    QCOMPARE(drawn, crossed);
}

// A single sweep (a Ping, not a continuous run), far from any other: a dot, not one lost pixel.
void tst_HistoryView::aProbeOnItsOwnIsSeen()
{
    HistoryPlot plot;
    plot.resize(600, 240);
    QVector<HistoryPoint> points;
    for (int i = 0; i < 60; ++i)
        points.append(reply(T0 + i * 1000, 4000)); // a minute of a continuous run first
    points.append(reply(T0 + 3000000, 1000));
    plot.setData(points, {}, {}, T0 - 60000, T0 + 3600000);
    const QImage img = plot.grab().toImage();
    const int x = plot.xOf(T0 + 3000000);
    int blue = 0;
    for (int dx = -2; dx <= 2; ++dx) {
        for (int y = plot.plotArea().top(); y < plot.lossBand().top(); ++y) {
            const QColor c = img.pixelColor(x + dx, y);
            blue += c.blue() > c.red() + 60;
        }
    }
    QVERIFY2(blue >= 9, qPrintable(QString::number(blue)));
}

void tst_HistoryView::aDayOfPointsFitsTheWidth()
{
    HistoryPlot plot;
    plot.resize(400, 200);
    QVector<HistoryPoint> points;
    points.reserve(86400);
    for (qint64 s = 0; s < 86400; ++s)
        points.append(s % 1000 == 0 ? lost(T0 + s * 1000) : reply(T0 + s * 1000, 500 + s % 300));
    plot.setData(points, {});
    const QRect area = plot.plotArea();
    // First and last moments map to the edges of the plot, never beyond.
    QCOMPARE(plot.xOf(T0), area.left());
    QCOMPARE(plot.xOf(T0 + 86399000), area.right());
    QCOMPARE(plot.xOf(T0 - 5000), area.left());
    QCOMPARE(plot.xOf(T0 + 90000000), area.right());
    const QImage img = plot.grab().toImage();
    QVERIFY(!img.isNull());
}

void tst_HistoryView::windowFollowsSweepsAndClosesWhenTheHostGoes_data()
{
    // Where the history file is, relative to a fresh folder; whether it can be kept there.
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("kept");
    QTest::newRow("kept") << QStringLiteral("history.sqlite") << true;
    QTest::newRow("a folder in its place") << QString() << false;
}

void tst_HistoryView::windowFollowsSweepsAndClosesWhenTheHostGoes()
{
    QFETCH(QString, file);
    QFETCH(bool, kept);
    QTemporaryDir dir;
    SweepRig rig;
    auto& list = rig.list;
    auto& prober = rig.prober;
    auto& sweep = rig.sweep;
    HostWatch watch(list, sweep, {});
    watch.openHistory(dir.filePath(file));
    watch.setDownAfter(1);
    QVector<platform::ReportListModel::Row> rows(1);
    rows[0].text = QStringLiteral("mail");
    rows[0].sub[0] = QStringLiteral("127.0.0.5");
    rows[0].checked = true;
    rows[0].key = 7;
    list.items()->append(std::move(rows));

    RecordingDialogs dialogs;
    RecordingMessageBox messages;
    auto* window = new HistoryWindow(watch, 7, nullptr, &dialogs, &messages);
    QPointer<HistoryWindow> alive(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY2(window->summary().contains(QLatin1String("Not probed yet")), qPrintable(window->summary()));
    QVERIFY(window->windowTitle().contains(QLatin1String("mail (127.0.0.5)")));
    // Without a history the window says why, and offers nothing to export; the figures since
    // the list was loaded are there all the same.
    auto* off = window->findChild<QLabel*>(QStringLiteral("lblHistoryOff"));
    QVERIFY(off);
    QCOMPARE(off->isVisible(), !kept);
    QCOMPARE(window->findChild<QPushButton*>(QStringLiteral("btnExport"))->isEnabled(), kept);
    if (!kept)
        QVERIFY2(off->text().contains(QDir::toNativeSeparators(dir.path())), qPrintable(off->text()));

    prober.set(QStringLiteral("127.0.0.5"), 11010);
    sweep.PingList();
    QTRY_VERIFY(sweep.isIdle());
    QTRY_COMPARE(window->plot()->points().size(), kept ? 1 : 0);
    QTRY_VERIFY2(window->summary().contains(QLatin1String("Down since")), qPrintable(window->summary()));
    prober.set(QStringLiteral("127.0.0.5"), 0, 2);
    sweep.PingList();
    QTRY_VERIFY2(window->summary().contains(QLatin1String("Up since")), qPrintable(window->summary()));
    QCOMPARE(window->plot()->points().size(), kept ? 2 : 0);

    // A Reload makes every row anew: the window has nothing left to show and goes.
    list.clear();
    QTRY_VERIFY(alive.isNull());
}

void tst_HistoryView::bandsAndLossShares_data()
{
    // One minute roll-up across the whole plot: its band, and a loss mark as tall as its share.
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<bool>("markInUpperHalf"); // of the loss band
    QTest::newRow("no loss") << 60LL << 60LL << false;
    QTest::newRow("a quarter lost") << 60LL << 45LL << false;
    QTest::newRow("all but one lost") << 60LL << 1LL << true;
}

void tst_HistoryView::bandsAndLossShares()
{
    QFETCH(qint64, sent);
    QFETCH(qint64, received);
    QFETCH(bool, markInUpperHalf);
    HistoryPlot plot;
    plot.resize(500, 240);
    const monitor::HistoryRollup minute{T0, 60000, sent, received, 1000, 5000, 9000, received < sent ? 11010 : 0};
    plot.setData({}, {minute}, {{T0 + 30000, HostState::Down, 11010}}, T0, T0 + 60000);
    const QImage img = plot.grab().toImage();
    const QRect band = plot.lossBand();
    const QRect area = plot.plotArea();
    const int x = plot.xOf(T0 + 15000);
    const QColor base = img.pixelColor(x, area.top() + 2);
    // The band: drawn from the minimum's height to the maximum's, background above it.
    const int rttBottom = band.top() - 2;
    const int yMax = rttBottom - (rttBottom - area.top()) * 9 / 10; // top of the scale is 10 ms
    QVERIFY(img.pixelColor(x, (yMax + rttBottom) / 2) != base);
    QCOMPARE(img.pixelColor(x, yMax - 6), base);
    const bool anyLoss = received < sent;
    QCOMPARE(columnHas(img, x, band.bottom() - 1, band.bottom(), HistoryPlot::lossColor()), anyLoss);
    QCOMPARE(columnHas(img, x, band.top(), band.top() + 2, HistoryPlot::lossColor()), markInUpperHalf);
    // The state change: a dashed line through the plot.
    QVERIFY(columnHas(img, plot.xOf(T0 + 30000), area.top() + 20, area.top() + 60, HistoryPlot::downColor()));
    // The tool tip tells the column's figures.
    const QString tip = plot.tipAt(x);
    QVERIFY2(tip.contains(QLatin1String("1.00 ms")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("of %1").arg(sent)), qPrintable(tip));
}

void tst_HistoryView::tallBandsAreBlendedOnceAllTheWay_data()
{
    // The plot's height, so that the band is a few pixels or many hundreds.
    QTest::addColumn<int>("height");
    QTest::newRow("short") << 150;
    QTest::newRow("ordinary") << 260;
    QTest::newRow("tall") << 700;
    QTest::newRow("very tall") << 1400;
}

void tst_HistoryView::tallBandsAreBlendedOnceAllTheWay()
{
    QFETCH(int, height);
    HistoryPlot plot;
    plot.resize(500, height);
    plot.setData({}, {{T0, 60000, 60, 60, 1000, 5000, 9000, 0}}, {}, T0, T0 + 60000);
    const QImage img = plot.grab().toImage();
    const QRect area = plot.plotArea();
    const int x = plot.xOf(T0 + 7000); // between the times' grid lines
    const QColor base = img.pixelColor(x, area.top() + 2);
    const int rttBottom = plot.lossBand().top() - 3; // the zero line
    const int yAvg = rttBottom - (rttBottom - area.top()) / 2;
    // From the maximum down to the minimum, every pixel blended once: the band over the
    // background or over a grid line, never background (missed) or a third shade (twice).
    int top = area.top() + 2; // below the frame
    while (top < rttBottom && img.pixelColor(x, top) == base)
        ++top;
    int bottom = rttBottom - 1;
    while (bottom > top && img.pixelColor(x, bottom) == base)
        --bottom;
    QVERIFY(bottom - top > (rttBottom - area.top()) * 7 / 10);
    QSet<QRgb> shades;
    for (int y = top; y <= bottom; ++y) {
        if (std::abs(y - yAvg) > 1)
            shades.insert(img.pixel(x, y));
    }
    QVERIFY(!shades.contains(base.rgb()));
    QVERIFY2(shades.size() <= 2, qPrintable(QString::number(shades.size())));
}

void tst_HistoryView::wheelZoomsAroundThePointerAndDragPans()
{
    HistoryPlot plot;
    plot.resize(600, 240);
    plot.setData({reply(T0, 1000)}, {}, {}, T0, T0 + 3600000);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    QSignalSpy span(&plot, &HistoryPlot::spanChanged);
    QSignalSpy reset(&plot, &HistoryPlot::resetAsked);
    const QRect area = plot.plotArea();
    const QPoint at(area.left() + area.width() / 4, area.center().y());
    const qint64 under = plot.timeAt(at.x());
    QWheelEvent wheel(at, plot.mapToGlobal(at), {}, QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(&plot, &wheel);
    QCOMPARE(span.size(), 1);
    QVERIFY(plot.lastMs() - plot.firstMs() < 3600000 * 2 / 3); // two notches in
    QVERIFY(std::abs(plot.timeAt(at.x()) - under) < 30000);    // the moment stays under the pointer

    const qint64 before = plot.firstMs();
    const qint64 width = plot.lastMs() - plot.firstMs();
    QTest::mousePress(&plot, Qt::LeftButton, {}, at);
    QTest::mouseMove(&plot, at + QPoint(100, 0));
    QTest::mouseRelease(&plot, Qt::LeftButton, {}, at + QPoint(100, 0));
    QVERIFY(plot.firstMs() < before); // dragged right: earlier times come in
    QCOMPARE(plot.lastMs() - plot.firstMs(), width);
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, at);
    QCOMPARE(reset.size(), 1);
}

void tst_HistoryView::windowShowsEarlierSessionsFromTheStore()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        // A run of the program before this one.
        monitor::HistoryStore earlier(path);
        for (int i = 0; i < 100; ++i)
            earlier.add(QStringLiteral("mail"), QStringLiteral("127.0.0.5"), now - 3600000 + i * 1000, 0, 700);
    }
    SweepRig rig;
    HostWatch watch(rig.list, rig.sweep, {});
    watch.openHistory(path);
    QVERIFY(watch.historyStore());
    QVector<platform::ReportListModel::Row> rows(1);
    rows[0].text = QStringLiteral("mail");
    rows[0].sub[0] = QStringLiteral("127.0.0.5");
    rows[0].checked = true;
    rows[0].key = 7;
    rig.list.items()->append(std::move(rows));
    rig.prober.set(QStringLiteral("127.0.0.5"), 0, 2);
    rig.sweep.PingList();
    QTRY_VERIFY(rig.sweep.isIdle());

    // Written or not yet (the writer commits once a second), this session's probe joins them.
    RecordingDialogs dialogs;
    RecordingMessageBox messages;
    HistoryWindow window(watch, 7, nullptr, &dialogs, &messages);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.rangeChooser()->setCurrentIndex(2); // the last 6 hours
    QCOMPARE(window.plot()->points().size(), 101);
    watch.historyStore()->sync();
    window.refresh();
    QCOMPARE(window.plot()->points().size(), 101);

    // Export: the range shown goes to the file chosen, whole; a place that cannot be written is
    // told, and Cancel writes nothing.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* exportButton = window.findChild<QPushButton*>(QStringLiteral("btnExport"));
    const QString out = dir.filePath(QStringLiteral("shown.csv"));
    dialogs.saveAs = out;
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QVERIFY(dialogs.suggested.value(0).endsWith(QLatin1String("history.csv")));
    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray csv = written.readAll();
    QCOMPARE(csv.count("\r\n"), 102); // a header and a line a sample
    QVERIFY(csv.contains(",0.700,OK"));
    QVERIFY(messages.shown.isEmpty());
    dialogs.saveAs = dir.path(); // a folder
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(messages.shown.size(), 1);
    QVERIFY2(messages.shown[0].text.contains(QDir::toNativeSeparators(dir.path())), qPrintable(messages.shown[0].text));
    dialogs.saveAs.clear();
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(dialogs.suggested.size(), 3);
    QCOMPARE(messages.shown.size(), 1);
}

void tst_HistoryView::alertsDialogByKeyboard()
{
    AlertSettings given;
    given.rules.downAfter = 3;
    given.logPath = QStringLiteral("/tmp/nowhere/outages.csv");
    AlertsDialog dialog(given);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* spin = dialog.findChild<QSpinBox*>(QStringLiteral("spnDownAfter"));
    auto* log = dialog.findChild<QCheckBox*>(QStringLiteral("chkOutageLog"));
    QVERIFY(spin && log);
    QCOMPARE(spin->value(), 3);
    QVERIFY(!log->isChecked());
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("lblLogPath"))->text().contains(given.logPath));

    spin->setFocus();
    QTRY_VERIFY(spin->hasFocus());
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, QStringLiteral("5"));
    QTest::keyClick(spin, Qt::Key_Up);
    // The other thresholds follow in order, each typed over its default.
    const QList<std::pair<const char*, QString>> typed = {{"spnUpAfter", QStringLiteral("2")},
                                                          {"spnRecentProbes", QStringLiteral("10")},
                                                          {"spnDegradedLoss", QStringLiteral("30")},
                                                          {"spnDegradedRtt", QStringLiteral("150")}};
    QWidget* at = spin;
    for (const auto& [name, text] : typed) {
        QTest::keyClick(at, Qt::Key_Tab);
        auto* next = dialog.findChild<QSpinBox*>(QString::fromLatin1(name));
        QVERIFY2(next, name);
        QTRY_VERIFY2(next->hasFocus(), name);
        QTest::keyClick(next, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(next, text);
        at = next;
    }
    QTest::keyClick(at, Qt::Key_Tab);
    QTRY_VERIFY(log->hasFocus());
    QTest::keyClick(log, Qt::Key_Space);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTRY_COMPARE(dialog.result(), int(QDialog::Accepted));
    const AlertSettings got = dialog.settings();
    QCOMPARE(got.rules.downAfter, 6);
    const monitor::AlertRules rules = got.rules;
    QCOMPARE(rules.upAfter, 2);
    QCOMPARE(rules.recentProbes, 10);
    QCOMPARE(rules.degradedLossPercent, 30);
    QCOMPARE(rules.degradedRttMs, 150);
    QVERIFY(got.outageLog);
    QCOMPARE(got.logPath, given.logPath);
}

void tst_HistoryView::alertsDialogCountsInWords_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("one failure") << u"spnDownAfter"_qs << u"1"_qs << u"1 failed probe in a row"_qs;
    QTest::newRow("ten failures, typed through one")
        << u"spnDownAfter"_qs << u"10"_qs << u"10 failed probes in a row"_qs;
    QTest::newRow("one reply") << u"spnUpAfter"_qs << u"1"_qs << u"1 reply in a row"_qs;
    QTest::newRow("twelve replies") << u"spnUpAfter"_qs << u"12"_qs << u"12 replies in a row"_qs;
}

void tst_HistoryView::alertsDialogCountsInWords()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    AlertsDialog dialog(AlertSettings{});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* spin = dialog.findChild<QSpinBox*>(box);
    QVERIFY(spin);
    spin->setFocus();
    QTRY_VERIFY(spin->hasFocus());
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, typed);
    QTEST(spin->text(), "shown");
    QCOMPARE(spin->value(), typed.toInt());
}

void tst_HistoryView::optionsDialogKeepsTheIntervalInRange()
{
    OptionsDialog dialog(ProbeSettings{50}); // below the least a settings file may hold
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* spin = dialog.findChild<QSpinBox*>(QStringLiteral("spnIntervalMs"));
    QVERIFY(spin);
    QCOMPARE(spin->value(), ProbeSettings::MinIntervalMs);
    spin->setFocus();
    QTRY_VERIFY(spin->hasFocus());
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, QStringLiteral("99999999"));
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTRY_COMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.settings().intervalMs <= ProbeSettings::MaxIntervalMs);
}

void tst_HistoryView::optionsDialogTakesThePayload_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("payload");
    QTest::newRow("none") << QStringLiteral("0") << 0;
    QTest::newRow("a full IPv4 link") << QStringLiteral("1472") << 1472;
    QTest::newRow("a byte past it: the last digit is not taken") << QStringLiteral("1473") << 147;
}

void tst_HistoryView::optionsDialogTakesThePayload()
{
    QFETCH(QString, typed);
    QFETCH(int, payload);
    OptionsDialog dialog(ProbeSettings{});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* spin = dialog.findChild<QSpinBox*>(QStringLiteral("spnPayloadBytes"));
    QVERIFY(spin);
    QCOMPARE(spin->value(), 5); // what every request carried before there was a choice
    QVERIFY(spin->toolTip().contains(QLatin1String("1452")));
    spin->setFocus();
    QTRY_VERIFY(spin->hasFocus());
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, typed);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTRY_COMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.settings().payloadBytes, payload);
}

void tst_HistoryView::alertsDialogCancelKeepsSettings()
{
    AlertSettings given;
    given.rules.downAfter = 250; // out of range in a settings file: shown as the most there can be
    AlertsDialog dialog(given);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* spin = dialog.findChild<QSpinBox*>(QStringLiteral("spnDownAfter"));
    QCOMPARE(spin->value(), monitor::HostMonitor::MaxDownAfter);
    QTest::keyClick(spin, Qt::Key_Down);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTRY_COMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(tst_HistoryView)
#include "tst_historyview.moc"
