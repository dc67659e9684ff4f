#include "shell/frmabout.h"

#include "controls/cmdbtn/cmdbtn.h"
#include "resources/artwork.h"

#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

namespace {

platform::AppInfo sampleApp()
{
    platform::AppInfo app;
    app.Title = QStringLiteral("Tivane Lab");
    app.ProductName = QStringLiteral("Tivane Suite");
    app.Major = 10;
    app.Minor = 0;
    app.Revision = 305;
    app.FileDescription = QStringLiteral("Watches hosts");
    app.LegalCopyright = QStringLiteral("2026 A. Person");
    app.LegalTrademarks = QStringLiteral("No marks.");
    return app;
}

platform::AppInfo emptyApp()
{
    platform::AppInfo app;
    app.Title.clear();
    app.ProductName.clear();
    app.Major = app.Minor = app.Revision = 0;
    return app;
}

template <typename T> T* control(const QWidget& dialog, const char* name)
{
    auto* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

// Runs `whileOpen` once the next modal dialog is up. A dialog still open after a while is closed so
// that a failing test ends instead of hanging in exec().
void whenModalOpens(QObject* context, std::function<void(frmAbout*)> whileOpen)
{
    QTimer::singleShot(0, context, [whileOpen] {
        auto* dialog = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        if (dialog)
            whileOpen(dialog);
    });
    QTimer::singleShot(5000, context, [] {
        if (QWidget* stuck = QApplication::activeModalWidget())
            stuck->close();
    });
}

QRgb pixel(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFFu;
}

} // namespace

class TestFrmAbout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadFillsEveryText_data();
    void loadFillsEveryText();
    void okButtonComesFromItsStoredState();
    void fixedWindowWhoseTextsFit();
    void paintsWhiteWithAnEngravedRule();
    void readableUnderADarkPaletteAndALargeFont_data();
    void readableUnderADarkPaletteAndALargeFont();
    void logoStaysSharpAtHighPixelRatio();
    void okAndCloseBoxEndTheDialog_data();
    void okAndCloseBoxEndTheDialog();
    void showModalOpensFreshCentredDialogsAndDestroysThem();
    void centringKeepsTheDialogOnScreen();
};

void TestFrmAbout::loadFillsEveryText_data()
{
    QTest::addColumn<platform::AppInfo>("app");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("description");

    QTest::newRow("all fields") << sampleApp() << QStringLiteral("About Tivane Lab")
                                << QStringLiteral("Version: 10.0.305") << QStringLiteral("Tivane Lab")
                                << QStringLiteral("Tivane Suite (Watches hosts)\r\n\r\nCopyright 2026 A. Person\r\n\r\n"
                                                  "No marks.");
    // Empty values must still replace the placeholder texts the controls are created with.
    QTest::newRow("empty fields") << emptyApp() << QStringLiteral("About ") << QStringLiteral("Version: 0.0.0")
                                  << QString() << QStringLiteral(" ()\r\n\r\nCopyright \r\n\r\n");
}

void TestFrmAbout::loadFillsEveryText()
{
    QFETCH(platform::AppInfo, app);
    QFETCH(QString, caption);
    QFETCH(QString, version);
    QFETCH(QString, title);
    QFETCH(QString, description);

    QWidget owner;
    frmAbout dialog(app, &owner);
    const auto* txtDescr = control<QPlainTextEdit>(dialog, "txtDescr");

    QCOMPARE(dialog.windowTitle(), caption);
    QCOMPARE(control<QLabel>(dialog, "lblVersion")->text(), version);
    QCOMPARE(control<QLabel>(dialog, "lblTitle")->text(), title);
    QCOMPARE(dialog.descriptionText(), description);

    // Each CR LF is one line break on screen: exactly one empty line between the paragraphs.
    QString shown = description;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QCOMPARE(txtDescr->toPlainText(), shown);
    const QTextDocument* document = txtDescr->document();
    QCOMPARE(document->blockCount(), 5);
    QVERIFY(document->findBlockByNumber(1).text().isEmpty());
    QVERIFY(document->findBlockByNumber(3).text().isEmpty());
    QVERIFY(!document->findBlockByNumber(2).text().isEmpty());
}

void TestFrmAbout::okButtonComesFromItsStoredState()
{
    QWidget owner;
    frmAbout dialog(sampleApp(), &owner);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const auto* cmdOK = control<CmdBtn>(dialog, "cmdOK");

    QCOMPARE(cmdOK->Caption(), QStringLiteral("OK!"));
    QCOMPARE(cmdOK->BtnMode(), qint32(CmdBtn::PictureLeftOfCaption));
    QCOMPARE(cmdOK->BrdMode(), 2);
    QCOMPARE(cmdOK->BackColor(), 0x00A4723Eu);
    QCOMPARE(cmdOK->PictureBackColor(), 0x00A4723Eu);
    QVERIFY(!cmdOK->Picture().isNull());
    QVERIFY(cmdOK->isEnabled());
    QCOMPARE(cmdOK->TextColor(), 0x80000007u); // menu text, not the gray of a disabled button
    QCOMPARE(cmdOK->Font().family(), QApplication::font().family());
    QCOMPARE(cmdOK->Font().pointSizeF(), 9.75);
    // Its size comes back from the stored extent, a round trip through HIMETRIC.
    QCOMPARE(cmdOK->geometry(), QRect(159, 168, 81, 33));

    // Picture and caption side by side, both inside the frame lines.
    const QRectF face = QRectF(cmdOK->rect()).adjusted(1, 1, -1, -1);
    const QRectF icon = cmdOK->iconRect();
    const QRectF caption = cmdOK->captionRect();
    QVERIFY2(face.contains(icon), "picture clipped by the frame");
    QVERIFY2(face.contains(caption), "caption clipped by the frame");
    QVERIFY(icon.right() <= caption.left());
    QCOMPARE(icon.size(), QSizeF(16, 16));
}

