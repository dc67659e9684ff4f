#include "cmdbtn.h"

#include "colors.h"
#include "picturesurface.h"
#include "propertybag.h"
#include "twips.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

using namespace cmdbtn;

namespace {

constexpr float MinimumOuterTwips = 120.0f;
// The largest outer size: X11 keeps window coordinates in 16 bits, and no button is wider or taller
// than a screen. A stored extent beyond it comes from a damaged or hand-edited file, and turning
// such a float into an int would be undefined, so every size is cut to this first.
constexpr float MaximumOuterPixels = 32767.0f;
constexpr double MaximumOuterTwips = double(MaximumOuterPixels) * platform::TwipsPerPixel;

// A size in twips the widget can take: not a number and anything below zero become zero (the
// layout then raises it to the minimum), anything above the maximum the maximum.
float clampedTwips(double twips)
{
    if (!(twips > 0))
        return 0.0f;
    return static_cast<float>(std::min(twips, MaximumOuterTwips));
}

// Space between the frame, the picture and the caption.
constexpr float Gap = 5.0f;

const auto KeyEnabled = QStringLiteral("Enabled");
const auto KeyFont = QStringLiteral("Font");
const auto KeyCaption = QStringLiteral("Caption");
const auto KeyBtnMode = QStringLiteral("BtnMode");
const auto KeyBrdMode = QStringLiteral("BrdMode");
const auto KeyHAlign = QStringLiteral("HAlign");
const auto KeyVAlign = QStringLiteral("VAlign");
const auto KeyTextColor = QStringLiteral("TextColor");
const auto KeyBackColor = QStringLiteral("BackColor");
const auto KeyPictureBackColor = QStringLiteral("PictureBackColor");
const auto KeyPicture = QStringLiteral("Picture");
const auto KeyDownPicture = QStringLiteral("DownPicture");
const auto KeyExtentX = QStringLiteral("_extentx");
const auto KeyExtentY = QStringLiteral("_extenty");

// Conversions of stored values. Saved bags may come from hand-edited files, so anything that is
// not clearly the wanted type is refused rather than read as zero.
qint64 toInteger(const QVariant& value, const QString& key)
{
    const int type = value.typeId();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::trunc(number) && std::abs(number) < 1e15)
            return static_cast<qint64>(number);
    } else if (type == QMetaType::QString || type == QMetaType::QByteArray) {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        if (ok)
            return number;
    } else {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        if (ok)
            return number;
    }
    throw PropertyBagError(key, QStringLiteral("not a whole number"));
}

qint32 toInt32(const QVariant& value, const QString& key)
{
    const qint64 number = toInteger(value, key);
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
        throw PropertyBagError(key, QStringLiteral("out of range"));
    return static_cast<qint32>(number);
}

// A saved extent: a whole number of HIMETRIC units of any size (it is clamped later), in twips.
double toExtentTwips(const QVariant& value, const QString& key)
{
    const int type = value.typeId();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::trunc(number))
            return platform::himetricToTwips(number);
        throw PropertyBagError(key, QStringLiteral("not a whole number"));
    }
    return platform::himetricToTwips(static_cast<double>(toInteger(value, key)));
}

// Colours may have been saved as signed 32-bit numbers, so system colours can arrive negative.
quint32 toColor(const QVariant& value, const QString& key)
{
    const qint64 number = toInteger(value, key);
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<quint32>::max())
        throw PropertyBagError(key, QStringLiteral("not a colour"));
    return static_cast<quint32>(number);
}

bool toBool(const QVariant& value, const QString& key)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    try {
        return toInteger(value, key) != 0;
    } catch (const PropertyBagError&) {
        throw PropertyBagError(key, QStringLiteral("not a truth value"));
    }
}

QString toText(const QVariant& value, const QString& key)
{
    if (!value.canConvert<QString>())
        throw PropertyBagError(key, QStringLiteral("not text"));
    return value.toString();
}

