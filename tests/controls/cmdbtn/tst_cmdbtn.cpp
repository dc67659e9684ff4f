#include "controls/cmdbtn/cmdbtn.h"
#include "controls/cmdbtn/colors.h"
#include "controls/cmdbtn/propertybag.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <limits>
#include <memory>

using namespace cmdbtn;

using Setter = std::function<void(CmdBtn&)>;
Q_DECLARE_METATYPE(Setter)

namespace {

const QColor Face(0xd4, 0xd0, 0xc8);
const QColor Highlight(Qt::white);
const QColor Shadow(0x80, 0x80, 0x80);

// Every system colour the button uses gets its own value, so a pixel tells which one was drawn.
QPalette testPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Button, Face);
    palette.setColor(QPalette::Light, Highlight);
    palette.setColor(QPalette::Dark, Shadow);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa0, 0xa0, 0xa0));
    return palette;
}

QPixmap solid(QSize size, QColor color)
{
    QPixmap pixmap(size);
    pixmap.fill(color);
    return pixmap;
}

// A button with zeroed fields, sized and configured through its setters with BtnMode last, so
// only the final pass places anything.
std::unique_ptr<CmdBtn> laidOut(QSize size, qint32 mode, qint32 hAlign, qint32 vAlign, QSize picture, QSizeF caption)
{
    auto button = std::make_unique<CmdBtn>();
    button->resize(size);
    button->setCaptionSizeOverride(caption);
    if (picture.isValid())
        button->setPicture(solid(picture, Qt::blue));
    button->setBrdMode(2);
    button->setHAlign(hAlign);
    button->setVAlign(vAlign);
    button->setBtnMode(mode);
    return button;
}

// Picture 16 px at (5,5), caption 40 x 13 at (26,5), the rest is face.
std::unique_ptr<CmdBtn> mouseButton()
{
    return laidOut({100, 30}, 4, 0, 0, {16, 16}, {40, 13});
}

// The button's events in the order raised, each with the frame look at that moment.
class EventLog
{
public:
    explicit EventLog(CmdBtn& button) : m_button(button)
    {
        QObject::connect(&button, &CmdBtn::MouseDown, &m_context,
                         [this](short b, short s, float x, float y) { add(QStringLiteral("down"), b, s, x, y); });
        QObject::connect(&button, &CmdBtn::MouseMove, &m_context,
                         [this](short b, short s, float x, float y) { add(QStringLiteral("move"), b, s, x, y); });
        QObject::connect(&button, &CmdBtn::MouseUp, &m_context,
                         [this](short b, short s, float x, float y) { add(QStringLiteral("up"), b, s, x, y); });
        QObject::connect(&button, &CmdBtn::Click, &m_context, [this] { entries << QStringLiteral("click"); });
    }
    QStringList entries;

private:
    void add(const QString& kind, short button, short shift, float x, float y)
    {
        const bool sunken = m_button.lnT().color == syscolor::ButtonShadow;
        entries << QStringLiteral("%1 %2 %3 %4,%5 %6")
                       .arg(kind)
                       .arg(button)
                       .arg(shift)
                       .arg(x)
                       .arg(y)
                       .arg(sunken ? QStringLiteral("sunken") : QStringLiteral("raised"));
    }
    CmdBtn& m_button;
    QObject m_context;
};

void sendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Each edge pixel in the colour of the one line that owns it: top and left (less the corners that
// belong to the others) in one colour, bottom and right in the other.
bool frameIs(const QImage& image, QColor topLeft, QColor bottomRight)
{
    const int w = image.width();
    const int h = image.height();
    for (int x = 0; x < w; ++x) {
        if (image.pixelColor(x, 0) != (x < w - 1 ? topLeft : bottomRight) || image.pixelColor(x, h - 1) != bottomRight)
            return false;
    }
    for (int y = 0; y < h; ++y) {
        if (image.pixelColor(0, y) != (y < h - 1 ? topLeft : bottomRight) || image.pixelColor(w - 1, y) != bottomRight)
            return false;
    }
    return true;
}

} // namespace

class TestCmdBtn : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void keyboardClicksAndShowsTheFocus();

    void resolvesColours_data();
    void resolvesColours();

    void layout_data();
    void layout();
    void frameFollowsSizeUnlessHidden();
    void keepsMinimumSize_data();
    void keepsMinimumSize();
    void minimumSizeReentersFromResize();
    void hugeSizeIsClamped_data();
    void hugeSizeIsClamped();
    void hugeStoredExtentIsClamped_data();
    void hugeStoredExtentIsClamped();
    void captionColourFollowsEnabled();
    void widgetCallsKeepTheButtonInStep();
    void disabledParentGreysButKeepsTheSetting();

    void notifiesAndLaysOut_data();
    void notifiesAndLaysOut();
    void btnModeSetsVisibility_data();
    void btnModeSetsVisibility();
    void pictureBackColorPaintsBothSurfaces();
    void pictureTakesNaturalSize_data();
    void pictureTakesNaturalSize();
    void captionTakesTextSize();

    void loadsSavedCancelButton();
    void emptyBagLoadsDefaults();
    void writesOnlyWhatDiffersFromDefaults();
    void stateRoundTrips();
    void bagKeysIgnoreCase();
    void unreadableValueThrows_data();
    void unreadableValueThrows();

    void mouseRouting_data();
    void mouseRouting();
    void movesSkipTheCaption();
    void handlersTestNothing();
    void disabledButtonTakesNoMouse();
    void downSurfaceSwallowsInput();

    void rendersCaptionButton();
    void rendersPictureButton();
    void rendersCrispAtDoubleScale();

private:
    // Renderings are kept for a look only when their test fails.
    void keepForInspection(const QImage& image, const QString& name);

    QTemporaryDir m_renderings;
};

void TestCmdBtn::keepForInspection(const QImage& image, const QString& name)
{
    QVERIFY(m_renderings.isValid());
    QVERIFY(image.save(m_renderings.filePath(name)));
}

void TestCmdBtn::cleanup()
{
    if (QTest::currentTestFailed() && m_renderings.autoRemove()) {
        m_renderings.setAutoRemove(false);
        qInfo("Renderings kept in %s", qPrintable(m_renderings.path()));
    }
}

