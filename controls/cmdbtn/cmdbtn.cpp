#include "controls/cmdbtn/cmdbtn.h"

#include "controls/cmdbtn/colors.h"
#include "controls/cmdbtn/picturesurface.h"
#include "controls/cmdbtn/propertybag.h"
#include "platform/mousecodes.h"
#include "platform/twips.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <cstdlib>
#include <variant>

using namespace cmdbtn;
using platform::buttonCode;
using platform::shiftCode;

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
    setFocusPolicy(Qt::StrongFocus);
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

    m_lines = {{
        {40, 0, 40, 32, syscolor::ButtonShadow, true},
        {0, 32, 40, 32, syscolor::ButtonShadow, true},
        {0, 0, 40, 0, syscolor::ButtonHighlight, true},
        {0, 0, 0, 32, syscolor::ButtonHighlight, true},
    }};

    RefreshLayout();
}

CmdBtn::~CmdBtn() = default;

void CmdBtn::setHAlign(qint32 align)
{
    m_hAlign = align;
    Q_EMIT propertyChanged(KeyHAlign);
    RefreshLayout();
}

void CmdBtn::setVAlign(qint32 align)
{
    m_vAlign = align;
    Q_EMIT propertyChanged(KeyVAlign);
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
    Q_EMIT propertyChanged(KeyPictureBackColor);
}

void CmdBtn::setBackColor(quint32 color)
{
    m_backColor = color;
    update();
    Q_EMIT propertyChanged(KeyBackColor);
}

void CmdBtn::setTextColor(quint32 color)
{
    m_caption.color = color;
    update();
    Q_EMIT propertyChanged(KeyTextColor);
}

void CmdBtn::setBrdMode(qint32 mode)
{
    m_brdMode = mode;
    Q_EMIT propertyChanged(KeyBrdMode);
    const bool shown = BrdMode() != NoBorder;
    for (LineId id : {LineId::Top, LineId::Left, LineId::Right, LineId::Bottom})
        m_lines[static_cast<std::size_t>(id)].visible = shown;
    update();
    RefreshLayout();
}

void CmdBtn::setBtnMode(qint32 mode)
{
    m_btnMode = mode;
    Q_EMIT propertyChanged(KeyBtnMode);
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
    Q_EMIT propertyChanged(KeyPicture);
    RefreshLayout();
}

void CmdBtn::setPicture(const QPixmap& picture)
{
    m_pctIcon->setPicture(picture);
    Q_EMIT propertyChanged(KeyPicture);
    RefreshLayout();
}

QIcon CmdBtn::DownPicture() const
{
    return m_pctDn->picture();
}

void CmdBtn::setDownPicture(const QIcon& picture)
{
    m_pctDn->setPicture(picture);
    Q_EMIT propertyChanged(KeyDownPicture);
    RefreshLayout();
}

void CmdBtn::setDownPicture(const QPixmap& picture)
{
    m_pctDn->setPicture(picture);
    Q_EMIT propertyChanged(KeyDownPicture);
    RefreshLayout();
}

void CmdBtn::setCaption(const QString& caption)
{
    // The label's own change handling lays the button out; no second pass is needed here.
    setCaptionText(caption);
    Q_EMIT propertyChanged(KeyCaption);
}

void CmdBtn::InitDefaults()
{
    setEnabled(true);
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
    setEnabled(bag.readBool(KeyEnabled, true));
    setFont(bag.readFont(KeyFont, ambientFont()));
    setCaption(bag.readText(KeyCaption, instanceName()));
    setBtnMode(bag.readInt32(KeyBtnMode, CaptionOnly));
    setBrdMode(bag.readInt32(KeyBrdMode, 1));
    setHAlign(bag.readInt32(KeyHAlign, AlignCentre));
    setVAlign(bag.readInt32(KeyVAlign, AlignCentre));
    m_caption.color = bag.readColor(KeyTextColor, 0);
    m_backColor = bag.readColor(KeyBackColor, syscolor::ButtonFace);
    const quint32 pictureBack = bag.readColor(KeyPictureBackColor, syscolor::ButtonFace);
    m_pctIcon->setBackColor(pictureBack);
    m_pctDn->setBackColor(pictureBack);
    std::visit([this](const auto& picture) { m_pctIcon->setPicture(picture); }, bag.readPicture(KeyPicture));
    std::visit([this](const auto& picture) { m_pctDn->setPicture(picture); }, bag.readPicture(KeyDownPicture));
    RefreshLayout();
}