// Fonts are saved as QFont::toString() text.
QFont toFont(const QVariant& value, const QString& key)
{
    if (value.typeId() == QMetaType::QFont)
        return value.value<QFont>();
    QFont font;
    if (value.typeId() == QMetaType::QString && font.fromString(value.toString()))
        return font;
    throw PropertyBagError(key, QStringLiteral("not a font description"));
}

// Pictures are saved as PNG bytes; a path to an image file or resource is read as well.
void loadPicture(PictureSurface& surface, const QVariant& value, const QString& key)
{
    QPixmap pixmap;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        surface.setPicture(QIcon());
        return;
    case QMetaType::QIcon:
        surface.setPicture(value.value<QIcon>());
        return;
    case QMetaType::QPixmap:
        pixmap = value.value<QPixmap>();
        break;
    case QMetaType::QImage:
        pixmap = QPixmap::fromImage(value.value<QImage>());
        break;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        if (!bytes.isEmpty() && !pixmap.loadFromData(bytes))
            throw PropertyBagError(key, QStringLiteral("not a readable image"));
        break;
    }
    case QMetaType::QString: {
        const QString path = value.toString();
        if (!path.isEmpty() && !pixmap.load(path))
            throw PropertyBagError(key, QStringLiteral("no readable image at ") + path);
        break;
    }
    default:
        throw PropertyBagError(key, QStringLiteral("not a picture"));
    }
    surface.setPicture(pixmap);
}

// 0 left, 1 right/bottom, 2 centre, anything else keeps where it is.
float aligned(qint32 align, float space, float size, float current)
{
    switch (align) {
    case CmdBtn::AlignStart:
        return Gap;
    case CmdBtn::AlignEnd:
        return space - size - Gap;
    case CmdBtn::AlignCentre:
        return (space - size) / 2;
    default:
        return current;
    }
}

short buttonCode(Qt::MouseButtons buttons)
{
    short code = 0;
    if (buttons & Qt::LeftButton)
        code |= 1;
    if (buttons & Qt::RightButton)
        code |= 2;
    if (buttons & Qt::MiddleButton)
        code |= 4;
    return code;
}

short shiftCode(Qt::KeyboardModifiers modifiers)
{
    short code = 0;
    if (modifiers & Qt::ShiftModifier)
        code |= 1;
    if (modifiers & Qt::ControlModifier)
        code |= 2;
    if (modifiers & Qt::AltModifier)
        code |= 4;
    return code;
}

bool within(QPointF pos, float left, float top, float width, float height)
{
    return pos.x() >= left && pos.x() < left + width && pos.y() >= top && pos.y() < top + height;
}

// Lines leave out their end point, so the four frame lines meet without overlapping corners.
void drawLine(QPainter& painter, const CmdBtn::Line& line, const QColor& color)
{
    const int x1 = roundToPixel(line.x1);
    const int y1 = roundToPixel(line.y1);
    const int x2 = roundToPixel(line.x2);
    const int y2 = roundToPixel(line.y2);
    if (y1 == y2)
        painter.fillRect(QRect(std::min(x1, x2 + 1), y1, std::abs(x2 - x1), 1), color);
    else if (x1 == x2)
        painter.fillRect(QRect(x1, std::min(y1, y2 + 1), 1, std::abs(y2 - y1)), color);
    else {
        painter.setPen(QPen(color, 0));
        painter.drawLine(x1, y1, x2, y2);
    }
}

} // namespace

