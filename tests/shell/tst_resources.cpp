#include "resources/artwork.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QTest>

#include <cmath>
#include <optional>

namespace {

// A pixel counts as drawn once it is more than faintly covered.
bool drawn(QRgb px)
{
    return qAlpha(px) > 32;
}

QImage render(const QIcon& icon, int size)
{
    return icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Smallest rectangle holding every drawn pixel; empty when nothing was drawn.
QRect drawnBounds(const QImage& img)
{
    QRect bounds;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (drawn(img.pixel(x, y)))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

// Mean colour of the clearly coloured pixels: outlines, white highlights and greys are left out
// unless the picture has nothing else.
QColor dominantColour(const QImage& img)
{
    double r = 0, g = 0, b = 0;
    int n = 0;
    for (int pass = 0; pass < 2 && n == 0; ++pass) {
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = QColor::fromRgba(img.pixel(x, y));
                if (c.alpha() < 200)
                    continue;
                if (pass == 0 && (c.hsvSaturation() < 90 || c.value() < 60))
                    continue;
                r += c.red();
                g += c.green();
                b += c.blue();
                ++n;
            }
        }
    }
    if (n == 0)
        return {};
    return QColor(qRound(r / n), qRound(g / n), qRound(b / n));
}

int strongRedPixels(const QImage& img, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = QColor::fromRgba(img.pixel(x, y));
            if (c.alpha() > 200 && c.red() > 170 && c.green() < 90 && c.blue() < 90)
                ++n;
        }
    }
    return n;
}

bool hueNear(const QColor& c, int hue, int tolerance)
{
    if (c.hsvHue() < 0)
        return false;
    const int d = std::abs(c.hsvHue() - hue) % 360;
    return std::min(d, 360 - d) <= tolerance;
}

struct Wave
{
    quint16 format = 0;
    quint16 channels = 0;
    quint32 sampleRate = 0;
    quint32 byteRate = 0;
    quint16 blockAlign = 0;
    quint16 bits = 0;
    quint32 riffSize = 0;
    qint64 fileSize = 0;
    quint32 declaredDataSize = 0;
    qint64 availableDataSize = 0;
    QVector<qint16> samples;
};

quint16 le16(const QByteArray& b, qsizetype at)
{
    return static_cast<quint16>(static_cast<quint8>(b[at]) | (static_cast<quint8>(b[at + 1]) << 8));
}

quint32 le32(const QByteArray& b, qsizetype at)
{
    return static_cast<quint32>(le16(b, at)) | (static_cast<quint32>(le16(b, at + 2)) << 16);
}

// Walks the RIFF chunks as a player would; nullopt if the file is not a RIFF/WAVE file.
std::optional<Wave> readWave(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray b = f.readAll();
    if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE")
        return std::nullopt;
    Wave w;
    w.fileSize = b.size();
    w.riffSize = le32(b, 4);
    qsizetype at = 12;
    while (at + 8 <= b.size()) {
        const QByteArray id = b.mid(at, 4);
        const quint32 size = le32(b, at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= b.size()) {
            w.format = le16(b, body);
            w.channels = le16(b, body + 2);
            w.sampleRate = le32(b, body + 4);
            w.byteRate = le32(b, body + 8);
            w.blockAlign = le16(b, body + 12);
            w.bits = le16(b, body + 14);
        } else if (id == "data") {
            w.declaredDataSize = size;
            w.availableDataSize = b.size() - body;
            const qsizetype end = std::min<qsizetype>(b.size(), body + size);
            for (qsizetype i = body; i + 1 < end; i += 2)
                w.samples.append(static_cast<qint16>(le16(b, i)));
        }
        at = body + size + (size & 1);
    }
    return w;
}

