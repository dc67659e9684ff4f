#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <array>
#include <optional>

class PictureSurface;
class PropertyBag;

// A command button that draws itself: a caption and/or a picture on a flat face, framed by four
// one-pixel lines that switch between a raised and a sunken look while a mouse button is held.
//
// A new button has its kept fields zeroed; the host then calls InitDefaults() for a button placed
// anew, or ReadState() for one loaded from a saved bag (after readExtent() for its size).
//
// Enabled and Font are the widget's own: QWidget::setEnabled and QWidget::setFont change them, by
// whatever pointer they are called, and the button follows with its notification and layout. Qt
// tells a widget nothing when its own setting changes while a parent is disabled, so such a change
// shows but is not announced.
class CmdBtn : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(qint32 HAlign READ HAlign WRITE setHAlign)
    Q_PROPERTY(qint32 VAlign READ VAlign WRITE setVAlign)
    Q_PROPERTY(quint32 PictureBackColor READ PictureBackColor WRITE setPictureBackColor)
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(quint32 TextColor READ TextColor WRITE setTextColor)
    Q_PROPERTY(qint32 BrdMode READ BrdMode WRITE setBrdMode)
    Q_PROPERTY(qint32 BtnMode READ BtnMode WRITE setBtnMode)
    Q_PROPERTY(QIcon Picture READ Picture WRITE setPicture)
    Q_PROPERTY(QIcon DownPicture READ DownPicture WRITE setDownPicture)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(QFont Font READ Font WRITE setFont)

public:
    static QString identifier() { return QStringLiteral("Tivane.CmdBtn"); }

    // BtnMode values; any other value is kept but changes neither visibility nor positions.
    enum : qint32
    {
        NoContent = 0,
        CaptionOnly = 1,
        PictureOnly = 2,
        PictureAboveCaption = 3,
        PictureLeftOfCaption = 4,
    };
    // HAlign: 0 left, 1 right, 2 centre. VAlign: 0 top, 1 bottom, 2 middle. Others leave positions.
    enum : qint32
    {
        AlignStart = 0,
        AlignEnd = 1,
        AlignCentre = 2
    };
    // BrdMode: 0 hides the frame; any other value shows the 3D frame.
    enum : qint32
    {
        NoBorder = 0
    };

    // The four frame lines, in the order they were created.
    enum class LineId
    {
        Right,
        Bottom,
        Top,
        Left
    };
    struct Line
    {
        float x1, y1, x2, y2;
        quint32 color;
        bool visible;
    };

    explicit CmdBtn(QWidget* parent = nullptr);
    ~CmdBtn() override;

    // The button's own setting, the one saved; a disabled parent leaves it as it is but greys the
    // caption (isEnabled() tells the effect).
    bool Enabled() const { return !testAttribute(Qt::WA_ForceDisabled); }
    qint32 HAlign() const { return m_hAlign; }
    void setHAlign(qint32 align);
    qint32 VAlign() const { return m_vAlign; }
    void setVAlign(qint32 align);
    quint32 PictureBackColor() const;
    void setPictureBackColor(quint32 color);
    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 color);
    // The caption's current colour. Every layout pass replaces it with the enabled or gray text
    // colour, so a value set here shows only until the next pass.
    quint32 TextColor() const { return m_caption.color; }
    void setTextColor(quint32 color);
    qint32 BrdMode() const { return m_brdMode; }
    void setBrdMode(qint32 mode);
    qint32 BtnMode() const { return m_btnMode; }
    void setBtnMode(qint32 mode);
    QIcon Picture() const;
    void setPicture(const QIcon& picture);
    void setPicture(const QPixmap& picture);
    QIcon DownPicture() const;
    void setDownPicture(const QIcon& picture);
    void setDownPicture(const QPixmap& picture);
    QString Caption() const { return m_caption.text; }
    void setCaption(const QString& caption);
    QFont Font() const { return font(); }

    // Host side. ReadState throws PropertyBagError for a value it cannot convert; the steps
    // before the failing one stay applied.
    void InitDefaults();
    void ReadState(const PropertyBag& bag);
    void WriteState(PropertyBag& bag) const;
    // Applies the saved "_extentx"/"_extenty" (HIMETRIC) as the outer size, where present. A whole
    // number of any size is accepted and cut to the size limits of setOuterWidthTwips.
    void readExtent(const PropertyBag& bag);
    QFont ambientFont() const;
    QString instanceName() const { return objectName(); }

    // Places caption and picture for the current size and modes. Runs when the button is created,
    // shown and resized, and after most property changes. Running it twice changes nothing.
    void RefreshLayout();

    // Outer size in twips. Widgets hold whole pixels, so a size set here is rounded to them. A size
    // beyond 32767 pixels is cut to that; one below zero or not a number is taken as zero.
    float outerWidthTwips() const;
    void setOuterWidthTwips(float twips);
    float outerHeightTwips() const;
    void setOuterHeightTwips(float twips);

    // Element geometry in float pixels, as the layout left it.
    QRectF captionRect() const;
    bool captionVisible() const { return m_caption.visible; }
    QRectF iconRect() const;
    QRectF downRect() const;
    Line line(LineId id) const { return m_lines[static_cast<std::size_t>(id)]; }
    Line lnT() const { return line(LineId::Top); }
    Line lnL() const { return line(LineId::Left); }
    Line lnR() const { return line(LineId::Right); }
    Line lnB() const { return line(LineId::Bottom); }
    QWidget* iconSurface() const;
    QWidget* downSurface() const;

    // Test hooks: how many layout passes have started, and a fixed caption size in place of the
    // one measured from the text (nullopt measures again).
    int layoutPassCount() const { return m_layoutPasses; }
    void setCaptionSizeOverride(std::optional<QSizeF> size);

