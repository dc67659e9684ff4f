// Renders the main window, the about box and the entry dialog offscreen under a dark palette and
// a 14 pt desktop font, and fails when a text is clipped or reads too faintly on its background.
#include "app/frmmain.h"
#include "controls/cmdbtn/cmdbtn.h"
#include "hostlist/frmedit.h"
#include "hostlist/frmimport.h"
#include "platform/reportlist.h"
#include "platform/settingsstore.h"
#include "platform/toolbar.h"
#include "shell/frmabout.h"
#include "tests/app/windowharness.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>
#include <map>

namespace {

// The window over h's fakes, loaded, with the program's folder at programFolder and no tray.
frmMain& startWithoutTray(WindowHarness& h, const QString& programFolder)
{
    MainServices s = h.services();
    s.app.Path = programFolder;
    s.tray = nullptr;
    return h.start(s);
}

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2b), base(0x1e, 0x1e, 0x1e), text(0xe6, 0xe6, 0xe6);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Light, QColor(0x55, 0x55, 0x55));
    p.setColor(QPalette::Midlight, QColor(0x45, 0x45, 0x45));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x62, 0xa8));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    return p;
}

double luminance(QColor c)
{
    const auto channel = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

// The WCAG contrast ratio, 1 (none) to 21 (black on white).
double contrast(QColor a, QColor b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour most pixels of the area have: what the text stands on.
QColor backgroundOf(const QImage& image, const QRect& area)
{
    std::map<QRgb, int> counts;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int most = -1;
    for (const auto& [rgb, n] : counts)
        if (n > most) {
            most = n;
            best = rgb;
        }
    return QColor(best);
}

// The strongest contrast any pixel of the area has with its background: low when nothing in it
// stands out.
double strongestContrast(const QImage& image, const QRect& area)
{
    const QColor bg = backgroundOf(image, area);
    double best = 1;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            best = std::max(best, contrast(QColor(image.pixel(x, y)), bg));
    return best;
}

// Every text of the window: whole in its box and readable on what is drawn behind it.
void checkTexts(QWidget* window, const char* what)
{
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QImage shot = window->grab().toImage();
    // For a person to look at: TIVANE_SHOTS_DIR=<folder> keeps every render as a PNG.
    if (const QString dir = qEnvironmentVariable("TIVANE_SHOTS_DIR"); !dir.isEmpty())
        shot.save(dir + u'/' + QString::fromLatin1(what).replace(u' ', u'-') + QStringLiteral(".png"));
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty())
            continue;
        const QString name =
            QStringLiteral("%1: label %2 \"%3\"").arg(QLatin1String(what), label->objectName(), label->text());
        const QSize need = label->wordWrap() ? QSize(0, label->heightForWidth(label->width())) : label->sizeHint();
        QVERIFY2(need.width() <= label->width() && need.height() <= label->height() + 1, qPrintable(name));
        const QRect area(label->mapTo(window, QPoint(0, 0)), label->size());
        const double ratio = contrast(label->palette().color(label->foregroundRole()), backgroundOf(shot, area));
        QVERIFY2(ratio >= 4.5, qPrintable(name + QStringLiteral(": contrast %1").arg(ratio)));
        QVERIFY2(strongestContrast(shot, area) >= 3, qPrintable(name + QStringLiteral(" draws nothing visible")));
    }
    for (CmdBtn* button : window->findChildren<CmdBtn*>()) {
        const QString name = QStringLiteral("%1: button %2").arg(QLatin1String(what), button->objectName());
        const QFontMetrics fm(button->font());
        QVERIFY2(fm.horizontalAdvance(QString(button->Caption()).remove(u'&')) + 4 <= button->width(),
                 qPrintable(name));
        QVERIFY2(fm.height() <= button->height(), qPrintable(name));
        const QRect area(button->mapTo(window, QPoint(0, 0)), button->size());
        const double strongest = strongestContrast(shot, area.adjusted(2, 2, -2, -2));
        // A button's face is a control, for which 3:1 is the mark.
        QVERIFY2(strongest >= 3,
                 qPrintable(name +
                            QStringLiteral(": contrast %1 on %2").arg(strongest).arg(backgroundOf(shot, area).name())));
    }
    for (QLineEdit* box : window->findChildren<QLineEdit*>()) {
        const QString name = QStringLiteral("%1: box %2").arg(QLatin1String(what), box->objectName());
        QVERIFY2(box->fontMetrics().height() <= box->contentsRect().height(), qPrintable(name));
        QVERIFY2(box->fontMetrics().horizontalAdvance(box->text()) <= box->contentsRect().width() - 4,
                 qPrintable(name + QStringLiteral(" \"") + box->text() + u'"'));
    }
    for (QToolButton* button : window->findChildren<QToolButton*>()) {
        if (!button->isVisibleTo(window))
            continue;
        const QString name = QStringLiteral("%1: tool button %2").arg(QLatin1String(what), button->objectName());
        const QFontMetrics fm(button->font());
        const int textWidth = fm.horizontalAdvance(QString(button->text()).remove(u'&'));
        QVERIFY2(
            textWidth + 4 <= button->width() && fm.height() + button->iconSize().height() <= button->height(),
            qPrintable(
                name +
                QStringLiteral(": text %1 px in %2x%3").arg(textWidth).arg(button->width()).arg(button->height())));
    }
}

} // namespace

