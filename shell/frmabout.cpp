#include "frmabout.h"

#include "artwork.h"
#include "cmdbtn.h"
#include "propertybag.h"
#include "twips.h"

#include <QApplication>
#include <QBuffer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPaintEngine>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <algorithm>

namespace {

// Stored colours: 0x00BBGGRR, or the system flag plus a system colour index.
constexpr quint32 MenuTextColour = 0x80000007u;
constexpr quint32 OkBackColour = 0x00A4723Eu; // red 62, green 114, blue 164
constexpr qint32 PictureLeftOfCaption = 4;
constexpr qint32 RaisedFrame = 2;
constexpr int OkPicturePixels = 16;

using platform::toHimetric;
using platform::twipsRect;

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
    setFixedSize(platform::toPixels(ClientWidthTwips), platform::toPixels(ClientHeightTwips));

    m_picIcon = new PictureBox(artwork::logo(), this);
    m_picIcon->setObjectName(QStringLiteral("picIcon"));
    m_picIcon->setGeometry(twipsRect(240, 240, 1530, 1530));

    m_lblTitle = new QLabel(QStringLiteral("Application Title"), this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_lblTitle->setGeometry(twipsRect(2040, 120, 1665, 300));
    QFont titleFont = font();
    titleFont.setPointSize(12);
    m_lblTitle->setFont(titleFont);

    m_lblVersion = new QLabel(QStringLiteral("Version"), this);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));
    m_lblVersion->setGeometry(twipsRect(2040, 600, 3285, 225));

    // The labels paint no background, so the dialog's white shows behind them. Their text hangs
    // from the top edge: a font taller than the label then loses descenders rather than its top.
    for (QLabel* label : {m_lblTitle, m_lblVersion})
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_txtDescr = new QPlainTextEdit(QStringLiteral("Text1"), this);
    m_txtDescr->setObjectName(QStringLiteral("txtDescr"));
    m_txtDescr->setGeometry(twipsRect(2040, 960, 3495, 1215));
    m_txtDescr->setReadOnly(true);
    m_txtDescr->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
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
    m_cmdOK->move(twipsRect(2385, 2520, 0, 0).topLeft());
    connect(m_cmdOK, &CmdBtn::Click, this, &frmAbout::cmdOK_Click);

    setTabOrder(m_txtDescr, m_cmdOK);

    Form_Load();
}

frmAbout::~frmAbout() = default;

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
        const int x1 = platform::toPixels(line.twips.x1());
        const int x2 = platform::toPixels(line.twips.x2());
        const int y = platform::toPixels(line.twips.y1());
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