Q_SIGNALS:
    void propertyChanged(const QString& name);
    void Click();
    // Button: 1 left, 2 right, 4 middle (a move reports all held buttons). Shift: 1 shift, 2 ctrl,
    // 4 alt. X and Y are pixels relative to the element that took the action.
    void MouseDown(short Button, short Shift, float X, float Y);
    void MouseMove(short Button, short Shift, float X, float Y);
    void MouseUp(short Button, short Shift, float X, float Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Space presses and clicks on release, Enter clicks at once: a button the mouse can reach
    // must be reachable from the keyboard too.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The caption is drawn on the button's own face; it has no window of its own.
    struct CaptionLabel
    {
        float left = 8;
        float top = 8;
        float width = 3;
        float height = 13;
        QString text;
        quint32 color = 0; // every layout pass sets it, the first one in the constructor
        bool visible = true;
    };
    // Where a mouse event lands. The face and the icon are windows of their own; the caption is
    // part of the face.
    enum class Element
    {
        None,
        Surface,
        Caption,
        Icon
    };

    bool m_spaceDown = false;

    void setCaptionText(const QString& text);
    void captionTextChanged();
    void fitCaption();
    void setLine(LineId id, float x1, float y1, float x2, float y2);
    void setFrameLook(quint32 topLeft, quint32 bottomRight);
    void pressLook();
    void raisedLook();
    void layoutCaptionOnly(float sw, float sh);
    void layoutPictureOnly(float sw, float sh);
    void layoutPictureAbove(float sw, float sh);
    void layoutPictureLeft(float sw, float sh);
    Element elementAt(Element window, QPointF pos) const;
    QPointF relativeTo(Element element, QPointF pos) const;
    void mouseAction(Element window, QMouseEvent* event);

    // Kept fields.
    qint32 m_btnMode = 0;
    qint32 m_hAlign = 0;
    qint32 m_vAlign = 0;
    qint32 m_brdMode = 0;
    // Enabled as last announced. Qt reports changes of the effective state, which a parent causes
    // too; this tells which of them changed the button's own.
    bool m_announcedEnabled = true;

    // Elements, in the order they are created.
    PictureSurface* m_pctDn;
    PictureSurface* m_pctIcon;
    CaptionLabel m_caption;
    std::array<Line, 4> m_lines;

    quint32 m_backColor;
    Element m_pressed = Element::None;
    std::optional<QSizeF> m_captionSizeOverride;
    int m_layoutPasses = 0;
};