void TestCmdBtn::resolvesColours_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("red lowest byte") << 0x000000FFu << QColor(255, 0, 0);
    QTest::newRow("blue highest byte") << 0x00FF0000u << QColor(0, 0, 255);
    QTest::newRow("button face") << 0x8000000Fu << Face;
    QTest::newRow("button shadow") << 0x80000010u << Shadow;
    QTest::newRow("button highlight") << 0x80000014u << Highlight;
    QTest::newRow("gray text") << 0x80000011u << QColor(0xa0, 0xa0, 0xa0);
    QTest::newRow("unknown index") << 0x800000FFu << QColor(Qt::black);
}

void TestCmdBtn::resolvesColours()
{
    QFETCH(quint32, value);
    QFETCH(QColor, expected);
    QCOMPARE(resolveColor(value, testPalette()), expected);
}

void TestCmdBtn::layout_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("hAlign");
    QTest::addColumn<int>("vAlign");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSizeF>("caption");
    QTest::addColumn<QPointF>("captionAt");
    QTest::addColumn<QPointF>("iconAt");

    const QPointF designCaption(8, 8);
    const QPointF designIcon(56, 8);
    QTest::newRow("caption centred") << QSize(89, 25) << 1 << 2 << 2 << QSize() << QSizeF(15, 13) << QPointF(37, 6)
                                     << designIcon;
    QTest::newRow("caption top left") << QSize(89, 25) << 1 << 0 << 0 << QSize() << QSizeF(15, 13) << QPointF(5, 5)
                                      << designIcon;
    QTest::newRow("caption bottom right")
        << QSize(89, 25) << 1 << 1 << 1 << QSize() << QSizeF(15, 13) << QPointF(69, 7) << designIcon;
    QTest::newRow("caption wider than button")
        << QSize(40, 25) << 1 << 1 << 2 << QSize() << QSizeF(60, 13) << QPointF(-25, 6) << designIcon;
    QTest::newRow("caption, unknown HAlign")
        << QSize(89, 25) << 1 << 3 << 2 << QSize() << QSizeF(15, 13) << QPointF(8, 6) << designIcon;
    QTest::newRow("picture only") << QSize(60, 40) << 2 << 2 << 2 << QSize(16, 16) << QSizeF(15, 13) << designCaption
                                  << QPointF(22, 12);
    QTest::newRow("above, middle") << QSize(60, 60) << 3 << 2 << 2 << QSize(16, 16) << QSizeF(30, 13) << QPointF(15, 34)
                                   << QPointF(22, 13);
    QTest::newRow("above, bottom") << QSize(60, 60) << 3 << 2 << 1 << QSize(16, 16) << QSizeF(30, 13) << QPointF(15, 42)
                                   << QPointF(22, 21);
    QTest::newRow("above, top left") << QSize(60, 60) << 3 << 0 << 0 << QSize(16, 16) << QSizeF(30, 13)
                                     << QPointF(5, 26) << QPointF(5, 5);
    QTest::newRow("above, left middle") << QSize(60, 60) << 3 << 0 << 2 << QSize(16, 16) << QSizeF(30, 13)
                                        << QPointF(5, 34) << QPointF(5, 13);
    QTest::newRow("above, unknown VAlign")
        << QSize(60, 60) << 3 << 1 << 7 << QSize(16, 16) << QSizeF(30, 13) << QPointF(25, 8) << QPointF(39, 8);
    QTest::newRow("left of, centred") << QSize(81, 33) << 4 << 2 << 2 << QSize(32, 32) << QSizeF(20, 16)
                                      << QPointF(49, 8.5) << QPointF(12, 0.5);
    QTest::newRow("left of, right") << QSize(100, 30) << 4 << 1 << 2 << QSize(16, 16) << QSizeF(40, 13)
                                    << QPointF(55, 8.5) << QPointF(34, 7);
    QTest::newRow("left of, top left") << QSize(100, 30) << 4 << 0 << 0 << QSize(16, 16) << QSizeF(40, 13)
                                       << QPointF(26, 5) << QPointF(5, 5);
    QTest::newRow("left of, bottom") << QSize(100, 30) << 4 << 2 << 1 << QSize(16, 16) << QSizeF(40, 13)
                                     << QPointF(40.5, 12) << QPointF(19.5, 9);
    QTest::newRow("no content") << QSize(60, 60) << 0 << 2 << 2 << QSize(16, 16) << QSizeF(30, 13) << designCaption
                                << designIcon;
    QTest::newRow("unknown mode") << QSize(60, 60) << 9 << 2 << 2 << QSize(16, 16) << QSizeF(30, 13) << designCaption
                                  << designIcon;
}

void TestCmdBtn::layout()
{
    QFETCH(QSize, size);
    QFETCH(int, mode);
    QFETCH(int, hAlign);
    QFETCH(int, vAlign);
    QFETCH(QSize, picture);
    QFETCH(QSizeF, caption);
    QFETCH(QPointF, captionAt);
    QFETCH(QPointF, iconAt);

    const auto button = laidOut(size, mode, hAlign, vAlign, picture, caption);
    for (int pass = 0; pass < 2; ++pass) {
        QCOMPARE(button->captionRect().topLeft(), captionAt);
        QCOMPARE(button->iconRect().topLeft(), iconAt);
        QCOMPARE(button->downRect().topLeft(), iconAt);
        QCOMPARE(button->downRect().size(), QSizeF(25, 25));
        QCOMPARE(button->iconSurface()->pos(), QPoint(qRound(iconAt.x()), qRound(iconAt.y())));
        button->RefreshLayout();
    }
}

void TestCmdBtn::frameFollowsSizeUnlessHidden()
{
    const auto button = laidOut({89, 25}, 1, 2, 2, {}, {15, 13});
    const auto coordinates = [](const CmdBtn::Line& l) { return QLineF(l.x1, l.y1, l.x2, l.y2); };
    QCOMPARE(coordinates(button->lnT()), QLineF(0, 0, 88, 0));
    QCOMPARE(coordinates(button->lnL()), QLineF(0, 0, 0, 24));
    QCOMPARE(coordinates(button->lnR()), QLineF(88, 0, 88, 25));
    QCOMPARE(coordinates(button->lnB()), QLineF(0, 24, 88, 24));

    button->setBrdMode(0);
    button->resize(50, 20);
    button->RefreshLayout();
    for (const auto id : {CmdBtn::LineId::Top, CmdBtn::LineId::Left, CmdBtn::LineId::Right, CmdBtn::LineId::Bottom})
        QVERIFY(!button->line(id).visible);
    QCOMPARE(coordinates(button->lnR()), QLineF(88, 0, 88, 25));

    button->setBrdMode(1);
    QVERIFY(button->lnT().visible && button->lnB().visible);
    QCOMPARE(coordinates(button->lnR()), QLineF(49, 0, 49, 20));
}