void CmdBtn::WriteState(PropertyBag& bag) const
{
    bag.write(KeyEnabled, Enabled(), true);
    bag.write(KeyFont, font().toString(), ambientFont().toString());
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
    // Any whole number is taken; the size limits cut it down before it turns into pixels.
    const auto twips = [&bag](const QString& key) {
        return clampedTwips(platform::himetricToTwips(bag.readWholeNumber(key, 0)));
    };
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

    m_caption.color = isEnabled() ? syscolor::MenuText : syscolor::GrayText;

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
    // The caption is painted, not a child a screen reader could read.
    setAccessibleName(QString(text).remove(QLatin1Char('&')));
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
        const QFontMetrics metrics(font());
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
        painter.setPen(resolveColor(m_caption.color, pal));
        const QRectF box(roundToPixel(m_caption.left), roundToPixel(m_caption.top), m_caption.width, m_caption.height);
        painter.drawText(box, Qt::AlignCenter | Qt::TextDontClip, m_caption.text);
    }
    for (const Line& line : m_lines) {
        if (line.visible)
            drawLine(painter, line, resolveColor(line.color, pal));
    }
    if (hasFocus()) {
        // The desktop's own focus mark, inside the frame.
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, 3, -3, -3);
        focus.backgroundColor = resolveColor(m_backColor, pal);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void CmdBtn::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier && event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat()) {
            m_spaceDown = true;
            pressLook();
        }
        return;
    }
    if (mods == Qt::NoModifier && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        Q_EMIT Click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CmdBtn::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat() && m_spaceDown) {
        m_spaceDown = false;
        raisedLook();
        Q_EMIT Click();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void CmdBtn::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void CmdBtn::focusOutEvent(QFocusEvent* event)
{
    // A Space held while the focus moves away is no click.
    if (m_spaceDown) {
        m_spaceDown = false;
        raisedLook();
    }
    QWidget::focusOutEvent(event);
    update();
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

void CmdBtn::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        // Qt reports the effective state, which a parent switches too: the caption greys with it,
        // but only a change of the button's own setting is announced.
        if (Enabled() != m_announcedEnabled) {
            m_announcedEnabled = Enabled();
            Q_EMIT propertyChanged(KeyEnabled);
        }
        RefreshLayout();
        break;
    case QEvent::FontChange:
        fitCaption();
        Q_EMIT propertyChanged(KeyFont);
        RefreshLayout();
        break;
    default:
        break;
    }
}

// Mouse handling, one path for the face and the icon. The element that takes a press keeps the
// moves and the release until all buttons are up (Qt sends them to the window that took the press).
// A Click follows the MouseUp when the pointer is released over the element that took the press;
// the caption counts as its own element, so pressing the face and releasing on the caption (or
// the other way round) is no click. Positions are relative to the element that took the action.

CmdBtn::Element CmdBtn::elementAt(Element window, QPointF pos) const
{
    if (window == Element::Icon)
        return within(pos, 0, 0, static_cast<float>(m_pctIcon->width()), static_cast<float>(m_pctIcon->height()))
                   ? Element::Icon
                   : Element::None;
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
    mouseAction(Element::Surface, event);
}

void CmdBtn::mouseMoveEvent(QMouseEvent* event)
{
    mouseAction(Element::Surface, event);
}

void CmdBtn::mouseReleaseEvent(QMouseEvent* event)
{
    mouseAction(Element::Surface, event);
}

bool CmdBtn::eventFilter(QObject* watched, QEvent* event)
{
    // Filters see input even for a disabled widget, which Qt drops only after them; leave it to Qt.
    if (watched == m_pctIcon && m_pctIcon->isEnabled()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::MouseButtonRelease:
            mouseAction(Element::Icon, static_cast<QMouseEvent*>(event));
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CmdBtn::mouseAction(Element window, QMouseEvent* event)
{
    const QPointF pos = event->position();
    const Element hit = elementAt(window, pos);
    const short shift = shiftCode(event->modifiers());
    switch (event->type()) {
    case QEvent::MouseMove: {
        // The caption reports no moves.
        const Element target = m_pressed != Element::None ? m_pressed : hit;
        if (target == Element::Surface || target == Element::Icon)
            Q_EMIT MouseMove(buttonCode(event->buttons()), shift, static_cast<float>(pos.x()),
                             static_cast<float>(pos.y()));
        break;
    }
    case QEvent::MouseButtonRelease: {
        // A release with no press on record counts as the face's.
        const Element target = m_pressed != Element::None ? m_pressed : Element::Surface;
        if (event->buttons() == Qt::NoButton)
            m_pressed = Element::None;
        raisedLook();
        const QPointF at = relativeTo(target, pos);
        Q_EMIT MouseUp(buttonCode(event->button()), shift, static_cast<float>(at.x()), static_cast<float>(at.y()));
        if (hit == target)
            Q_EMIT Click();
        break;
    }
    default: {
        // A press; a second button held with the first leaves the press with the first one's element.
        if (m_pressed == Element::None || event->buttons() == event->button())
            m_pressed = hit == Element::None ? Element::Surface : hit;
        pressLook();
        const QPointF at = relativeTo(m_pressed, pos);
        Q_EMIT MouseDown(buttonCode(event->button()), shift, static_cast<float>(at.x()), static_cast<float>(at.y()));
        break;
    }
    }
}