CmdBtn::CmdBtn(QWidget* parent) : QWidget(parent), m_backColor(syscolor::ButtonFace)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves without a held button are reported too.
    setMouseTracking(true);
    resize(119, 55);

    // The picture for the pressed state. Nothing in the button shows it, so it stays hidden; it
    // still follows the icon, so a host that does show it finds it in the right place.
    m_pctDn = new PictureSurface(this);
    m_pctDn->resize(25, 25);
    m_pctDn->setExactLeft(88);
    m_pctDn->setExactTop(8);
    m_pctDn->hide();

    m_pctIcon = new PictureSurface(this);
    m_pctIcon->resize(25, 25);
    m_pctIcon->setExactLeft(56);
    m_pctIcon->setExactTop(8);
    m_pctIcon->setMouseTracking(true);
    m_pctIcon->installEventFilter(this);

    m_caption.font = QWidget::font();

    m_lines = {{
        {40, 0, 40, 32, syscolor::ButtonShadow, true},
        {0, 32, 40, 32, syscolor::ButtonShadow, true},
        {0, 0, 40, 0, syscolor::ButtonHighlight, true},
        {0, 0, 0, 32, syscolor::ButtonHighlight, true},
    }};

    RefreshLayout();
}

CmdBtn::~CmdBtn() = default;

void CmdBtn::setEnabled(bool enabled)
{
    m_enabled = enabled;
    emit propertyChanged(KeyEnabled);
    QWidget::setEnabled(enabled);
    RefreshLayout();
}

void CmdBtn::setHAlign(qint32 align)
{
    m_hAlign = align;
    emit propertyChanged(KeyHAlign);
    RefreshLayout();
}

void CmdBtn::setVAlign(qint32 align)
{
    m_vAlign = align;
    emit propertyChanged(KeyVAlign);
    RefreshLayout();
}

quint32 CmdBtn::PictureBackColor() const
{
    return m_pctIcon->backColor();
}

void CmdBtn::setPictureBackColor(quint32 color)
{
    m_pctIcon->setBackColor(color);
    m_pctDn->setBackColor(color);
    emit propertyChanged(KeyPictureBackColor);
}

void CmdBtn::setBackColor(quint32 color)
{
    m_backColor = color;
    update();
    emit propertyChanged(KeyBackColor);
}

void CmdBtn::setTextColor(quint32 color)
{
    m_caption.color = color;
    update();
    emit propertyChanged(KeyTextColor);
}

void CmdBtn::setBrdMode(qint32 mode)
{
    m_brdMode = mode;
    emit propertyChanged(KeyBrdMode);
    const bool shown = BrdMode() != NoBorder;
    for (LineId id : {LineId::Top, LineId::Left, LineId::Right, LineId::Bottom})
        m_lines[static_cast<std::size_t>(id)].visible = shown;
    update();
    RefreshLayout();
}

void CmdBtn::setBtnMode(qint32 mode)
{
    m_btnMode = mode;
    emit propertyChanged(KeyBtnMode);
    switch (BtnMode()) {
    case NoContent:
        m_caption.visible = false;
        m_pctIcon->hide();
        break;
    case CaptionOnly:
        m_caption.visible = true;
        m_pctIcon->hide();
        break;
    case PictureOnly:
        m_caption.visible = false;
        m_pctIcon->show();
        break;
    case PictureAboveCaption:
    case PictureLeftOfCaption:
        m_pctIcon->show();
        m_caption.visible = true;
        break;
    default:
        break;
    }
    update();
    RefreshLayout();
}

QIcon CmdBtn::Picture() const
{
    return m_pctIcon->picture();
}

void CmdBtn::setPicture(const QIcon& picture)
{
    m_pctIcon->setPicture(picture);
    emit propertyChanged(KeyPicture);
    RefreshLayout();
}

void CmdBtn::setPicture(const QPixmap& picture)
{
    m_pctIcon->setPicture(picture);
    emit propertyChanged(KeyPicture);
    RefreshLayout();
}

QIcon CmdBtn::DownPicture() const
{
    return m_pctDn->picture();
}

void CmdBtn::setDownPicture(const QIcon& picture)
{
    m_pctDn->setPicture(picture);
    emit propertyChanged(KeyDownPicture);
    RefreshLayout();
}

void CmdBtn::setDownPicture(const QPixmap& picture)
{
    m_pctDn->setPicture(picture);
    emit propertyChanged(KeyDownPicture);
    RefreshLayout();
}

