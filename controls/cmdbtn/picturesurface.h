#pragma once

#include <QByteArray>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QWidget>
#include <cmath>

namespace cmdbtn {
// Layout works in float pixels; drawing and child widgets use the nearest whole pixel, halves away
// from zero, so a drawn element and its hit area agree.
inline int roundToPixel(float value)
{
    return static_cast<int>(std::lround(value));
}
} // namespace cmdbtn

// A picture shown from its top-left corner on a plain background, without a frame. The surface
// takes the size of its picture. Mouse input that reaches it ends here: it is never passed on to
// the button underneath, so only an owner that filters the events off first gets to see them.
class PictureSurface : public QWidget
{
public:
    explicit PictureSurface(QWidget* parent);

    quint32 backColor() const { return m_backColor; }
    void setBackColor(quint32 color);

    QIcon picture() const { return m_picture; }
    // A null picture clears what is shown but leaves the size alone, so a layout built around the
    // surface does not jump when a picture is removed.
    void setPicture(const QIcon& picture);
    // A pixmap is shown at its logical size (pixels divided by its device pixel ratio).
    void setPicture(const QPixmap& picture);
    // What is shown, as PNG bytes at the surface's logical size; empty when nothing is shown.
    QByteArray pictureAsPng() const;

    // The owner lays the surface out in float coordinates; the widget itself sits at the rounded
    // point. Keeping the float values makes later layout steps that read them back exact.
    float exactLeft() const { return m_left; }
    float exactTop() const { return m_top; }
    void setExactLeft(float left);
    void setExactTop(float top);
    QRectF exactRect() const { return QRectF(m_left, m_top, width(), height()); }

    // The size an icon is shown at: the largest size it offers that fits in 32 x 32 (the usual
    // button picture), else the smallest it offers; an icon that lists no sizes is asked for its
    // actual size at 32 x 32.
    static QSize naturalSize(const QIcon& picture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void place();

    QIcon m_picture;
    quint32 m_backColor;
    float m_left = 0;
    float m_top = 0;
};