void TestCmdBtn::keepsMinimumSize_data()
{
    QTest::addColumn<float>("widthTwips");
    QTest::addColumn<float>("heightTwips");
    QTest::addColumn<QSizeF>("expected");
    QTest::newRow("height 100 raised") << 1335.f << 100.f << QSizeF(1335, 120);
    QTest::newRow("width 120 kept") << 120.f << 375.f << QSizeF(120, 375);
    QTest::newRow("both raised") << 30.f << 15.f << QSizeF(120, 120);
}

void TestCmdBtn::keepsMinimumSize()
{
    QFETCH(float, widthTwips);
    QFETCH(float, heightTwips);
    QFETCH(QSizeF, expected);
    CmdBtn button;
    button.setOuterWidthTwips(widthTwips);
    button.setOuterHeightTwips(heightTwips);
    button.RefreshLayout();
    QCOMPARE(QSizeF(button.outerWidthTwips(), button.outerHeightTwips()), expected);
}

void TestCmdBtn::minimumSizeReentersFromResize()
{
    QWidget window;
    CmdBtn* button = new CmdBtn(&window);
    button->setBrdMode(2);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const int before = button->layoutPassCount();
    button->resize(50, 5);
    QCOMPARE(button->layoutPassCount() - before, 2); // the resize's pass and the one its own resize starts
    QCOMPARE(button->size(), QSize(50, 8));
    QCOMPARE(button->lnB().y1, 7.f);
}

// Fault: a size far beyond any screen was turned from float to int without a check, which is
// undefined (on x86 it came out as INT_MIN and the button shrank to its minimum). Sizes are cut to
// 32767 pixels; below zero or not a number they become the minimum.
void TestCmdBtn::hugeSizeIsClamped_data()
{
    QTest::addColumn<float>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("1e30") << 1e30f << 32767;
    QTest::newRow("2e9") << 2e9f << 32767;
    QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << 32767;
    QTest::newRow("largest kept") << 491505.f << 32767;
    QTest::newRow("-1e30") << -1e30f << 8;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 8;
}

void TestCmdBtn::hugeSizeIsClamped()
{
    QFETCH(float, twips);
    QFETCH(int, pixels);
    CmdBtn button;
    button.setOuterWidthTwips(twips);
    button.setOuterHeightTwips(twips);
    button.RefreshLayout();
    QCOMPARE(button.size(), QSize(pixels, pixels));
    QCOMPARE(button.outerWidthTwips(), float(pixels * 15));
}

// Fault: a huge stored extent (HIMETRIC in the property bag) gave an undefined float-to-int
// conversion, or was refused as "not a whole number" when saved as a large double.
void TestCmdBtn::hugeStoredExtentIsClamped_data()
{
    QTest::addColumn<QVariant>("extent");
    QTest::addColumn<int>("pixels");
    QTest::newRow("2e9 whole number") << QVariant(qint64(2000000000)) << 32767;
    QTest::newRow("1e12 whole number") << QVariant(qint64(1000000000000)) << 32767;
    QTest::newRow("largest 64-bit number") << QVariant(std::numeric_limits<qint64>::max()) << 32767;
    QTest::newRow("1e30 double") << QVariant(1e30) << 32767;
    QTest::newRow("1e300 double") << QVariant(1e300) << 32767;
    QTest::newRow("-1e30 double") << QVariant(-1e30) << 8;
    QTest::newRow("2e9 as text") << QVariant(QStringLiteral("2000000000")) << 32767;
    QTest::newRow("an ordinary one") << QVariant(2355) << 89;
}

void TestCmdBtn::hugeStoredExtentIsClamped()
{
    QFETCH(QVariant, extent);
    QFETCH(int, pixels);
    PropertyBag bag;
    bag.write(QStringLiteral("_extentx"), extent);
    bag.write(QStringLiteral("_extenty"), extent);
    CmdBtn button;
    button.readExtent(bag);
    button.RefreshLayout();
    QCOMPARE(button.size(), QSize(pixels, pixels));

    // What it writes back reads in as the same size.
    PropertyBag saved;
    button.WriteState(saved);
    CmdBtn loaded;
    loaded.readExtent(saved);
    QCOMPARE(loaded.size(), button.size());
}

void TestCmdBtn::captionColourFollowsEnabled()
{
    CmdBtn button;
    button.setPalette(testPalette());
    button.InitDefaults();
    button.setFont(QFont(QStringLiteral("DejaVu Sans"), 14, QFont::Black));
    button.setCaption(QStringLiteral("MMMM"));
    QCOMPARE(button.TextColor(), syscolor::MenuText);

    // Shown, so that grabbing sends no pending resize, which would lay out and recolour the caption.
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    button.setTextColor(0x0000FF);
    QCOMPARE(button.TextColor(), 0x0000FFu);
    const QImage image = button.grab().toImage();
    const QRect box = button.captionRect().toAlignedRect();
    bool red = false;
    for (int y = box.top(); y <= box.bottom() && !red; ++y) {
        for (int x = box.left(); x <= box.right() && !red; ++x)
            red = image.pixelColor(x, y) == QColor(Qt::red);
    }
    QVERIFY(red);
    button.RefreshLayout();
    QCOMPARE(button.TextColor(), syscolor::MenuText);

    button.setEnabled(false);
    QCOMPARE(button.TextColor(), syscolor::GrayText);
    button.setTextColor(0);
    button.RefreshLayout();
    QCOMPARE(button.TextColor(), syscolor::GrayText);
}