void TestFrmAbout::fixedWindowWhoseTextsFit()
{
    QWidget owner;
    frmAbout dialog(platform::AppInfo::current(), &owner);

    QCOMPARE(dialog.minimumSize(), QSize(399, 213));
    QCOMPARE(dialog.maximumSize(), QSize(399, 213));
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));

    for (const auto* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(dialog.rect().contains(child->geometry()), qPrintable(child->objectName()));

    // The program's own title and version fit their labels at the sizes the dialog uses.
    for (const char* name : {"lblTitle", "lblVersion"}) {
        const auto* label = control<QLabel>(dialog, name);
        const QFontMetrics metrics(label->font());
        QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(), name);
        QVERIFY2(metrics.ascent() + metrics.descent() <= label->height(), name);
    }
    QCOMPARE(control<QLabel>(dialog, "lblTitle")->font().pointSize(), 12);

    const auto* txtDescr = control<QPlainTextEdit>(dialog, "txtDescr");
    QCOMPARE(txtDescr->palette().color(QPalette::Base), dialog.palette().color(QPalette::ToolTipBase));
    QCOMPARE(txtDescr->palette().color(QPalette::Text), dialog.palette().color(QPalette::ToolTipText));
}

void TestFrmAbout::readableUnderADarkPaletteAndALargeFont_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("points");
    QTest::newRow("dark palette") << true << 0;
    QTest::newRow("14 pt font") << false << 14;
    QTest::newRow("dark palette, 14 pt font") << true << 14;
}

void TestFrmAbout::readableUnderADarkPaletteAndALargeFont()
{
    QFETCH(bool, dark);
    QFETCH(int, points);
    const QPalette oldPalette = QApplication::palette();
    const QFont oldFont = QApplication::font();
    auto restore = qScopeGuard([&] {
        QApplication::setPalette(oldPalette);
        QApplication::setFont(oldFont);
    });
    if (dark) {
        QPalette p = oldPalette;
        p.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        p.setColor(QPalette::WindowText, QColor(0xc8, 0xc8, 0xc8));
        p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        p.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
        p.setColor(QPalette::ToolTipBase, QColor(0x40, 0x40, 0x30));
        p.setColor(QPalette::ToolTipText, QColor(0xf0, 0xf0, 0xe0));
        QApplication::setPalette(p);
    }
    if (points > 0) {
        QFont f = oldFont;
        f.setPointSize(points);
        QApplication::setFont(f);
    }
    QWidget owner;
    frmAbout dialog(sampleApp(), &owner);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage();

    for (const auto* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(dialog.rect().contains(child->geometry()), qPrintable(child->objectName()));
    for (const char* name : {"lblTitle", "lblVersion"}) {
        const auto* label = control<QLabel>(dialog, name);
        const QFontMetrics metrics(label->font());
        // Not clipped: the whole text inside its label.
        QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(), name);
        QVERIFY2(metrics.height() <= label->height(), name);
        // Readable: the darkest pixel of the label's text stands out from the white behind it.
        int darkest = 255;
        const QRect box = label->geometry();
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x)
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
        }
        QVERIFY2(darkest < 100, qPrintable(QStringLiteral("%1: darkest %2").arg(QLatin1String(name)).arg(darkest)));
    }
    // The short description needs no scroll bar.
    QVERIFY(!control<QPlainTextEdit>(dialog, "txtDescr")->verticalScrollBar()->isVisible());
}

void TestFrmAbout::paintsWhiteWithAnEngravedRule()
{
    QWidget owner;
    frmAbout dialog(sampleApp(), &owner);
    const QImage image = dialog.grab().toImage();
    QCOMPARE(image.size(), QSize(399, 213));

    const QRgb white = 0xFFFFFF;
    const QRgb dark = qRgb(128, 128, 128) & 0xFFFFFFu;
    const QRgb light = qRgb(224, 224, 224) & 0xFFFFFFu;
    QCOMPARE(pixel(image, 4, 4), white);
    QCOMPARE(pixel(image, 390, 205), white);
    QCOMPARE(pixel(image, 130, 100), white); // between the logo and the texts

    // Dark row at 160, two light rows below it, white around them.
    const QRgb column[] = {white, dark, light, light, white};
    for (int x : {16, 200, 385}) {
        for (int row = 0; row < 5; ++row)
            QCOMPARE(pixel(image, x, 159 + row), column[row]);
    }
    // The lines start at 16 and stop before their end points (387 and 386).
    QCOMPARE(pixel(image, 15, 160), white);
    QCOMPARE(pixel(image, 15, 161), white);
    QCOMPARE(pixel(image, 386, 160), dark);
    QCOMPARE(pixel(image, 387, 160), white);
    QCOMPARE(pixel(image, 386, 161), white);
}