void CmdBtn::setCaption(const QString& caption)
{
    // The label's own change handling lays the button out; no second pass is needed here.
    setCaptionText(caption);
    emit propertyChanged(KeyCaption);
}

void CmdBtn::setFont(const QFont& font)
{
    m_font = font;
    QWidget::setFont(font);
    m_caption.font = font;
    fitCaption();
    emit propertyChanged(KeyFont);
    RefreshLayout();
}

void CmdBtn::InitDefaults()
{
    m_enabled = true;
    setFont(ambientFont());
    setCaption(instanceName());
    setBtnMode(CaptionOnly);
    setBrdMode(2);
    setHAlign(AlignCentre);
    setVAlign(AlignCentre);
    setBackColor(syscolor::ButtonFace);
    setTextColor(0);
    RefreshLayout();
}

void CmdBtn::ReadState(const PropertyBag& bag)
{
    m_enabled = toBool(bag.read(KeyEnabled, true), KeyEnabled);
    setFont(toFont(bag.read(KeyFont, ambientFont()), KeyFont));
    setCaption(toText(bag.read(KeyCaption, instanceName()), KeyCaption));
    setBtnMode(toInt32(bag.read(KeyBtnMode, CaptionOnly), KeyBtnMode));
    setBrdMode(toInt32(bag.read(KeyBrdMode, 1), KeyBrdMode));
    setHAlign(toInt32(bag.read(KeyHAlign, AlignCentre), KeyHAlign));
    setVAlign(toInt32(bag.read(KeyVAlign, AlignCentre), KeyVAlign));
    m_caption.color = toColor(bag.read(KeyTextColor, 0u), KeyTextColor);
    m_backColor = toColor(bag.read(KeyBackColor, syscolor::ButtonFace), KeyBackColor);
    m_pctIcon->setBackColor(toColor(bag.read(KeyPictureBackColor, syscolor::ButtonFace), KeyPictureBackColor));
    m_pctDn->setBackColor(toColor(bag.read(KeyPictureBackColor, syscolor::ButtonFace), KeyPictureBackColor));
    loadPicture(*m_pctIcon, bag.read(KeyPicture), KeyPicture);
    loadPicture(*m_pctDn, bag.read(KeyDownPicture), KeyDownPicture);
    QWidget::setEnabled(m_enabled);
    RefreshLayout();
}

void CmdBtn::WriteState(PropertyBag& bag) const
{
    bag.write(KeyEnabled, m_enabled, true);
    bag.write(KeyFont, m_font.toString(), ambientFont().toString());
    bag.write(KeyCaption, Caption(), instanceName());
    bag.write(KeyBtnMode, m_btnMode, CaptionOnly);
    bag.write(KeyBrdMode, m_brdMode, 1);
    bag.write(KeyHAlign, m_hAlign, AlignCentre);
    bag.write(KeyVAlign, m_vAlign, AlignCentre);
    bag.write(KeyTextColor, m_caption.color, 0u);
    bag.write(KeyBackColor, m_backColor, syscolor::ButtonFace);
    bag.write(KeyPicture, m_pctIcon->pictureAsPng(), QByteArray());
    bag.write(KeyDownPicture, m_pctDn->pictureAsPng(), QByteArray());
    bag.write(KeyPictureBackColor, m_pctIcon->backColor(), syscolor::ButtonFace);
    bag.write(KeyExtentX, platform::toHimetric(outerWidthTwips()));
    bag.write(KeyExtentY, platform::toHimetric(outerHeightTwips()));
}

void CmdBtn::readExtent(const PropertyBag& bag)
{
    const auto twips = [&bag](const QString& key) { return clampedTwips(toExtentTwips(bag.read(key), key)); };
    if (bag.contains(KeyExtentX))
        setOuterWidthTwips(twips(KeyExtentX));
    if (bag.contains(KeyExtentY))
        setOuterHeightTwips(twips(KeyExtentY));
}

QFont CmdBtn::ambientFont() const
{
    return parentWidget() ? parentWidget()->font() : QApplication::font();
}