// Fault: the button's setEnabled and setFont hid QWidget's, so the same call made through a QWidget
// pointer (by a form, a layout or the meta-object) changed the widget but left the caption's
// colour, the font it was measured and drawn with, the notifications and the saved state behind.
void TestCmdBtn::widgetCallsKeepTheButtonInStep()
{
    CmdBtn button;
    button.setPalette(testPalette());
    button.InitDefaults();
    button.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    button.setCaption(QStringLiteral("Ping"));
    QStringList names;
    connect(&button, &CmdBtn::propertyChanged, this, [&names](const QString& changed) { names << changed; });
    const int passes = button.layoutPassCount();

    QWidget* widget = &button;
    widget->setEnabled(false);
    QVERIFY(!button.Enabled());
    QCOMPARE(button.TextColor(), syscolor::GrayText);

    const QFont big(QStringLiteral("DejaVu Serif"), 20, QFont::Bold);
    widget->setFont(big);
    QCOMPARE(button.Font(), big);
    const QFontMetrics metrics(big);
    QCOMPARE(button.captionRect().size(), QSizeF(metrics.horizontalAdvance(QStringLiteral("Ping")), metrics.height()));
    QCOMPARE(names, (QStringList{QStringLiteral("Enabled"), QStringLiteral("Font")}));
    QCOMPARE(button.layoutPassCount() - passes, 2);

    // Drawn in that font: the ink spans about the measured width, several times the 8 point one's.
    const QImage image = button.grab().toImage();
    int left = image.width();
    int right = -1;
    for (int y = 1; y < image.height() - 1; ++y) {
        for (int x = 1; x < image.width() - 1; ++x) {
            if (image.pixelColor(x, y) != Face) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    QVERIFY2(right - left + 1 > metrics.horizontalAdvance(QStringLiteral("Ping")) * 3 / 4,
             qPrintable(QStringLiteral("ink from %1 to %2").arg(left).arg(right)));

    PropertyBag bag;
    button.WriteState(bag);
    QCOMPARE(bag.read(QStringLiteral("Enabled")), QVariant(false));
    QCOMPARE(bag.readFont(QStringLiteral("Font"), QFont()), big);

    // The meta-object takes the same way.
    names.clear();
    QVERIFY(button.setProperty("Enabled", true));
    QVERIFY(button.Enabled() && button.isEnabled());
    QCOMPARE(button.TextColor(), syscolor::MenuText);
    QCOMPARE(names, QStringList{QStringLiteral("Enabled")});
}

// A disabled form greys the caption, as Qt greys every widget on it, but the button's own setting
// (the one it saves and announces) stays as it was.
void TestCmdBtn::disabledParentGreysButKeepsTheSetting()
{
    QWidget form;
    auto* button = new CmdBtn(&form);
    button->InitDefaults();
    QStringList names;
    connect(button, &CmdBtn::propertyChanged, this, [&names](const QString& changed) { names << changed; });

    form.setEnabled(false);
    QVERIFY(button->Enabled() && !button->isEnabled());
    QCOMPARE(button->TextColor(), syscolor::GrayText);
    PropertyBag bag;
    button->WriteState(bag);
    QVERIFY(!bag.contains(QStringLiteral("Enabled")));

    form.setEnabled(true);
    QCOMPARE(button->TextColor(), syscolor::MenuText);
    QVERIFY(names.isEmpty());

    // Its own switch is announced whatever the form did before.
    button->setEnabled(false);
    form.setEnabled(false);
    form.setEnabled(true);
    QVERIFY(!button->Enabled() && !button->isEnabled());
    QCOMPARE(button->TextColor(), syscolor::GrayText);
    QCOMPARE(names, QStringList{QStringLiteral("Enabled")});
}

void TestCmdBtn::notifiesAndLaysOut_data()
{
    QTest::addColumn<Setter>("set");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("passesBeforeNotice");
    QTest::addColumn<int>("passesAfterNotice");

    QTest::newRow("Enabled") << Setter([](CmdBtn& b) { b.setEnabled(false); }) << QStringLiteral("Enabled") << 0 << 1;
    QTest::newRow("HAlign") << Setter([](CmdBtn& b) { b.setHAlign(0); }) << QStringLiteral("HAlign") << 0 << 1;
    QTest::newRow("VAlign") << Setter([](CmdBtn& b) { b.setVAlign(1); }) << QStringLiteral("VAlign") << 0 << 1;
    QTest::newRow("BrdMode") << Setter([](CmdBtn& b) { b.setBrdMode(0); }) << QStringLiteral("BrdMode") << 0 << 1;
    QTest::newRow("BtnMode") << Setter([](CmdBtn& b) { b.setBtnMode(3); }) << QStringLiteral("BtnMode") << 0 << 1;
    QTest::newRow("Picture") << Setter([](CmdBtn& b) {
        b.setPicture(solid({8, 8}, Qt::red));
    }) << QStringLiteral("Picture")
                             << 0 << 1;
    QTest::newRow("DownPicture") << Setter([](CmdBtn& b) {
        b.setDownPicture(solid({8, 8}, Qt::red));
    }) << QStringLiteral("DownPicture")
                                 << 0 << 1;
    QTest::newRow("Font") << Setter([](CmdBtn& b) { b.setFont(QFont(QStringLiteral("DejaVu Serif"), 20)); })
                          << QStringLiteral("Font") << 0 << 1;
    QTest::newRow("Caption through the label")
        << Setter([](CmdBtn& b) { b.setCaption(QStringLiteral("Ping")); }) << QStringLiteral("Caption") << 1 << 0;
    QTest::newRow("BackColor") << Setter([](CmdBtn& b) { b.setBackColor(0xFF); }) << QStringLiteral("BackColor") << 0
                               << 0;
    QTest::newRow("TextColor") << Setter([](CmdBtn& b) { b.setTextColor(0xFF); }) << QStringLiteral("TextColor") << 0
                               << 0;
    QTest::newRow("PictureBackColor") << Setter([](CmdBtn& b) { b.setPictureBackColor(0xFF); })
                                      << QStringLiteral("PictureBackColor") << 0 << 0;
}

void TestCmdBtn::notifiesAndLaysOut()
{
    QFETCH(Setter, set);
    QFETCH(QString, name);
    QFETCH(int, passesBeforeNotice);
    QFETCH(int, passesAfterNotice);

    CmdBtn button;
    button.InitDefaults();
    const int start = button.layoutPassCount();
    QStringList names;
    int passesAtNotice = -1;
    connect(&button, &CmdBtn::propertyChanged, this, [&](const QString& changed) {
        names << changed;
        passesAtNotice = button.layoutPassCount() - start;
    });
    set(button);
    QCOMPARE(names, QStringList{name});
    QCOMPARE(passesAtNotice, passesBeforeNotice);
    QCOMPARE(button.layoutPassCount() - start, passesBeforeNotice + passesAfterNotice);
}

void TestCmdBtn::btnModeSetsVisibility_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("caption");
    QTest::addColumn<bool>("icon");
    QTest::newRow("0 neither") << 3 << 0 << false << false;
    QTest::newRow("1 caption") << 0 << 1 << true << false;
    QTest::newRow("2 picture") << 1 << 2 << false << true;
    QTest::newRow("3 both") << 0 << 3 << true << true;
    QTest::newRow("4 both") << 0 << 4 << true << true;
    QTest::newRow("7 after 2 changes nothing") << 2 << 7 << false << true;
    QTest::newRow("7 after 1 changes nothing") << 1 << 7 << true << false;
}

void TestCmdBtn::btnModeSetsVisibility()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, caption);
    QFETCH(bool, icon);
    CmdBtn button;
    button.setBrdMode(0);
    button.setBtnMode(from);
    button.setBtnMode(to);
    QCOMPARE(button.BtnMode(), to);
    QCOMPARE(button.captionVisible(), caption);
    QCOMPARE(!button.iconSurface()->isHidden(), icon);
    QVERIFY(button.downSurface()->isHidden());
    QVERIFY(!button.lnT().visible);
}