void TestFrmAbout::logoStaysSharpAtHighPixelRatio()
{
    QWidget owner;
    frmAbout dialog(sampleApp(), &owner);
    auto* picIcon = control<QWidget>(dialog, "picIcon");

    QImage shown(204, 204, QImage::Format_ARGB32_Premultiplied);
    shown.setDevicePixelRatio(2.0);
    shown.fill(Qt::white);
    picIcon->render(&shown, QPoint(), QRegion(), QWidget::RenderFlags()); // the box paints no background

    // The logo drawn straight at 204 device pixels; a 102-pixel picture blown up would be blurred.
    QImage expected(204, 204, QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::white);
    {
        QPainter painter(&expected);
        painter.drawPixmap(0, 0, artwork::logo().pixmap(QSize(204, 204), 1.0));
    }
    int worst = 0;
    for (int y = 0; y < 204; ++y) {
        for (int x = 0; x < 204; ++x) {
            const QRgb a = shown.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            worst = std::max(
                {worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
        }
    }
    QVERIFY2(worst <= 8, qPrintable(QString::number(worst)));
}

void TestFrmAbout::okAndCloseBoxEndTheDialog_data()
{
    QTest::addColumn<bool>("clickOk");
    QTest::addColumn<int>("result");
    QTest::newRow("OK button") << true << int(QDialog::Accepted);
    QTest::newRow("close box") << false << int(QDialog::Rejected);
}

void TestFrmAbout::okAndCloseBoxEndTheDialog()
{
    QFETCH(bool, clickOk);
    QFETCH(int, result);

    QWidget owner;
    frmAbout dialog(sampleApp(), &owner);
    bool acted = false;
    whenModalOpens(&owner, [&](frmAbout* open) {
        QCOMPARE(open, &dialog);
        acted = true;
        auto* cmdOK = control<CmdBtn>(dialog, "cmdOK");
        if (clickOk)
            QTest::mouseClick(cmdOK, Qt::LeftButton, {}, QPoint(cmdOK->width() - 8, cmdOK->height() / 2));
        else
            dialog.close();
    });
    QCOMPARE(dialog.exec(), result);
    QVERIFY(acted);
    QVERIFY(!dialog.isVisible());
}

void TestFrmAbout::showModalOpensFreshCentredDialogsAndDestroysThem()
{
    QWidget owner;
    owner.setGeometry(200, 150, 800, 600);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));

    struct Seen
    {
        QWidget* parent = nullptr;
        Qt::WindowModality modality = Qt::NonModal;
        QPoint centre;
        QString title;
        QString version;
    };
    const auto open = [&owner](const platform::AppInfo& app) {
        Seen seen;
        whenModalOpens(&owner, [&](frmAbout* dialog) {
            seen = {dialog->parentWidget(), dialog->windowModality(), dialog->geometry().center(),
                    control<QLabel>(*dialog, "lblTitle")->text(), control<QLabel>(*dialog, "lblVersion")->text()};
            auto* cmdOK = control<CmdBtn>(*dialog, "cmdOK");
            QTest::mouseClick(cmdOK, Qt::LeftButton, {}, QPoint(4, 4));
        });
        frmAbout::showModal(app, &owner);
        return seen;
    };

    const Seen first = open(sampleApp());
    QCOMPARE(first.parent, &owner);
    QVERIFY(first.modality != Qt::NonModal);
    QVERIFY2((first.centre - owner.geometry().center()).manhattanLength() <= 2,
             qPrintable(QStringLiteral("dialog centre %1,%2").arg(first.centre.x()).arg(first.centre.y())));
    QCOMPARE(first.title, QStringLiteral("Tivane Lab"));
    QVERIFY(owner.findChildren<frmAbout*>().isEmpty());

    platform::AppInfo next = sampleApp();
    next.Title = QStringLiteral("Renamed");
    next.Revision = 306;
    const Seen second = open(next);
    QCOMPARE(second.title, QStringLiteral("Renamed"));
    QCOMPARE(second.version, QStringLiteral("Version: 10.0.306"));
    QVERIFY(owner.findChildren<frmAbout*>().isEmpty());
}

void TestFrmAbout::centringKeepsTheDialogOnScreen()
{
    QWidget owner;
    const QRect available = owner.screen()->availableGeometry();
    // Mostly off the bottom-right corner: the owner's centre lies beyond the screen.
    owner.setGeometry(available.right() - 100, available.bottom() - 80, 800, 600);
    frmAbout dialog(sampleApp(), &owner);
    dialog.centreOverOwner();
    QCOMPARE(dialog.frameGeometry().bottomRight(), available.bottomRight());
}

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"