void CmdBtn::RefreshLayout()
{
    ++m_layoutPasses;

    // Resizing re-enters through resizeEvent; that inner pass completes and this one then
    // arrives at the same result.
    if (outerHeightTwips() < MinimumOuterTwips)
        setOuterHeightTwips(MinimumOuterTwips);
    if (outerWidthTwips() < MinimumOuterTwips)
        setOuterWidthTwips(MinimumOuterTwips);

    m_caption.color = m_enabled ? syscolor::MenuText : syscolor::GrayText;

    const auto sw = static_cast<float>(width());
    const auto sh = static_cast<float>(height());
    if (m_brdMode != NoBorder) {
        setLine(LineId::Top, 0, 0, sw - 1, 0);
        setLine(LineId::Left, 0, 0, 0, sh - 1);
        // Runs to sh, one past the others, so that its excluded end point is below the frame and
        // the bottom-right corner pixel belongs to it.
        setLine(LineId::Right, sw - 1, 0, sw - 1, sh);
        setLine(LineId::Bottom, 0, sh - 1, sw - 1, sh - 1);
    }

    switch (m_btnMode) {
    case CaptionOnly:
        layoutCaptionOnly(sw, sh);
        break;
    case PictureOnly:
        layoutPictureOnly(sw, sh);
        break;
    case PictureAboveCaption:
        layoutPictureAbove(sw, sh);
        break;
    case PictureLeftOfCaption:
        layoutPictureLeft(sw, sh);
        break;
    default:
        break;
    }

    m_pctDn->setExactTop(m_pctIcon->exactTop());
    m_pctDn->setExactLeft(m_pctIcon->exactLeft());
    update();
}

void CmdBtn::layoutCaptionOnly(float sw, float sh)
{
    m_caption.left = aligned(m_hAlign, sw, m_caption.width, m_caption.left);
    m_caption.top = aligned(m_vAlign, sh, m_caption.height, m_caption.top);
}

void CmdBtn::layoutPictureOnly(float sw, float sh)
{
    m_pctIcon->setExactLeft(aligned(m_hAlign, sw, static_cast<float>(m_pctIcon->width()), m_pctIcon->exactLeft()));
    m_pctIcon->setExactTop(aligned(m_vAlign, sh, static_cast<float>(m_pctIcon->height()), m_pctIcon->exactTop()));
}

void CmdBtn::layoutPictureAbove(float sw, float sh)
{
    const auto pw = static_cast<float>(m_pctIcon->width());
    const auto ph = static_cast<float>(m_pctIcon->height());
    const float cw = m_caption.width;
    const float ch = m_caption.height;
    const float total = ph + Gap + ch;

    switch (m_vAlign) {
    case AlignStart:
        m_pctIcon->setExactTop(Gap);
        m_caption.top = ph + m_pctIcon->exactTop() + Gap;
        break;
    case AlignEnd:
        m_caption.top = sh - ch - Gap;
        m_pctIcon->setExactTop(m_caption.top - Gap - ph);
        break;
    case AlignCentre:
        m_pctIcon->setExactTop((sh - total) / 2);
        m_caption.top = m_pctIcon->exactTop() + total - ch;
        break;
    default:
        break;
    }
    m_pctIcon->setExactLeft(aligned(m_hAlign, sw, pw, m_pctIcon->exactLeft()));
    m_caption.left = aligned(m_hAlign, sw, cw, m_caption.left);
}

void CmdBtn::layoutPictureLeft(float sw, float sh)
{
    const auto pw = static_cast<float>(m_pctIcon->width());
    const auto ph = static_cast<float>(m_pctIcon->height());
    const float cw = m_caption.width;
    const float ch = m_caption.height;
    const float total = pw + Gap + cw;

    m_pctIcon->setExactTop(aligned(m_vAlign, sh, ph, m_pctIcon->exactTop()));
    m_caption.top = aligned(m_vAlign, sh, ch, m_caption.top);

    switch (m_hAlign) {
    case AlignStart:
        m_pctIcon->setExactLeft(Gap);
        m_caption.left = m_pctIcon->exactLeft() + Gap + pw;
        break;
    case AlignEnd:
        m_caption.left = sw - Gap - cw;
        m_pctIcon->setExactLeft(m_caption.left - Gap - pw);
        break;
    case AlignCentre:
        m_pctIcon->setExactLeft((sw - total) / 2);
        m_caption.left = m_pctIcon->exactLeft() + total - cw;
        break;
    default:
        break;
    }
}