void TestCmdBtn::pictureBackColorPaintsBothSurfaces()
{
    CmdBtn button;
    button.setPictureBackColor(0x00FF00);
    QCOMPARE(button.PictureBackColor(), 0x00FF00u);
    QCOMPARE(button.iconSurface()->grab().toImage().pixelColor(3, 3), QColor(Qt::green));
    QCOMPARE(button.downSurface()->grab().toImage().pixelColor(3, 3), QColor(Qt::green));
}

void TestCmdBtn::pictureTakesNaturalSize_data()
{
    QTest::addColumn<Setter>("set");
    QTest::addColumn<QSize>("expected");
    const auto icon = [](std::initializer_list<int> extents) {
        QIcon result;
        for (int extent : extents)
            result.addPixmap(solid({extent, extent}, Qt::blue));
        return result;
    };
    QTest::newRow("largest that fits 32") << Setter([=](CmdBtn& b) {
        b.setPicture(icon({16, 48, 32}));
    }) << QSize(32, 32);
    QTest::newRow("smallest when none fits") << Setter([=](CmdBtn& b) {
        b.setPicture(icon({64, 48}));
    }) << QSize(48, 48);
    QTest::newRow("pixmap as it is") << Setter([](CmdBtn& b) {
        b.setPicture(solid({20, 10}, Qt::red));
    }) << QSize(20, 10);
    QTest::newRow("pixmap at logical size") << Setter([](CmdBtn& b) {
        QPixmap sharp = solid({64, 64}, Qt::red);
        sharp.setDevicePixelRatio(2);
        b.setPicture(sharp);
    }) << QSize(32, 32);
    QTest::newRow("removal keeps size") << Setter([](CmdBtn& b) {
        b.setPicture(solid({20, 10}, Qt::red));
        b.setPicture(QIcon());
    }) << QSize(20, 10);
}

void TestCmdBtn::pictureTakesNaturalSize()
{
    QFETCH(Setter, set);
    QFETCH(QSize, expected);
    CmdBtn button;
    set(button);
    QCOMPARE(button.iconSurface()->size(), expected);
    QCOMPARE(button.downSurface()->size(), QSize(25, 25));
}

void TestCmdBtn::captionTakesTextSize()
{
    CmdBtn button;
    const QString text = QStringLiteral("&Cancel");
    for (int points : {9, 18}) {
        const QFont font(QStringLiteral("DejaVu Sans"), points);
        button.setFont(font);
        button.setCaption(text);
        const QFontMetrics metrics(font);
        QCOMPARE(button.captionRect().size(), QSizeF(metrics.horizontalAdvance(text), metrics.height()));
    }
}

void TestCmdBtn::loadsSavedCancelButton()
{
    const QFont font(QStringLiteral("DejaVu Sans"), 8);
    PropertyBag bag;
    bag.write(QStringLiteral("_extentx"), 2355);
    bag.write(QStringLiteral("_extenty"), 661);
    bag.write(QStringLiteral("Caption"), QStringLiteral("Cancel"));
    bag.write(QStringLiteral("BrdMode"), 2);
    bag.write(QStringLiteral("TextColor"), 0x80000007u);
    bag.write(QStringLiteral("Font"), font.toString());

    CmdBtn button;
    button.readExtent(bag);
    button.ReadState(bag);
    QCOMPARE(button.size(), QSize(89, 25));
    QVERIFY(button.Enabled() && button.isEnabled());
    QCOMPARE(button.Caption(), QStringLiteral("Cancel"));
    QCOMPARE(button.Font(), font);
    QCOMPARE(button.BtnMode(), 1);
    QCOMPARE(button.BrdMode(), 2);
    QCOMPARE(button.HAlign(), 2);
    QCOMPARE(button.VAlign(), 2);
    QCOMPARE(button.BackColor(), syscolor::ButtonFace);
    QCOMPARE(button.TextColor(), syscolor::MenuText);
    QVERIFY(button.Picture().isNull() && button.DownPicture().isNull());
    QVERIFY(button.captionVisible() && button.iconSurface()->isHidden() && button.lnT().visible);
}

void TestCmdBtn::emptyBagLoadsDefaults()
{
    QWidget form;
    form.setFont(QFont(QStringLiteral("DejaVu Serif"), 13));
    CmdBtn* button = new CmdBtn(&form);
    button->setObjectName(QStringLiteral("cmdGo"));
    button->ReadState(PropertyBag());
    QVERIFY(button->Enabled());
    QCOMPARE(button->Font(), form.font());
    QCOMPARE(button->Caption(), QStringLiteral("cmdGo"));
    QCOMPARE(button->BtnMode(), 1);
    QCOMPARE(button->BrdMode(), 1);
    QCOMPARE(button->HAlign(), 2);
    QCOMPARE(button->VAlign(), 2);
    QCOMPARE(button->BackColor(), syscolor::ButtonFace);
    QCOMPARE(button->PictureBackColor(), syscolor::ButtonFace);
    QVERIFY(button->Picture().isNull() && button->DownPicture().isNull());
}

