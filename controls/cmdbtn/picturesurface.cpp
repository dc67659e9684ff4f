#include "controls/cmdbtn/picturesurface.h"

#include "controls/cmdbtn/colors.h"

#include <QBuffer>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int PreferredExtent = 32;

} // namespace

PictureSurface::PictureSurface(QWidget* parent) : QWidget(parent), m_backColor(cmdbtn::syscolor::ButtonFace)
{
    // The background is painted in full, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureSurface::setBackColor(quint32 color)
{
    m_backColor = color;
    update();
}

void PictureSurface::setPicture(const QIcon& picture)
{
    m_picture = picture;
    if (!picture.isNull())
        resize(naturalSize(picture));
    update();
}

void PictureSurface::setPicture(const QPixmap& picture)
{
    if (picture.isNull()) {
        setPicture(QIcon());
        return;
    }
    m_picture = QIcon(picture);
    resize(picture.deviceIndependentSize().toSize());
    update();
}

QByteArray PictureSurface::pictureAsPng() const
{
    if (m_picture.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    m_picture.pixmap(size(), 1.0).toImage().save(&buffer, "PNG");
    return bytes;
}

void PictureSurface::setExactLeft(float left)
{
    m_left = left;
    place();
}

void PictureSurface::setExactTop(float top)
{
    m_top = top;
    place();
}

QSize PictureSurface::naturalSize(const QIcon& picture)
{
    const QList<QSize> sizes = picture.availableSizes();
    if (sizes.isEmpty())
        return picture.actualSize(QSize(PreferredExtent, PreferredExtent));
    const auto area = [](const QSize& s) { return qint64(s.width()) * s.height(); };
    QSize best;
    QSize smallest = sizes.first();
    for (const QSize& s : sizes) {
        if (area(s) < area(smallest))
            smallest = s;
        if (s.width() <= PreferredExtent && s.height() <= PreferredExtent && (!best.isValid() || area(s) > area(best)))
            best = s;
    }
    return best.isValid() ? best : smallest;
}

void PictureSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), cmdbtn::resolveColor(m_backColor, palette()));
    if (m_picture.isNull())
        return;
    // The painter's scale is the ratio of the device actually painted on (a screen backing store
    // or an image being rendered into), which the widget's own ratio does not know about.
    qreal ratio = painter.deviceTransform().m11();
    if (ratio <= 0)
        ratio = devicePixelRatioF();
    painter.drawPixmap(QPointF(0, 0), m_picture.pixmap(size(), ratio));
}

void PictureSurface::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void PictureSurface::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void PictureSurface::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void PictureSurface::place()
{
    move(cmdbtn::roundToPixel(m_left), cmdbtn::roundToPixel(m_top));
}
