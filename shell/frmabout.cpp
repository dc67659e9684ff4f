#include "shell/frmabout.h"

#include "controls/cmdbtn/cmdbtn.h"
#include "controls/cmdbtn/propertybag.h"
#include "platform/twips.h"
#include "resources/artwork.h"

#include <QApplication>
#include <QBuffer>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPaintEngine>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace {

// Stored colours: 0x00BBGGRR, or the system flag plus a system colour index.
constexpr quint32 MenuTextColour = 0x80000007u;
constexpr quint32 OkBackColour = 0x00A4723Eu; // red 62, green 114, blue 164
constexpr qint32 PictureLeftOfCaption = 4;
constexpr qint32 RaisedFrame = 2;
constexpr int OkPicturePixels = 16;

using platform::toHimetric;

// The layout is drawn for a desktop font whose lines are this many pixels high; a larger font
// grows the whole dialog with it, so that nothing is clipped.
constexpr qreal DesignLineHeight = 17.0;
// The title's size against the body text's.
constexpr qreal TitleToBodyRatio = 12.0 / 9.0;

// Shows an icon scaled to the box. Nothing is painted behind it: the dialog's white shows through.
class PictureBox : public QWidget
{
public:
    PictureBox(const QIcon& picture, QWidget* parent) : QWidget(parent), m_picture(picture) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        // The painter's device is this widget even when the widget is rendered into an image; the
        // engine's device is the surface really drawn on, and its pixel ratio decides how many
        // pixels the picture needs to stay sharp.
        const QPaintDevice* target = painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
        const qreal ratio = target ? target->devicePixelRatioF() : devicePixelRatioF();
        painter.drawPixmap(rect(), m_picture.pixmap(size(), ratio));
    }

private:
    QIcon m_picture;
};

// The button's stored picture is PNG bytes, which carry no pixel ratio, so it is kept at the
// size it is shown at.
QByteArray tickPng()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    artwork::tick().pixmap(QSize(OkPicturePixels, OkPicturePixels), 1.0).toImage().save(&buffer, "PNG");
    return bytes;
}

} // namespace

frmAbout::frmAbout(const platform::AppInfo& app, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_app(app)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About MyApp"));
    m_scale = std::max(1.0, QFontMetricsF(font()).height() / DesignLineHeight);
    setFixedSize(scaled(0, 0, ClientWidthTwips, ClientHeightTwips).size());
    // The dialog paints itself white; its texts take colours that read on white whatever the
    // desktop's palette (a dark palette would give light grey on white).
    QPalette onWhite = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        onWhite.setColor(group, QPalette::Window, Qt::white);
        onWhite.setColor(group, QPalette::WindowText, Qt::black);
    }
    onWhite.setColor(QPalette::Disabled, QPalette::Window, Qt::white);
    onWhite.setColor(QPalette::Disabled, QPalette::WindowText, QColor(96, 96, 96));
    setPalette(onWhite);

    m_picIcon = new PictureBox(artwork::logo(), this);
    m_picIcon->setObjectName(QStringLiteral("picIcon"));
    m_picIcon->setGeometry(scaled(240, 240, 1530, 1530));

    m_lblTitle = new QLabel(QStringLiteral("Application Title"), this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = font();
    // 12 pt on a 9 pt desktop, and in proportion on a larger one.
    titleFont.setPointSizeF(std::max(12.0, std::round(font().pointSizeF() * TitleToBodyRatio)));
    m_lblTitle->setFont(titleFont);
    QRect titleBox = scaled(2040, 120, 1665, 300);
    titleBox.setHeight(std::max(titleBox.height(), QFontMetrics(titleFont).height()));
    m_lblTitle->setGeometry(titleBox);

    m_lblVersion = new QLabel(QStringLiteral("Version"), this);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));
    QRect versionBox = scaled(2040, 600, 3285, 225);
    versionBox.setHeight(std::max(versionBox.height(), QFontMetrics(font()).height()));
    m_lblVersion->setGeometry(versionBox);

    // The labels paint no background, so the dialog's white shows behind them. Their text hangs
    // from the top edge: a font taller than the label then loses descenders rather than its top.
    for (QLabel* label : {m_lblTitle, m_lblVersion})
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_txtDescr = new QPlainTextEdit(QStringLiteral("Text1"), this);
    m_txtDescr->setObjectName(QStringLiteral("txtDescr"));
    m_txtDescr->setGeometry(scaled(2040, 960, 3495, 1215));
    m_txtDescr->setReadOnly(true);
    m_txtDescr->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_txtDescr->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette notePalette = m_txtDescr->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        notePalette.setColor(group, QPalette::Base, palette().color(group, QPalette::ToolTipBase));
        notePalette.setColor(group, QPalette::Text, palette().color(group, QPalette::ToolTipText));
    }
    m_txtDescr->setPalette(notePalette);

    m_cmdOK = new CmdBtn(this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    const PropertyBag okState = okButtonState();
    m_cmdOK->readExtent(okState);
    m_cmdOK->ReadState(okState);
    m_cmdOK->move(scaled(2385, 2520, 0, 0).topLeft());
    connect(m_cmdOK, &CmdBtn::Click, this, &frmAbout::cmdOK_Click);

    setTabOrder(m_txtDescr, m_cmdOK);

    Form_Load();
}