QString soundPath(const QString& name)
{
    return QStringLiteral(TIVANE_BIN_DIR "/") + name;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { artwork::init(); }

    void smallPicturesRender_data();
    void smallPicturesRender();
    void smallPicturesAreValidSvgOnTheGrid_data();
    void smallPicturesAreValidSvgOnTheGrid();
    void indicesOutOfRangeGiveNullIcons();
    void picturesAreAllDifferent();
    void picturesHaveTheirColour_data();
    void picturesHaveTheirColour();
    void hostDownPicturesCarryTheRedCross();
    void windowIconHasItsSizes();
    void windowIconIsScalableAndSharpOnHighDpi();
    void windowIconPaints();
    void logoIsARoundBlueBadge();
    void tickRendersAtItsSizes();
    void disabledPicturesAreGreyedOut();

    void trayIconsShowTheOverallState();
    void soundIsWellFormed_data();
    void soundIsWellFormed();
};

void TestResources::smallPicturesRender_data()
{
    QTest::addColumn<QIcon>("icon");
    for (int i = 1; i <= artwork::ToolbarImageCount; ++i)
        QTest::addRow("toolbar %d", i) << artwork::toolbarIcon(i);
    for (int i = 1; i <= artwork::ListImageCount; ++i)
        QTest::addRow("list %d", i) << artwork::listIcon(i);
}

void TestResources::smallPicturesRender()
{
    QFETCH(QIcon, icon);
    QVERIFY(!icon.isNull());
    const QImage img = render(icon, 16);
    QCOMPARE(img.size(), QSize(16, 16));
    const QRect bounds = drawnBounds(img);
    QVERIFY2(!bounds.isEmpty(), "nothing drawn: the SVG did not load");
    // A picture squeezed into a corner means its drawing does not match its 16 x 16 box.
    QVERIFY2(bounds.width() >= 9 && bounds.height() >= 9,
             qPrintable(QStringLiteral("drawn area only %1 x %2").arg(bounds.width()).arg(bounds.height())));
}

void TestResources::smallPicturesAreValidSvgOnTheGrid_data()
{
    QTest::addColumn<QString>("path");
    for (int i = 1; i <= artwork::ToolbarImageCount; ++i)
        QTest::addRow("toolbar %d", i) << artwork::toolbarIconPath(i);
    for (int i = 1; i <= artwork::ListImageCount; ++i)
        QTest::addRow("list %d", i) << artwork::listIconPath(i);
}

void TestResources::smallPicturesAreValidSvgOnTheGrid()
{
    QFETCH(QString, path);
    QVERIFY(QFile::exists(path));
    QSvgRenderer svg(path);
    QVERIFY2(svg.isValid(), qPrintable(path));
    // Drawn on a 16-unit grid, so at 16 px every edge lands where it was placed.
    QCOMPARE(svg.viewBoxF(), QRectF(0, 0, 16, 16));
}

void TestResources::indicesOutOfRangeGiveNullIcons()
{
    for (int i : {-1, 0, artwork::ToolbarImageCount + 1, 100}) {
        QVERIFY2(artwork::toolbarIcon(i).isNull(), qPrintable(QString::number(i)));
        QVERIFY(artwork::toolbarIconPath(i).isEmpty());
    }
    for (int i : {-1, 0, artwork::ListImageCount + 1, 100}) {
        QVERIFY2(artwork::listIcon(i).isNull(), qPrintable(QString::number(i)));
        QVERIFY(artwork::listIconPath(i).isEmpty());
    }
}

void TestResources::picturesAreAllDifferent()
{
    // Two indices sharing a picture would make different host states look alike.
    QVector<QPair<QString, QImage>> all;
    for (int i = 1; i <= artwork::ToolbarImageCount; ++i)
        all.append({QStringLiteral("toolbar %1").arg(i), render(artwork::toolbarIcon(i), 16)});
    for (int i = 1; i <= artwork::ListImageCount; ++i)
        all.append({QStringLiteral("list %1").arg(i), render(artwork::listIcon(i), 16)});
    for (qsizetype a = 0; a < all.size(); ++a) {
        for (qsizetype b = a + 1; b < all.size(); ++b)
            QVERIFY2(all[a].second != all[b].second, qPrintable(all[a].first + QStringLiteral(" == ") + all[b].first));
    }
}