void TestCmdBtn::writesOnlyWhatDiffersFromDefaults()
{
    CmdBtn button;
    button.InitDefaults();
    PropertyBag bag;
    button.WriteState(bag);
    QCOMPARE(bag.keys(), (QStringList{QStringLiteral("BrdMode"), QStringLiteral("TextColor"),
                                      QStringLiteral("_extentx"), QStringLiteral("_extenty")}));
    QCOMPARE(bag.read(QStringLiteral("BrdMode")).toInt(), 2);
    QCOMPARE(bag.read(QStringLiteral("TextColor")).toUInt(), syscolor::MenuText);
    QCOMPARE(bag.read(QStringLiteral("_extentx")).toInt(), 3149); // 1785 twips
    QCOMPARE(bag.read(QStringLiteral("_extenty")).toInt(), 1455); // 825 twips

    button.setBrdMode(1);
    button.WriteState(bag);
    QVERIFY(!bag.contains(QStringLiteral("BrdMode")));
    CmdBtn loaded;
    loaded.setBrdMode(2);
    loaded.ReadState(bag);
    QCOMPARE(loaded.BrdMode(), 1);
}

void TestCmdBtn::stateRoundTrips()
{
    QImage art(20, 10, QImage::Format_ARGB32);
    art.fill(Qt::magenta);
    CmdBtn button;
    button.InitDefaults();
    button.setFont(QFont(QStringLiteral("DejaVu Serif"), 11, QFont::Bold, true));
    button.setCaption(QStringLiteral("Stop & go"));
    button.setBtnMode(4);
    button.setBrdMode(0);
    button.setHAlign(0);
    button.setVAlign(1);
    button.setBackColor(0x123456);
    button.setPictureBackColor(0x654321);
    button.setPicture(QPixmap::fromImage(art));
    button.setDownPicture(solid({12, 14}, Qt::cyan));
    button.setEnabled(false);
    button.setOuterWidthTwips(2000);
    PropertyBag bag;
    button.WriteState(bag);

    CmdBtn loaded;
    loaded.readExtent(bag);
    loaded.ReadState(bag);
    QCOMPARE(loaded.size(), button.size());
    QVERIFY(!loaded.Enabled() && !loaded.isEnabled());
    QCOMPARE(loaded.Font(), button.Font());
    QCOMPARE(loaded.Caption(), button.Caption());
    QCOMPARE(loaded.TextColor(), syscolor::GrayText);
    for (const char* name : {"BtnMode", "BrdMode", "HAlign", "VAlign", "BackColor", "PictureBackColor"})
        QCOMPARE(loaded.property(name), button.property(name));
    QCOMPARE(loaded.iconRect(), button.iconRect());
    QCOMPARE(loaded.Picture().pixmap(20, 10).toImage().pixelColor(5, 5), QColor(Qt::magenta));
    QCOMPARE(loaded.downSurface()->size(), QSize(12, 14));
}

void TestCmdBtn::bagKeysIgnoreCase()
{
    PropertyBag bag;
    bag.write(QStringLiteral("CAPTION"), QStringLiteral("Go"));
    bag.write(QStringLiteral("brdmode"), 0);
    bag.write(QStringLiteral("btnMODE"), 2, 1);
    bag.write(QStringLiteral("Halign"), 5, 2);
    bag.write(QStringLiteral("HALIGN"), 2, 2); // back to the default: the entry goes
    QCOMPARE(bag.count(), 3);

    CmdBtn button;
    button.ReadState(bag);
    QCOMPARE(button.Caption(), QStringLiteral("Go"));
    QCOMPARE(button.BrdMode(), 0);
    QCOMPARE(button.BtnMode(), 2);
    QCOMPARE(button.HAlign(), 2);
}

void TestCmdBtn::unreadableValueThrows_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("captionAfter");
    QTest::addColumn<int>("btnModeAfter");
    QTest::newRow("Enabled, first step") << QStringLiteral("Enabled") << QVariant(QStringLiteral("maybe")) << QString()
                                         << 0;
    QTest::newRow("BtnMode") << QStringLiteral("BtnMode") << QVariant(QStringLiteral("two")) << QStringLiteral("Loaded")
                             << 0;
    QTest::newRow("TextColor") << QStringLiteral("TextColor") << QVariant(QStringLiteral("red"))
                               << QStringLiteral("Loaded") << 2;
    QTest::newRow("Picture") << QStringLiteral("Picture") << QVariant(QByteArray("not an image"))
                             << QStringLiteral("Loaded") << 2;
}

void TestCmdBtn::unreadableValueThrows()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QString, captionAfter);
    QFETCH(int, btnModeAfter);
    PropertyBag bag;
    bag.write(QStringLiteral("Caption"), QStringLiteral("Loaded"));
    bag.write(QStringLiteral("BtnMode"), 2);
    bag.write(key, value);

    CmdBtn button;
    QVERIFY_THROWS_EXCEPTION(PropertyBagError, button.ReadState(bag));
    QCOMPARE(button.Caption(), captionAfter);
    QCOMPARE(button.BtnMode(), btnModeAfter);
}