float CmdBtn::outerWidthTwips() const
{
    return static_cast<float>(platform::toTwips(width()));
}

void CmdBtn::setOuterWidthTwips(float twips)
{
    resize(platform::toPixels(clampedTwips(twips)), height());
}

float CmdBtn::outerHeightTwips() const
{
    return static_cast<float>(platform::toTwips(height()));
}

void CmdBtn::setOuterHeightTwips(float twips)
{
    resize(width(), platform::toPixels(clampedTwips(twips)));
}

QRectF CmdBtn::captionRect() const
{
    return QRectF(m_caption.left, m_caption.top, m_caption.width, m_caption.height);
}

QRectF CmdBtn::iconRect() const
{
    return m_pctIcon->exactRect();
}

QRectF CmdBtn::downRect() const
{
    return m_pctDn->exactRect();
}

QWidget* CmdBtn::iconSurface() const
{
    return m_pctIcon;
}

QWidget* CmdBtn::downSurface() const
{
    return m_pctDn;
}

void CmdBtn::setCaptionSizeOverride(std::optional<QSizeF> size)
{
    m_captionSizeOverride = size;
    fitCaption();
}

void CmdBtn::setCaptionText(const QString& text)
{
    m_caption.text = text;
    captionTextChanged();
}

void CmdBtn::captionTextChanged()
{
    fitCaption();
    RefreshLayout();
}

void CmdBtn::fitCaption()
{
    if (m_captionSizeOverride) {
        m_caption.width = static_cast<float>(m_captionSizeOverride->width());
        m_caption.height = static_cast<float>(m_captionSizeOverride->height());
    } else {
        // "&" has no mnemonic meaning on this button, so it is measured and drawn as it stands.
        const QFontMetrics metrics(m_caption.font);
        m_caption.width = static_cast<float>(metrics.horizontalAdvance(m_caption.text));
        m_caption.height = static_cast<float>(metrics.height());
    }
    update();
}

void CmdBtn::setLine(LineId id, float x1, float y1, float x2, float y2)
{
    Line& line = m_lines[static_cast<std::size_t>(id)];
    line.x1 = x1;
    line.y1 = y1;
    line.x2 = x2;
    line.y2 = y2;
}

void CmdBtn::setFrameLook(quint32 topLeft, quint32 bottomRight)
{
    m_lines[static_cast<std::size_t>(LineId::Top)].color = topLeft;
    m_lines[static_cast<std::size_t>(LineId::Left)].color = topLeft;
    m_lines[static_cast<std::size_t>(LineId::Right)].color = bottomRight;
    m_lines[static_cast<std::size_t>(LineId::Bottom)].color = bottomRight;
    update();
}

void CmdBtn::pressLook()
{
    setFrameLook(syscolor::ButtonShadow, syscolor::ButtonHighlight);
}

void CmdBtn::raisedLook()
{
    setFrameLook(syscolor::ButtonHighlight, syscolor::ButtonShadow);
}

void CmdBtn::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), resolveColor(m_backColor, pal));

    // Drawn in the order the elements were created, so the frame lies over a caption that spills.
    if (m_caption.visible) {
        painter.setFont(m_caption.font);
        painter.setPen(resolveColor(m_caption.color, pal));
        const QRectF box(roundToPixel(m_caption.left), roundToPixel(m_caption.top), m_caption.width, m_caption.height);
        painter.drawText(box, Qt::AlignCenter | Qt::TextDontClip, m_caption.text);
    }
    for (const Line& line : m_lines) {
        if (line.visible)
            drawLine(painter, line, resolveColor(line.color, pal));
    }
}