void TestResources::picturesHaveTheirColour_data()
{
    QTest::addColumn<QIcon>("icon");
    QTest::addColumn<int>("hue"); // -1: grey
    QTest::addColumn<int>("tolerance");
    QTest::newRow("ping: blue bat") << artwork::toolbarIcon(artwork::Ping) << 215 << 30;
    QTest::newRow("stop: red") << artwork::toolbarIcon(artwork::Stop) << 0 << 15;
    QTest::newRow("sound alert: golden") << artwork::toolbarIcon(artwork::SoundAlert) << 45 << 15;
    QTest::newRow("about: blue") << artwork::toolbarIcon(artwork::About) << 215 << 20;
    QTest::newRow("exit: red") << artwork::toolbarIcon(artwork::Exit) << 0 << 15;
    QTest::newRow("unknown: blue") << artwork::listIcon(artwork::Unknown) << 215 << 20;
    QTest::newRow("deleted: red") << artwork::listIcon(artwork::Deleted) << 0 << 15;
    QTest::newRow("tick: green") << artwork::listIcon(artwork::Tick) << 120 << 20;
    QTest::newRow("warning: yellow") << artwork::listIcon(artwork::Warning) << 50 << 10;
    QTest::newRow("alert: orange") << artwork::listIcon(artwork::Alert) << 28 << 10;
    QTest::newRow("green ball") << artwork::listIcon(artwork::GreenBall) << 120 << 20;
    QTest::newRow("yellow ball") << artwork::listIcon(artwork::YellowBall) << 52 << 10;
    QTest::newRow("red ball") << artwork::listIcon(artwork::RedBall) << 5 << 10;
    QTest::newRow("gray ball") << artwork::listIcon(artwork::GrayBall) << -1 << 0;
}

void TestResources::picturesHaveTheirColour()
{
    QFETCH(QIcon, icon);
    QFETCH(int, hue);
    QFETCH(int, tolerance);
    const QColor c = dominantColour(render(icon, 16));
    QVERIFY(c.isValid());
    const QString seen = QStringLiteral("hue %1, saturation %2").arg(c.hsvHue()).arg(c.hsvSaturation());
    if (hue < 0)
        QVERIFY2(c.hsvSaturation() < 40, qPrintable(seen));
    else
        QVERIFY2(hueNear(c, hue, tolerance), qPrintable(seen));
}

void TestResources::hostDownPicturesCarryTheRedCross()
{
    // The only difference a user sees between a host up and down is the red cross, so it has to be there
    // on the down pictures and nowhere on the up ones.
    const QRect corner(9, 9, 7, 7);
    for (int down : {artwork::ServerOff, artwork::PcOff})
        QVERIFY2(strongRedPixels(render(artwork::listIcon(down), 16), corner) >= 4, qPrintable(QString::number(down)));
    for (int up : {artwork::ServerOn, artwork::PcOn})
        QCOMPARE(strongRedPixels(render(artwork::listIcon(up), 16), QRect(0, 0, 16, 16)), 0);
}

void TestResources::windowIconHasItsSizes()
{
    const QIcon icon = artwork::windowIcon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int s : {16, 32, 48}) {
        QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
        const QImage img = render(icon, s);
        QCOMPARE(img.size(), QSize(s, s));
        // The tile fills the square, so its middle is solid.
        QCOMPARE(qAlpha(img.pixel(s / 2, s / 2)), 255);
        QVERIFY(drawnBounds(img).width() >= s - 2);
    }
}