void TestCmdBtn::mouseRouting_data()
{
    QTest::addColumn<bool>("onIcon");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<QPoint>("releaseAt");
    QTest::addColumn<QStringList>("expected");

    const Qt::KeyboardModifiers none;
    QTest::newRow("face") << false << Qt::LeftButton << none << QPoint(80, 20) << QPoint(80, 20)
                          << QStringList{QStringLiteral("down 1 0 80,20 sunken"), QStringLiteral("up 1 0 80,20 raised"),
                                         QStringLiteral("click")};
    QTest::newRow("face, right with shift")
        << false << Qt::RightButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << QPoint(80, 20) << QPoint(81, 21)
        << QStringList{QStringLiteral("down 2 1 80,20 sunken"), QStringLiteral("up 2 1 81,21 raised"),
                       QStringLiteral("click")};
    QTest::newRow("face, middle with ctrl+alt")
        << false << Qt::MiddleButton << (Qt::ControlModifier | Qt::AltModifier) << QPoint(1, 1) << QPoint(1, 1)
        << QStringList{QStringLiteral("down 4 6 1,1 sunken"), QStringLiteral("up 4 6 1,1 raised"),
                       QStringLiteral("click")};
    QTest::newRow("caption") << false << Qt::LeftButton << none << QPoint(30, 8) << QPoint(30, 8)
                             << QStringList{QStringLiteral("down 1 0 4,3 sunken"), QStringLiteral("up 1 0 4,3 raised"),
                                            QStringLiteral("click")};
    QTest::newRow("icon") << true << Qt::LeftButton << none << QPoint(3, 4) << QPoint(3, 4)
                          << QStringList{QStringLiteral("down 1 0 3,4 sunken"), QStringLiteral("up 1 0 3,4 raised"),
                                         QStringLiteral("click")};
    QTest::newRow("icon, middle with ctrl")
        << true << Qt::MiddleButton << Qt::KeyboardModifiers(Qt::ControlModifier) << QPoint(15, 15) << QPoint(1, 0)
        << QStringList{QStringLiteral("down 4 2 15,15 sunken"), QStringLiteral("up 4 2 1,0 raised"),
                       QStringLiteral("click")};
    QTest::newRow("face, released outside")
        << false << Qt::LeftButton << none << QPoint(80, 20) << QPoint(200, 200)
        << QStringList{QStringLiteral("down 1 0 80,20 sunken"), QStringLiteral("up 1 0 200,200 raised")};
    QTest::newRow("caption, released on face")
        << false << Qt::LeftButton << none << QPoint(30, 8) << QPoint(80, 20)
        << QStringList{QStringLiteral("down 1 0 4,3 sunken"), QStringLiteral("up 1 0 54,15 raised")};
    QTest::newRow("face, released on caption")
        << false << Qt::LeftButton << none << QPoint(80, 20) << QPoint(30, 8)
        << QStringList{QStringLiteral("down 1 0 80,20 sunken"), QStringLiteral("up 1 0 30,8 raised")};
    QTest::newRow("icon, released outside")
        << true << Qt::LeftButton << none << QPoint(3, 4) << QPoint(30, 4)
        << QStringList{QStringLiteral("down 1 0 3,4 sunken"), QStringLiteral("up 1 0 30,4 raised")};
}

void TestCmdBtn::mouseRouting()
{
    QFETCH(bool, onIcon);
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QPoint, pressAt);
    QFETCH(QPoint, releaseAt);
    QFETCH(QStringList, expected);

    const auto cmd = mouseButton();
    EventLog log(*cmd);
    QWidget* target = onIcon ? cmd->iconSurface() : cmd.get();
    QTest::mousePress(target, button, modifiers, pressAt);
    QTest::mouseRelease(target, button, modifiers, releaseAt);
    QCOMPARE(log.entries, expected);
    QCOMPARE(cmd->lnR().color, syscolor::ButtonShadow);
}

void TestCmdBtn::movesSkipTheCaption()
{
    const auto cmd = mouseButton();
    EventLog log(*cmd);
    sendMouse(cmd.get(), QEvent::MouseMove, {80, 20}, Qt::NoButton, Qt::NoButton);
    sendMouse(cmd.get(), QEvent::MouseMove, {30, 8}, Qt::NoButton, Qt::NoButton);
    sendMouse(cmd->iconSurface(), QEvent::MouseMove, {3, 4}, Qt::NoButton, Qt::NoButton);
    QCOMPARE(log.entries,
             (QStringList{QStringLiteral("move 0 0 80,20 raised"), QStringLiteral("move 0 0 3,4 raised")}));

    // Whatever took the press keeps the moves: the caption reports none, the face reports all.
    log.entries.clear();
    QTest::mousePress(cmd.get(), Qt::LeftButton, {}, {30, 8});
    sendMouse(cmd.get(), QEvent::MouseMove, {80, 20}, Qt::NoButton, Qt::LeftButton);
    QTest::mouseRelease(cmd.get(), Qt::LeftButton, {}, {30, 8});
    QTest::mousePress(cmd.get(), Qt::LeftButton, {}, {80, 20});
    sendMouse(cmd.get(), QEvent::MouseMove, {30, 8}, Qt::NoButton, Qt::LeftButton);
    QTest::mouseRelease(cmd.get(), Qt::LeftButton, {}, {80, 20});
    QCOMPARE(log.entries.filter(QStringLiteral("move")), QStringList{QStringLiteral("move 1 0 30,8 sunken")});
}

void TestCmdBtn::handlersTestNothing()
{
    const auto cmd = mouseButton();
    cmd->setBrdMode(0);
    EventLog log(*cmd);
    sendMouse(cmd.get(), QEvent::MouseButtonDblClick, {80, 20}, Qt::RightButton, Qt::RightButton);
    QCOMPARE(log.entries, QStringList{QStringLiteral("down 2 0 80,20 sunken")});
    QCOMPARE(cmd->lnL().color, syscolor::ButtonShadow);
    QCOMPARE(cmd->lnB().color, syscolor::ButtonHighlight);
    QTest::mouseRelease(cmd.get(), Qt::RightButton, {}, {80, 20});
    QCOMPARE(cmd->lnL().color, syscolor::ButtonHighlight);
    QCOMPARE(cmd->lnB().color, syscolor::ButtonShadow);
}