void frmAbout::fitDescription()
{
    // A large desktop font may need more lines than the box has: the box grows, and the rule,
    // the button and the dialog move down with it, rather than hiding text behind a scroll bar.
    // Only a shown box has laid its lines out, so this runs when the dialog is first shown.
    const QScrollBar* bar = m_txtDescr->verticalScrollBar();
    const int step = QFontMetrics(m_txtDescr->font()).lineSpacing();
    for (int i = 0; i < 8 && bar->maximum() > 0; ++i) {
        m_extraHeight += step;
        m_txtDescr->resize(m_txtDescr->width(), m_txtDescr->height() + step);
        m_cmdOK->move(m_cmdOK->pos() + QPoint(0, step));
        setFixedSize(width(), height() + step);
    }
}

void frmAbout::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_fitted) {
        m_fitted = true;
        fitDescription();
    }
}

frmAbout::~frmAbout() = default;

QRect frmAbout::scaled(int left, int top, int width, int height) const
{
    const auto px = [this](int twips) { return qRound(platform::toPixels(twips) * m_scale); };
    return QRect(px(left), px(top), px(width), px(height));
}

void frmAbout::showModal(const platform::AppInfo& app, QWidget* owner)
{
    // On the heap: if the owner goes away while the dialog is open, it takes the dialog with it,
    // and the pointer then knows there is nothing left to delete.
    QPointer<frmAbout> dialog = new frmAbout(app, owner);
    dialog->centreOverOwner();
    dialog->exec();
    delete dialog;
}

void frmAbout::centreOverOwner()
{
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner)
        return;

    // Before the first show the dialog's own frame is unknown; the owner's frame is the best guess
    // for it, as both get their decoration from the same window manager.
    const QRect ownerClient = owner->geometry();
    const QRect ownerFrame = owner->frameGeometry();
    const QPoint frameOffset = ownerClient.topLeft() - ownerFrame.topLeft();
    const QSize frameExtra = ownerFrame.size() - ownerClient.size();

    QPoint topLeft = ownerClient.center() - QPoint(width() / 2, height() / 2) - frameOffset;
    const QScreen* screen = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // A dialog pushed off screen by an owner near the edge could not be closed with the mouse.
        const QRect available = screen->availableGeometry();
        const QSize outer = size() + frameExtra;
        topLeft.setX(std::clamp(topLeft.x(), available.left(),
                                std::max(available.left(), available.right() + 1 - outer.width())));
        topLeft.setY(std::clamp(topLeft.y(), available.top(),
                                std::max(available.top(), available.bottom() + 1 - outer.height())));
    }
    move(topLeft);
}

PropertyBag frmAbout::okButtonState()
{
    QFont font(QApplication::font().family());
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    font.setItalic(false);

    PropertyBag bag;
    bag.write(QStringLiteral("Caption"), QStringLiteral("OK!"));
    bag.write(QStringLiteral("Font"), font.toString());
    bag.write(QStringLiteral("BtnMode"), PictureLeftOfCaption);
    bag.write(QStringLiteral("BrdMode"), RaisedFrame);
    bag.write(QStringLiteral("TextColor"), MenuTextColour);
    bag.write(QStringLiteral("BackColor"), OkBackColour);
    bag.write(QStringLiteral("Picture"), tickPng());
    bag.write(QStringLiteral("PictureBackColor"), OkBackColour);
    bag.write(QStringLiteral("_extentx"), toHimetric(1215));
    bag.write(QStringLiteral("_extenty"), toHimetric(495));
    return bag;
}

const std::array<frmAbout::RuleLine, 2>& frmAbout::Line1()
{
    static const std::array<RuleLine, 2> lines = {{
        {1, QLine(240, 2400, 5804, 2400), QColor(128, 128, 128), 1},
        {0, QLine(240, 2430, 5789, 2430), QColor(224, 224, 224), 2},
    }};
    return lines;
}

void frmAbout::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    // Both lines are horizontal, so each is a filled band of its width.
    for (const RuleLine& line : Line1()) {
        const int x1 = qRound(platform::toPixels(line.twips.x1()) * m_scale);
        const int x2 = qRound(platform::toPixels(line.twips.x2()) * m_scale);
        const int y = qRound(platform::toPixels(line.twips.y1()) * m_scale) + m_extraHeight;
        painter.fillRect(QRect(x1, y - line.width / 2, x2 - x1, line.width), line.colour);
    }
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + m_app.Title);
    m_lblVersion->setText(QStringLiteral("Version: ") + QString::number(m_app.Major) + u'.' +
                          QString::number(m_app.Minor) + u'.' + QString::number(m_app.Revision));
    m_lblTitle->setText(m_app.Title);
    m_description = m_app.ProductName + QStringLiteral(" (") + m_app.FileDescription + QStringLiteral(")") +
                    QStringLiteral("\r\n\r\n") + QStringLiteral("Copyright ") + m_app.LegalCopyright +
                    QStringLiteral("\r\n\r\n") + m_app.LegalTrademarks;
    // The text box takes a CR LF pair as one line break, so the text goes in as built.
    m_txtDescr->setPlainText(m_description);
}

void frmAbout::keyPressEvent(QKeyEvent* event)
{
    // The self-drawn OK button takes no focus, so Enter would otherwise do nothing here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        cmdOK_Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmAbout::cmdOK_Click()
{
    accept();
}