void TestResources::windowIconIsScalableAndSharpOnHighDpi()
{
    const QIcon icon = artwork::windowIcon();
    // Scalable: a large request is drawn at that size rather than stretched from 48 px.
    QCOMPARE(icon.pixmap(QSize(128, 128)).size(), QSize(128, 128));
    // On a 2x screen the 16 px icon is drawn with 32 device pixels.
    const QPixmap hiDpi = icon.pixmap(QSize(16, 16), 2.0);
    QCOMPARE(hiDpi.size(), QSize(32, 32));
    QCOMPARE(hiDpi.devicePixelRatio(), 2.0);
    QVERIFY(!drawnBounds(hiDpi.toImage()).isEmpty());
}

void TestResources::windowIconPaints()
{
    QImage canvas(48, 48, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        artwork::windowIcon().paint(&p, QRect(0, 0, 48, 48));
    }
    QVERIFY(drawnBounds(canvas).width() >= 46);
}

void TestResources::logoIsARoundBlueBadge()
{
    const QIcon icon = artwork::logo();
    QVERIFY(!icon.isNull());
    const QImage img = render(icon, 102);
    QCOMPARE(img.size(), QSize(102, 102));
    // Round: the corners stay clear, the badge reaches the edges in the middle.
    for (const QPoint corner : {QPoint(1, 1), QPoint(100, 1), QPoint(1, 100), QPoint(100, 100)})
        QCOMPARE(qAlpha(img.pixel(corner)), 0);
    QVERIFY(drawn(img.pixel(51, 2)) && drawn(img.pixel(2, 51)));
    // Blue badge just inside the rim, white bat in the middle.
    QVERIFY(hueNear(QColor::fromRgb(img.pixel(51, 95)), 215, 20));
    const QColor middle = QColor::fromRgb(img.pixel(51, 45));
    QVERIFY2(middle.lightness() > 220 && middle.hsvSaturation() < 40, qPrintable(middle.name()));
}

void TestResources::tickRendersAtItsSizes()
{
    const QIcon icon = artwork::tick();
    QVERIFY(!icon.isNull());
    for (int s : {16, 24, 32, 48}) {
        QVERIFY(icon.availableSizes().contains(QSize(s, s)));
        const QImage img = render(icon, s);
        QCOMPARE(img.size(), QSize(s, s));
        QVERIFY2(hueNear(dominantColour(img), 120, 20), qPrintable(QString::number(s)));
    }
}

void TestResources::disabledPicturesAreGreyedOut()
{
    // Toolbar buttons and menu items rely on the icon to show that they are unavailable.
    for (const QIcon& icon : {artwork::toolbarIcon(artwork::Ping), artwork::tick(), artwork::windowIcon()}) {
        const QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
        QVERIFY(!drawnBounds(disabled).isEmpty());
        QVERIFY(disabled != icon.pixmap(QSize(16, 16), QIcon::Normal).toImage());
        QVERIFY(dominantColour(disabled).hsvSaturation() < 90);
    }
}