class tst_Looks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void mainWindow();
    void aboutBox();
    void entryDialog();
    void importPreview();
    void firstRunFitsTheScreen();

private:
    QTemporaryDir m_dir;
};

void tst_Looks::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The scale check runs under its own QT_SCALE_FACTOR and needs the plain look.
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        return;
    QApplication::setPalette(darkPalette());
    QFont font = QApplication::font();
    font.setPointSizeF(14);
    QApplication::setFont(font);
}

void tst_Looks::mainWindow()
{
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        QSKIP("the looks are checked without scaling");
    writeBytes(m_dir.filePath(QStringLiteral("list.txt")),
               "1|This computer|127.0.0.1\r\n2|pc|127.0.0.200\r\n3|name|host.example\r\n");
    WindowHarness h;
    frmMain& w = startWithoutTray(h, m_dir.path());
    w.lstPings->setChecked(2, false);
    w.lstPings->setSubText(1, 2, QStringLiteral("OK"));
    w.lstPings->setSubText(1, 3, QStringLiteral("1"));
    // Shown sorted by address, reversed: the second click on the column.
    w.lstPings_ColumnClick(2);
    w.lstPings_ColumnClick(2);
    w.show();
    checkTexts(&w, "main window");

    // Every cell of the host columns is whole at this font.
    QHeaderView* header = w.lstPings->header();
    for (int column = 0; column < 2; ++column) {
        for (int row = 0; row < w.lstPings->count(); ++row) {
            const QModelIndex index = w.lstPings->items()->index(row, column);
            const int need = w.lstPings->sizeHintForIndex(index).width();
            QVERIFY2(need <= header->sectionSize(column),
                     qPrintable(QStringLiteral("\"%1\" needs %2 px, its column has %3")
                                    .arg(index.data().toString())
                                    .arg(need)
                                    .arg(header->sectionSize(column))));
        }
    }

    // An unticked box shows on the dark rows.
    const QImage shot = w.lstPings->viewport()->grab().toImage();
    QStyleOptionViewItem option;
    option.initFrom(w.lstPings);
    option.rect = w.lstPings->visualRect(w.lstPings->items()->index(1, 0));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = w.lstPings->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, w.lstPings);
    QVERIFY(box.isValid());
    QVERIFY2(strongestContrast(shot, box) >= 3, "an unticked check box is hard to see");
}

void tst_Looks::aboutBox()
{
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        QSKIP("the looks are checked without scaling");
    frmAbout about(platform::AppInfo(), nullptr);
    about.show();
    checkTexts(&about, "about box");
    // The description needs no scroll bar of its own.
    for (QTextEdit* text : about.findChildren<QTextEdit*>())
        QVERIFY(!text->verticalScrollBar()->isVisible());
}

void tst_Looks::entryDialog()
{
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        QSKIP("the looks are checked without scaling");
    RecordingMessageBox messages;
    frmEdit dialog({m_dir.filePath(QStringLiteral("list.txt")), QStringLiteral("Tivane"), messages, nullptr});
    dialog.prepareEdit(QStringLiteral("This computer"), QStringLiteral("127.0.0.200"), 1);
    dialog.show();
    checkTexts(&dialog, "entry dialog");
    // It follows the desktop font.
    QCOMPARE(dialog.txtName->font().pointSizeF(), 14.0);
}

void tst_Looks::importPreview()
{
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        QSKIP("the looks are checked without scaling");
    frmImport dialog({{1, QStringLiteral("here"), QStringLiteral("127.0.0.1")}});
    dialog.txtHosts->setPlainText(
        QStringLiteral("Mail server 127.0.0.25\n127.0.0.26\n2|gw|127.0.0.254\nbad 10.0.0.300\n"
                       "again 127.0.0.1\n"));
    dialog.show();
    checkTexts(&dialog, "import preview");
    QCOMPARE(dialog.lstPreview->topLevelItemCount(), 5);
}

void tst_Looks::firstRunFitsTheScreen()
{
    WindowHarness h; // settings of its own: a first run
    frmMain& w = startWithoutTray(h, m_dir.path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Form_Activate();
    const QRect screen = w.screen()->availableGeometry();
    QVERIFY2(screen.contains(w.frameGeometry()), qPrintable(QStringLiteral("window %1x%2 at %3,%4 on a screen of %5x%6")
                                                                .arg(w.frameGeometry().width())
                                                                .arg(w.frameGeometry().height())
                                                                .arg(w.frameGeometry().x())
                                                                .arg(w.frameGeometry().y())
                                                                .arg(screen.width())
                                                                .arg(screen.height())));
}

QTEST_MAIN(tst_Looks)
#include "tst_looks.moc"