void TestCmdBtn::disabledButtonTakesNoMouse()
{
    const auto cmd = mouseButton();
    cmd->setEnabled(false);
    EventLog log(*cmd);
    sendMouse(cmd.get(), QEvent::MouseButtonPress, {80, 20}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(cmd.get(), QEvent::MouseButtonRelease, {80, 20}, Qt::LeftButton, Qt::NoButton);
    sendMouse(cmd.get(), QEvent::MouseMove, {80, 20}, Qt::NoButton, Qt::NoButton);
    sendMouse(cmd->iconSurface(), QEvent::MouseButtonPress, {3, 4}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(cmd->iconSurface(), QEvent::MouseMove, {3, 4}, Qt::NoButton, Qt::LeftButton);
    QVERIFY(log.entries.isEmpty());
    QCOMPARE(cmd->lnT().color, syscolor::ButtonHighlight);
    QCOMPARE(cmd->TextColor(), syscolor::GrayText);
}

void TestCmdBtn::downSurfaceSwallowsInput()
{
    const auto cmd = mouseButton();
    cmd->setDownPicture(solid({10, 10}, Qt::red));
    EventLog log(*cmd);
    QVERIFY(cmd->downSurface()->isHidden());
    QTest::mouseClick(cmd->downSurface(), Qt::LeftButton, {}, {2, 2});
    QVERIFY(log.entries.isEmpty());
    QCOMPARE(cmd->lnT().color, syscolor::ButtonHighlight);
}

void TestCmdBtn::rendersCaptionButton()
{
    CmdBtn button;
    button.setPalette(testPalette());
    button.setObjectName(QStringLiteral("cmdCancel"));
    button.resize(89, 25);
    button.InitDefaults();
    button.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    button.setCaption(QStringLiteral("Cancel"));

    const QImage raised = button.grab().toImage();
    keepForInspection(raised, QStringLiteral("cmdbtn_caption.png"));
    QVERIFY(frameIs(raised, Highlight, Shadow));
    QCOMPARE(raised.pixelColor(1, 1), Face);
    QCOMPARE(raised.pixelColor(87, 23), Face);
    const QRect box = button.captionRect().toAlignedRect();
    bool dark = false;
    for (int x = box.left(); x <= box.right(); ++x)
        dark = dark || raised.pixelColor(x, box.center().y()).lightness() < 60;
    QVERIFY(dark);

    QTest::mousePress(&button, Qt::LeftButton, {}, {3, 3});
    QVERIFY(frameIs(button.grab().toImage(), Shadow, Highlight));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, {3, 3});
}

void TestCmdBtn::rendersPictureButton()
{
    // A little ping picture: a teal tile with a white dot and two arcs.
    QPixmap picture = solid({32, 32}, QColor(0, 128, 128));
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 2.5));
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(9, 23), 3, 3);
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(-3, 11, 24, 24), 0, 90 * 16);
        painter.drawArc(QRectF(-11, 3, 40, 40), 0, 90 * 16);
    }
    CmdBtn button;
    button.setPalette(testPalette());
    button.InitDefaults();
    button.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    button.setCaption(QStringLiteral("Ping"));
    button.setPicture(picture);
    button.setBtnMode(4);

    const QImage image = button.grab().toImage();
    keepForInspection(image, QStringLiteral("cmdbtn_picture.png"));
    QVERIFY(frameIs(image, Highlight, Shadow));
    const QPoint corner = button.iconSurface()->pos();
    QCOMPARE(corner, QPoint(qRound(button.iconRect().left()), 12)); // (55 - 32) / 2 = 11.5
    QCOMPARE(image.pixelColor(corner), QColor(0, 128, 128));
    QCOMPARE(image.pixelColor(corner - QPoint(1, 0)), Face);
    QCOMPARE(image.pixelColor(corner + QPoint(31, 31)), QColor(0, 128, 128));
}

void TestCmdBtn::rendersCrispAtDoubleScale()
{
    QIcon icon;
    icon.addPixmap(solid({16, 16}, Qt::green));
    icon.addPixmap(solid({64, 64}, Qt::blue));
    const auto button = laidOut({40, 30}, 2, 2, 2, {}, {10, 10});
    button->setPalette(testPalette());
    button->setPicture(icon);

    QImage image(button->size() * 2, QImage::Format_ARGB32);
    image.setDevicePixelRatio(2);
    button->render(&image);
    for (const QPoint device : {QPoint(10, 0), QPoint(10, 1), QPoint(0, 10), QPoint(1, 10)})
        QCOMPARE(image.pixelColor(device), Highlight);
    for (const QPoint device : {QPoint(79, 10), QPoint(78, 10), QPoint(10, 59), QPoint(10, 58), QPoint(79, 59)})
        QCOMPARE(image.pixelColor(device), Shadow);
    QCOMPARE(image.pixelColor(2, 10), Face);
    QCOMPARE(image.pixelColor(40, 30), QColor(Qt::blue)); // the large variant, not the 16 px one scaled up
    QCOMPARE(button->grab().toImage().pixelColor(20, 15), QColor(Qt::green));
}

void TestCmdBtn::keyboardClicksAndShowsTheFocus()
{
    QWidget window;
    auto* before = new QLineEdit(&window);
    auto* btn = new CmdBtn(&window);
    btn->move(0, 40);
    btn->setCaption(QStringLiteral("&OK"));
    QCOMPARE(btn->accessibleName(), QStringLiteral("OK"));
    int clicks = 0;
    QObject::connect(btn, &CmdBtn::Click, &window, [&clicks] { ++clicks; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    before->setFocus();
    QTRY_VERIFY(before->hasFocus());

    const QImage unfocused = btn->grab().toImage();
    QTest::keyClick(before, Qt::Key_Tab);
    QTRY_VERIFY(btn->hasFocus());
    // The focus shows on the face.
    QVERIFY(btn->grab().toImage() != unfocused);

    QTest::keyPress(btn, Qt::Key_Space);
    QCOMPARE(clicks, 0); // Space clicks on release, as the mouse does
    QTest::keyRelease(btn, Qt::Key_Space);
    QCOMPARE(clicks, 1);
    QTest::keyClick(btn, Qt::Key_Return);
    QTest::keyClick(btn, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(clicks, 3);
    // Keys with modifiers and other keys are not clicks.
    QTest::keyClick(btn, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(btn, Qt::Key_A);
    QCOMPARE(clicks, 3);

    // Space held while the focus leaves is no click.
    QTest::keyPress(btn, Qt::Key_Space);
    before->setFocus();
    QTRY_VERIFY(before->hasFocus());
    QTest::keyRelease(btn, Qt::Key_Space);
    QCOMPARE(clicks, 3);

    // Disabled, it takes no focus and no keys.
    btn->setEnabled(false);
    QTest::keyClick(before, Qt::Key_Tab);
    QVERIFY(!btn->hasFocus());
}

QTEST_MAIN(TestCmdBtn)
#include "tst_cmdbtn.moc"