void TestResources::trayIconsShowTheOverallState()
{
    QVERIFY(artwork::trayIcon(0).isNull());
    QVERIFY(artwork::trayIcon(artwork::TrayImageCount + 1).isNull());
    QVERIFY(artwork::trayBadgePath(0).isEmpty());
    const QImage plain = render(artwork::windowIcon(), 22);
    for (int s : {16, 22, 48}) {
        QList<QImage> seen;
        for (int i = artwork::TrayNoneProbed; i <= artwork::TrayImageCount; ++i) {
            const QIcon icon = artwork::trayIcon(i);
            QVERIFY(!icon.isNull());
            const QImage img = render(icon, s);
            QCOMPARE(img.size(), QSize(s, s));
            // The badge sits in the lower right corner and is told apart by colour alone.
            const QImage badge = img.copy(s / 2, s / 2, s - s / 2, s - s / 2);
            int green = 0;
            int red = 0;
            for (int y = 0; y < badge.height(); ++y) {
                for (int x = 0; x < badge.width(); ++x) {
                    const QColor c = QColor::fromRgba(badge.pixel(x, y));
                    if (c.alpha() < 200 || c.hsvSaturation() < 120 || c.value() < 80)
                        continue;
                    green += hueNear(c, 130, 25);
                    red += hueNear(c, 3, 12);
                }
            }
            const QString what =
                QStringLiteral("%1 px, picture %2: %3 green, %4 red").arg(s).arg(i).arg(green).arg(red);
            const int enough = s * s / 16;
            if (i == artwork::TrayAllUp)
                QVERIFY2(green >= enough && red == 0, qPrintable(what));
            else if (i == artwork::TraySomeDown)
                QVERIFY2(red >= enough && green == 0, qPrintable(what));
            else
                QVERIFY2(green == 0 && red == 0, qPrintable(what));
            QVERIFY(!seen.contains(img));
            seen.append(img);
        }
    }
    // The rest is the window icon, so the program stays recognisable in the panel.
    const QImage up = render(artwork::trayIcon(artwork::TrayAllUp), 22);
    QCOMPARE(up.pixel(4, 4), plain.pixel(4, 4));
    // Sharp on a 2x screen.
    QCOMPARE(artwork::trayIcon(artwork::TraySomeDown).pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
}

void TestResources::soundIsWellFormed_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("Notify") << QStringLiteral("Notify.wav");
    QTest::newRow("Info") << QStringLiteral("Info.wav");
    QTest::newRow("HostDown") << QStringLiteral("HostDown.wav");
    QTest::newRow("HostUp") << QStringLiteral("HostUp.wav");
}

void TestResources::soundIsWellFormed()
{
    QFETCH(QString, file);
    const std::optional<Wave> w = readWave(soundPath(file));
    QVERIFY2(w.has_value(), qPrintable(soundPath(file) + QStringLiteral(" is missing or not a wave file")));

    QCOMPARE(qint64(w->riffSize), w->fileSize - 8);
    QCOMPARE(w->format, quint16(1)); // PCM
    QCOMPARE(w->channels, quint16(1));
    QCOMPARE(w->sampleRate, quint32(44100));
    QCOMPARE(w->bits, quint16(16));
    QCOMPARE(w->blockAlign, quint16(2));
    QCOMPARE(w->byteRate, quint32(44100 * 2));
    QCOMPARE(qint64(w->declaredDataSize), w->availableDataSize);
    QCOMPARE(qint64(w->samples.size()) * 2, qint64(w->declaredDataSize));

    const double seconds = double(w->samples.size()) / w->sampleRate;
    QVERIFY2(seconds >= 0.2 && seconds <= 1.5, qPrintable(QString::number(seconds)));

    int peak = 0;
    int biggestStep = 0;
    for (qsizetype i = 0; i < w->samples.size(); ++i) {
        peak = std::max(peak, std::abs(int(w->samples[i])));
        if (i > 0)
            biggestStep = std::max(biggestStep, std::abs(int(w->samples[i]) - int(w->samples[i - 1])));
    }
    const double peakDb = 20.0 * std::log10(peak / 32768.0);
    QVERIFY2(peakDb > -9.0 && peakDb < -3.0, qPrintable(QStringLiteral("peak %1 dBFS").arg(peakDb)));
    // A jump this large between neighbouring samples is heard as a click.
    QVERIFY2(biggestStep < 32768 / 5, qPrintable(QStringLiteral("step %1").arg(biggestStep)));

    // Rises from and falls back to silence, so starting and stopping it never clicks.
    QVERIFY(std::abs(int(w->samples.constFirst())) < 100);
    QVERIFY(std::abs(int(w->samples.constLast())) < 100);
    const int edge = 44100 / 1000; // 1 ms
    for (int i = 0; i < edge; ++i) {
        QVERIFY2(std::abs(int(w->samples[i])) < 32768 / 10, qPrintable(QStringLiteral("start sample %1").arg(i)));
        QVERIFY2(std::abs(int(w->samples[w->samples.size() - 1 - i])) < 32768 / 10,
                 qPrintable(QStringLiteral("end sample -%1").arg(i + 1)));
    }
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