void CmdBtn::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    RefreshLayout();
}

void CmdBtn::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    RefreshLayout();
}

// Mouse handling. An element that takes a press keeps the moves and the release until all buttons
// are up. A Click follows the MouseUp when the pointer is released over the element that took the
// press; the caption counts as its own element, so pressing the face and releasing on the caption
// (or the other way round) is no click.

CmdBtn::Element CmdBtn::elementAt(QPointF pos) const
{
    if (m_caption.visible && within(pos, m_caption.left, m_caption.top, m_caption.width, m_caption.height))
        return Element::Caption;
    if (within(pos, 0, 0, static_cast<float>(width()), static_cast<float>(height())))
        return Element::Surface;
    return Element::None;
}

QPointF CmdBtn::relativeTo(Element element, QPointF pos) const
{
    if (element == Element::Caption)
        return pos - QPointF(m_caption.left, m_caption.top);
    return pos;
}

void CmdBtn::mousePressEvent(QMouseEvent* event)
{
    // A double-click arrives here as a press too (QWidget's default), which is what it should be.
    if (m_pressed == Element::None || event->buttons() == event->button()) {
        const Element hit = elementAt(event->position());
        m_pressed = hit == Element::None ? Element::Surface : hit;
    }
    pressLook();
    const QPointF pos = relativeTo(m_pressed, event->position());
    emit MouseDown(buttonCode(event->button()), shiftCode(event->modifiers()), static_cast<float>(pos.x()),
                   static_cast<float>(pos.y()));
}

void CmdBtn::mouseMoveEvent(QMouseEvent* event)
{
    const Element target = m_pressed != Element::None ? m_pressed : elementAt(event->position());
    // The caption reports no moves.
    if (target != Element::Surface)
        return;
    emit MouseMove(buttonCode(event->buttons()), shiftCode(event->modifiers()),
                   static_cast<float>(event->position().x()), static_cast<float>(event->position().y()));
}

void CmdBtn::mouseReleaseEvent(QMouseEvent* event)
{
    const Element hit = elementAt(event->position());
    const Element target = m_pressed != Element::None ? m_pressed : Element::Surface;
    const bool click = hit == target;
    if (event->buttons() == Qt::NoButton)
        m_pressed = Element::None;
    raisedLook();
    const QPointF pos = relativeTo(target, event->position());
    emit MouseUp(buttonCode(event->button()), shiftCode(event->modifiers()), static_cast<float>(pos.x()),
                 static_cast<float>(pos.y()));
    if (click)
        emit Click();
}

bool CmdBtn::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pctIcon && handleIconMouse(event))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool CmdBtn::handleIconMouse(QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return false;
    // Filters see input even for a disabled widget, which Qt drops only after them; leave it to Qt.
    if (!m_pctIcon->isEnabled())
        return false;

    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPointF pos = mouse->position();
    const auto x = static_cast<float>(pos.x());
    const auto y = static_cast<float>(pos.y());
    const short shift = shiftCode(mouse->modifiers());
    if (type == QEvent::MouseMove) {
        emit MouseMove(buttonCode(mouse->buttons()), shift, x, y);
    } else if (type == QEvent::MouseButtonRelease) {
        const bool click = m_pressed == Element::Icon && within(pos, 0, 0, static_cast<float>(m_pctIcon->width()),
                                                                static_cast<float>(m_pctIcon->height()));
        if (mouse->buttons() == Qt::NoButton)
            m_pressed = Element::None;
        raisedLook();
        emit MouseUp(buttonCode(mouse->button()), shift, x, y);
        if (click)
            emit Click();
    } else {
        if (m_pressed == Element::None || mouse->buttons() == mouse->button())
            m_pressed = Element::Icon;
        pressLook();
        emit MouseDown(buttonCode(mouse->button()), shift, x, y);
    }
    return true;
}
