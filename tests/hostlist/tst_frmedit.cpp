#include "hostlist/frmedit.h"
#include "tests/support/testfiles.h"

#include "controls/cmdbtn/cmdbtn.h"
#include "controls/cmdbtn/propertybag.h"
#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "platform/reportlist.h"
#include "tests/support/fakes.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>

namespace {

const QString Title = QStringLiteral("Tivane Test");

// Runs `whileOpen` once the next modal entry dialog is up. Dialogs still open after a while are
// closed, one every few seconds, so that a failing test ends instead of hanging in exec(); the
// guard goes with `context`, so it cannot reach into a later test.
void whenModalOpens(QObject* context, std::function<void(frmEdit&)> whileOpen)
{
    QTimer::singleShot(0, context, [whileOpen] {
        if (auto* dialog = qobject_cast<frmEdit*>(QApplication::activeModalWidget()))
            whileOpen(*dialog);
    });
    auto* guard = new QTimer(context);
    QObject::connect(guard, &QTimer::timeout, context, [] {
        if (QWidget* stuck = QApplication::activeModalWidget())
            stuck->close();
    });
    guard->start(3000);
}

} // namespace

class TestFrmEdit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void insertAppendsWhatWasTyped_data();
    void insertAppendsWhatWasTyped();
    void identicalInsertsAppendTwoLines();
    void otherTagsShowThemselvesAndStoreNothing_data();
    void otherTagsShowThemselvesAndStoreNothing();
    void okRefusesAddressesThatCannotBeProbed_data();
    void okRefusesAddressesThatCannotBeProbed();
    void editRewritesTheEntrysLine();
    void buttonsAreInTheTabOrderAndNamed();
    void editOfALineChangedOnDiskAsksForReload();
    void cancellingStoresNothing_data();
    void cancellingStoresNothing();
    void typingStopsAtTheLengthLimits();
    void nameRefusesBarsTypedOrPasted();
    void failedAppendKeepsEverythingTyped_data();
    void failedAppendKeepsEverythingTyped();
    void editShowsTheRowAsLoaded_data();
    void editShowsTheRowAsLoaded();
    void insertAfterEditStartsFresh();
    void onlyOneDialogAtATime();
    void buttonsLoadFromTheirStoredState();
    void labelsShowTheirWholeText();

private:
    frmEdit::Services services() { return {m_path, Title, m_box, nullptr}; }
    // A dialog shown without blocking, set up as the insert entry point does.
    std::unique_ptr<frmEdit> openInsert();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    RecordingMessageBox m_box;
};

void TestFrmEdit::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("list.txt"));
    m_box.shown.clear();
}

void TestFrmEdit::cleanup()
{
    m_dir.reset();
}

std::unique_ptr<frmEdit> TestFrmEdit::openInsert()
{
    auto dialog = std::make_unique<frmEdit>(services());
    dialog->prepareInsert();
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog.get()))
        qWarning("the dialog was not exposed");
    return dialog;
}

void TestFrmEdit::insertAppendsWhatWasTyped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("option"); // 0: left as it opened
    QTest::addColumn<bool>("byEnter");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("second option") << QStringLiteral("gw") << QStringLiteral("10.0.0.1") << 2 << false
                                   << QByteArray("2|gw|10.0.0.1\r\n");
    QTest::newRow("no name") << QString() << QStringLiteral("10.0.0.1") << 0 << false << QByteArray("3||10.0.0.1\r\n");
    QTest::newRow("Enter acts as OK") << QStringLiteral("gw") << QStringLiteral("10.0.0.1") << 1 << true
                                      << QByteArray("1|gw|10.0.0.1\r\n");
    QTest::newRow("texts as typed") << QStringLiteral(" a  b ") << QStringLiteral("h-x.example") << 3 << true
                                    << QByteArray("3| a  b |h-x.example\r\n");
    QTest::newRow("spaces around the address dropped")
        << QStringLiteral("v6") << QStringLiteral(" ::1 ") << 3 << true << QByteArray("3|v6|::1\r\n");
}

void TestFrmEdit::insertAppendsWhatWasTyped()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(int, option);
    QFETCH(bool, byEnter);
    QFETCH(QByteArray, line);

    const auto dialog = openInsert();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Insert new item"));
    QTest::keyClicks(dialog->txtName, name);
    QTest::keyClicks(dialog->txtIP, address);
    if (option != 0)
        QTest::mouseClick(dialog->optType(option), Qt::LeftButton);
    if (byEnter)
        QTest::keyClick(dialog->txtIP, Qt::Key_Return);
    else
        QTest::mouseClick(dialog->cmdOk, Qt::LeftButton);

    QCOMPARE(readBytes(m_path), line);
    QVERIFY(m_box.shown.isEmpty());
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(dialog->appended());
}

void TestFrmEdit::identicalInsertsAppendTwoLines()
{
    for (int round = 0; round < 2; ++round) {
        QObject guard;
        whenModalOpens(&guard, [](frmEdit& dialog) {
            QTest::keyClicks(dialog.txtName, QStringLiteral("gw"));
            QTest::keyClicks(dialog.txtIP, QStringLiteral("10.0.0.1"));
            QTest::mouseClick(dialog.optType(2), Qt::LeftButton);
            QTest::keyClick(dialog.txtName, Qt::Key_Enter, Qt::KeypadModifier);
        });
        QVERIFY(frmEdit::showInsert(nullptr, services()));
    }
    QCOMPARE(readBytes(m_path), QByteArray("2|gw|10.0.0.1\r\n2|gw|10.0.0.1\r\n"));
}

void TestFrmEdit::otherTagsShowThemselvesAndStoreNothing_data()
{
    QTest::addColumn<QString>("tag");
    // Only the exact words store.
    QTest::newRow("Edit") << QStringLiteral("Edit");
    QTest::newRow("Insert") << QStringLiteral("Insert");
    QTest::newRow("empty") << QString();
}

void TestFrmEdit::otherTagsShowThemselvesAndStoreNothing()
{
    QFETCH(QString, tag);

    frmEdit dialog(services());
    dialog.prepareEdit(QStringLiteral("gw"), QStringLiteral("10.0.0.1"), 2);
    dialog.setTag(tag);
    dialog.show();
    QTest::keyClicks(dialog.txtName, QStringLiteral("x"));
    QTest::mouseClick(dialog.cmdOk, Qt::LeftButton);

    QCOMPARE(m_box.shown.size(), 1);
    QCOMPARE(m_box.shown[0].text, tag);
    QCOMPARE(m_box.shown[0].style, int(platform::MsgOkOnly));
    QCOMPARE(m_box.shown[0].title, Title);
    QVERIFY(!QFile::exists(m_path));
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.appended());
}

void TestFrmEdit::cancellingStoresNothing_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close box") << 2;
}

void TestFrmEdit::cancellingStoresNothing()
{
    QFETCH(int, how);

    const auto dialog = openInsert();
    QTest::keyClicks(dialog->txtName, QStringLiteral("gw"));
    QTest::keyClicks(dialog->txtIP, QStringLiteral("10.0.0.1"));
    switch (how) {
    case 0:
        QTest::mouseClick(dialog->CancelButton, Qt::LeftButton);
        break;
    case 1:
        QTest::keyClick(dialog->txtIP, Qt::Key_Escape);
        break;
    default:
        dialog->close();
    }

    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(!QFile::exists(m_path));
    QVERIFY(m_box.shown.isEmpty());
}

void TestFrmEdit::typingStopsAtTheLengthLimits()
{
    const auto dialog = openInsert();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    QCOMPARE(QApplication::focusWidget(), dialog->txtName);
    QTest::keyClicks(dialog->txtName, QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(dialog->txtName->text(), QStringLiteral("abcdefghijklmnopqrstuvwxy"));
    QTest::keyClicks(dialog->txtIP, QStringLiteral("255.255.255.2550"));
    QCOMPARE(dialog->txtIP->text(), QStringLiteral("255.255.255.255"));

    // Host names and IPv6 addresses go on to 253 characters.
    dialog->txtIP->clear();
    const QString v6 = QStringLiteral("2001:db8:85a3:0:0:8a2e:370:7334");
    QTest::keyClicks(dialog->txtIP, v6);
    QCOMPARE(dialog->txtIP->text(), v6);
    dialog->txtIP->clear();
    const QString longName = QStringLiteral("abcdefghi.").repeated(25) + QStringLiteral("abc");
    QCOMPARE(longName.size(), 253);
    QTest::keyClicks(dialog->txtIP, longName + QStringLiteral("d"));
    QCOMPARE(dialog->txtIP->text(), longName);
    // The hex IPv4 forms keep the IPv4 limit too.
    dialog->txtIP->clear();
    QTest::keyClicks(dialog->txtIP, QStringLiteral("0x7f.0x0000000001"));
    QCOMPARE(dialog->txtIP->text(), QStringLiteral("0x7f.0x00000000"));
    // A pasted IPv4 text that is too long is refused whole, not cut into another address.
    dialog->txtIP->clear();
    QApplication::clipboard()->setText(QStringLiteral("192.168.100.1000"));
    QTest::keyClick(dialog->txtIP, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(dialog->txtIP->text(), QString());
}

void TestFrmEdit::nameRefusesBarsTypedOrPasted()
{
    const auto dialog = openInsert();
    QTest::keyClicks(dialog->txtName, QStringLiteral("a|b"));
    QCOMPARE(dialog->txtName->text(), QStringLiteral("ab"));

    // Pasted text arrives without its bars, at the cursor.
    QTest::keyClick(dialog->txtName, Qt::Key_Left);
    QApplication::clipboard()->setText(QStringLiteral("|x|y|"));
    QTest::keyClick(dialog->txtName, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(dialog->txtName->text(), QStringLiteral("axyb"));
    QTest::keyClicks(dialog->txtName, QStringLiteral("z"));
    QCOMPARE(dialog->txtName->text(), QStringLiteral("axyzb"));

    // The address box takes a bar as typed (OK then says it is no address).
    QTest::keyClicks(dialog->txtIP, QStringLiteral("a|b"));
    QCOMPARE(dialog->txtIP->text(), QStringLiteral("a|b"));
    dialog->txtIP->clear();
    QTest::keyClicks(dialog->txtIP, QStringLiteral("a.b"));
    // A pasted line break would split the entry over two lines of the file.
    QApplication::clipboard()->setText(QStringLiteral("\r\nc\n"));
    QTest::keyClick(dialog->txtName, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(dialog->txtIP, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(dialog->txtIP->text(), QStringLiteral("a.bc"));
    QTest::mouseClick(dialog->cmdOk, Qt::LeftButton);
    QCOMPARE(readBytes(m_path), QByteArray("3|axyzcb|a.bc\r\n"));
}

void TestFrmEdit::okRefusesAddressesThatCannotBeProbed_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("empty, by Enter") << QString() << true;
    QTest::newRow("empty, by OK") << QString() << false;
    QTest::newRow("octet too large") << QStringLiteral("10.0.0.300") << false;
    QTest::newRow("not a name") << QStringLiteral("a b") << true;
    QTest::newRow("bad IPv6") << QStringLiteral("1::2::3") << false;
}

void TestFrmEdit::okRefusesAddressesThatCannotBeProbed()
{
    QFETCH(QString, address);
    QFETCH(bool, byEnter);

    const auto dialog = openInsert();
    QTest::keyClicks(dialog->txtName, QStringLiteral("gw"));
    QTest::keyClicks(dialog->txtIP, address);
    if (byEnter)
        QTest::keyClick(dialog->txtName, Qt::Key_Return);
    else
        QTest::mouseClick(dialog->cmdOk, Qt::LeftButton);

    // Refused, saying which field, and nothing written; the dialog keeps what was typed.
    QCOMPARE(m_box.shown.size(), 1);
    QVERIFY2(m_box.shown[0].text.startsWith(QStringLiteral("IP Adress:")), qPrintable(m_box.shown[0].text));
    QCOMPARE(m_box.shown[0].style, int(platform::MsgExclamation));
    QVERIFY(!QFile::exists(m_path));
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->appended());
    QCOMPARE(dialog->txtName->text(), QStringLiteral("gw"));
    QTRY_VERIFY(dialog->txtIP->hasFocus());

    // Put right, the same dialog stores.
    dialog->txtIP->selectAll();
    QTest::keyClicks(dialog->txtIP, QStringLiteral("127.0.0.1"));
    QTest::keyClick(dialog->txtIP, Qt::Key_Return);
    QCOMPARE(readBytes(m_path), QByteArray("3|gw|127.0.0.1\r\n"));
    QVERIFY(dialog->written().has_value());
}

void TestFrmEdit::editRewritesTheEntrysLine()
{
    writeBytes(m_path, "1|a|10.0.0.1\r\n2|core|10.0.0.2\r\n3|c|10.0.0.3");
    platform::ReportList list;
    hostlist::HostListFile listFile(m_path);
    hostlist::LoadList(list, listFile);
    const quint64 key = list.items()->row(2).key;

    frmEdit::Services withFile = services();
    withFile.file = &listFile;
    QObject guard;
    whenModalOpens(&guard, [](frmEdit& dialog) {
        QCOMPARE(dialog.txtIP->text(), QStringLiteral("10.0.0.2"));
        dialog.txtName->selectAll();
        QTest::keyClicks(dialog.txtName, QStringLiteral("core-2"));
        dialog.txtIP->selectAll();
        QTest::keyClicks(dialog.txtIP, QStringLiteral("core.example"));
        QTest::mouseClick(dialog.optType(3), Qt::LeftButton);
        QTest::mouseClick(dialog.cmdOk, Qt::LeftButton);
    });
    const std::optional<hostlist::HostLine> stored =
        frmEdit::showEdit(nullptr, withFile, list.text(2), list.subText(2, 1), list.smallIcon(2), key);
    QVERIFY(stored.has_value());
    QCOMPARE(*stored, (hostlist::HostLine{3, QStringLiteral("core-2"), QStringLiteral("core.example")}));
    QCOMPARE(readBytes(m_path), QByteArray("1|a|10.0.0.1\r\n3|core-2|core.example\r\n3|c|10.0.0.3"));
    QVERIFY(m_box.shown.isEmpty());

    // A second edit of the same entry needs no reload.
    whenModalOpens(&guard, [](frmEdit& dialog) {
        dialog.txtIP->selectAll();
        QTest::keyClicks(dialog.txtIP, QStringLiteral("::1"));
        QTest::keyClick(dialog.txtIP, Qt::Key_Enter, Qt::KeypadModifier);
    });
    QVERIFY(frmEdit::showEdit(nullptr, withFile, stored->name, stored->address, stored->type, key));
    QCOMPARE(readBytes(m_path), QByteArray("1|a|10.0.0.1\r\n3|core-2|::1\r\n3|c|10.0.0.3"));
}

void TestFrmEdit::buttonsAreInTheTabOrderAndNamed()
{
    const auto dialog = openInsert();
    dialog->activateWindow();
    QTRY_VERIFY(dialog->txtName->hasFocus());
    QCOMPARE(dialog->cmdOk->accessibleName(), QStringLiteral("OK"));
    QCOMPARE(dialog->CancelButton->accessibleName(), QStringLiteral("Cancel"));
    for (int i = 1; i <= 3; ++i)
        QVERIFY(!dialog->optType(i)->accessibleName().isEmpty());

    // Tab reaches OK and Cancel, in that order, after the boxes and the options.
    QTest::keyClicks(dialog->txtName, QStringLiteral("gw"));
    QWidget* reached = nullptr;
    for (int i = 0; i < 10 && reached != dialog->cmdOk; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached = QApplication::focusWidget();
        if (reached == dialog->txtIP && dialog->txtIP->text().isEmpty())
            QTest::keyClicks(dialog->txtIP, QStringLiteral("127.0.0.1"));
    }
    QCOMPARE(reached, static_cast<QWidget*>(dialog->cmdOk));
    QTest::keyClick(dialog->cmdOk, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dialog->CancelButton));

    // Enter on the focused Cancel cancels instead of storing.
    QTest::keyClick(dialog->CancelButton, Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(!QFile::exists(m_path));

    // Space on the focused OK stores.
    const auto second = openInsert();
    QTest::keyClicks(second->txtIP, QStringLiteral("127.0.0.2"));
    second->cmdOk->setFocus();
    QTest::keyClick(second->cmdOk, Qt::Key_Space);
    QCOMPARE(readBytes(m_path), QByteArray("3||127.0.0.2\r\n"));
}

void TestFrmEdit::editOfALineChangedOnDiskAsksForReload()
{
    writeBytes(m_path, "1|a|10.0.0.1\r\n");
    platform::ReportList list;
    hostlist::HostListFile listFile(m_path);
    hostlist::LoadList(list, listFile);
    const QByteArray byHand = "1|a|10.0.0.9\r\n";
    writeBytes(m_path, byHand);

    frmEdit::Services withFile = services();
    withFile.file = &listFile;
    frmEdit dialog(withFile);
    dialog.prepareEdit(list.text(1), list.subText(1, 1), list.smallIcon(1), list.items()->row(1).key);
    dialog.show();
    QTest::keyClicks(dialog.txtName, QStringLiteral("x"));
    QTest::mouseClick(dialog.cmdOk, Qt::LeftButton);
    QCOMPARE(m_box.shown.size(), 1);
    QVERIFY2(m_box.shown[0].text.contains(QStringLiteral("Reload")), qPrintable(m_box.shown[0].text));
    QCOMPARE(readBytes(m_path), byHand);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.stored());
}

void TestFrmEdit::failedAppendKeepsEverythingTyped_data()
{
    QTest::addColumn<QString>("folder"); // made before the retry; empty: none
    QTest::addColumn<QString>("blocker");

    QTest::newRow("missing folder") << QStringLiteral("missing") << QString();
    QTest::newRow("folder in the file's place") << QString() << QStringLiteral("list.txt");
}

void TestFrmEdit::failedAppendKeepsEverythingTyped()
{
    QFETCH(QString, folder);
    QFETCH(QString, blocker);

    if (!folder.isEmpty())
        m_path = m_dir->filePath(folder + QStringLiteral("/list.txt"));
    if (!blocker.isEmpty())
        QVERIFY(QDir(m_dir->path()).mkdir(blocker));

    const auto dialog = openInsert();
    QTest::keyClicks(dialog->txtName, QStringLiteral("gw"));
    QTest::keyClicks(dialog->txtIP, QStringLiteral("10.0.0.1"));
    QTest::mouseClick(dialog->optType(1), Qt::LeftButton);
    QTest::mouseClick(dialog->cmdOk, Qt::LeftButton);

    QCOMPARE(m_box.shown.size(), 1);
    QCOMPARE(m_box.shown[0].style, int(platform::MsgExclamation));
    QCOMPARE(m_box.shown[0].title, Title);
    QVERIFY2(m_box.shown[0].text.contains(QDir::toNativeSeparators(m_path)), qPrintable(m_box.shown[0].text));
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->txtName->text(), QStringLiteral("gw"));
    QCOMPARE(dialog->txtIP->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(dialog->selectedType(), 1);
    QVERIFY(!dialog->appended());

    // Once the cause is gone, OK stores what was kept.
    if (folder.isEmpty())
        return;
    QVERIFY(QDir(m_dir->path()).mkdir(folder));
    QTest::mouseClick(dialog->cmdOk, Qt::LeftButton);
    QCOMPARE(readBytes(m_path), QByteArray("1|gw|10.0.0.1\r\n"));
    QVERIFY(!dialog->isVisible());
}

void TestFrmEdit::editShowsTheRowAsLoaded_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("selected"); // 0: no option
    QTest::addColumn<QString>("caption");

    QTest::newRow("type 1") << QByteArray("1|core|10.0.0.2") << 1 << QStringLiteral("core properties");
    QTest::newRow("type 2") << QByteArray("2|pc|10.0.0.3") << 2 << QStringLiteral("pc properties");
    QTest::newRow("type 0") << QByteArray("0|bare|10.0.0.4") << 0 << QStringLiteral("bare properties");
    QTest::newRow("7 reads as 3") << QByteArray("7|odd|10.0.0.5") << 3 << QStringLiteral("odd properties");
    QTest::newRow("no name") << QByteArray("3||x") << 3 << QStringLiteral(" properties");
    // Hand-made entries may be longer than what can be typed; they are shown whole.
    QTest::newRow("long values") << QByteArray("1|abcdefghijklmnopqrstuvwxyz0123|fe80::1:2:3:4%eth0|x") << 1
                                 << QStringLiteral("abcdefghijklmnopqrstuvwxyz0123 properties");
}

void TestFrmEdit::editShowsTheRowAsLoaded()
{
    QFETCH(QByteArray, line);
    QFETCH(int, selected);
    QFETCH(QString, caption);

    QFile file(m_path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(line + "\r\n");
    file.close();
    platform::ReportList list;
    hostlist::HostListFile listFile(m_path);
    hostlist::LoadList(list, listFile);
    QCOMPARE(list.count(), 1);

    frmEdit dialog(services());
    dialog.prepareEdit(list.text(1), list.subText(1, 1), list.smallIcon(1));
    QCOMPARE(dialog.txtName->text(), list.text(1));
    QCOMPARE(dialog.txtIP->text(), list.subText(1, 1));
    QCOMPARE(dialog.selectedType(), selected);
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(dialog.optType(i)->isChecked(), i == selected);
    QCOMPARE(dialog.windowTitle(), caption);
}

void TestFrmEdit::insertAfterEditStartsFresh()
{
    QWidget owner;
    owner.setGeometry(40, 30, 600, 400);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));

    QObject guard;
    bool seen = false;
    whenModalOpens(&guard, [&seen](frmEdit& dialog) {
        seen = true;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("core properties"));
        QCOMPARE(dialog.selectedType(), 1);
        QTest::keyClicks(dialog.txtName, QStringLiteral("more"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    frmEdit::showEdit(&owner, services(), QStringLiteral("core"), QStringLiteral("10.0.0.2"), 1);
    QVERIFY(seen);

    seen = false;
    whenModalOpens(&guard, [&seen, &owner](frmEdit& dialog) {
        seen = true;
        QCOMPARE(dialog.parentWidget(), &owner);
        QVERIFY((dialog.geometry().center() - owner.geometry().center()).manhattanLength() <= 2);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Insert new item"));
        QCOMPARE(dialog.txtName->text(), QString());
        QCOMPARE(dialog.txtIP->text(), QString());
        QCOMPARE(dialog.selectedType(), 3);
        QCOMPARE(dialog.tag(), QStringLiteral("insert"));
        QCOMPARE(dialog.focusWidget(), dialog.txtName);
        dialog.CancelButton_Click();
    });
    QVERIFY(!frmEdit::showInsert(&owner, services()));
    QVERIFY(seen);
    QVERIFY(!QFile::exists(m_path));
    QVERIFY(m_box.shown.isEmpty());
}

void TestFrmEdit::onlyOneDialogAtATime()
{
    QObject guard;
    int opened = 0;
    int stacked = 0;
    whenModalOpens(&guard, [this, &opened, &stacked, &guard](frmEdit& dialog) {
        ++opened;
        // Closes at once any dialog that opens on top of this one, counting it.
        QTimer watch;
        connect(&watch, &QTimer::timeout, &guard, [&dialog, &stacked] {
            QWidget* active = QApplication::activeModalWidget();
            if (active && active != &dialog) {
                ++stacked;
                active->close();
            }
        });
        watch.start(0);
        // A second request, say from the tray menu, brings this one forward instead.
        QVERIFY(!frmEdit::showInsert(nullptr, services()));
        frmEdit::showEdit(nullptr, services(), QStringLiteral("a"), QStringLiteral("b"), 1);
        watch.stop();
        dialog.reject();
    });
    frmEdit::showInsert(nullptr, services());
    QCOMPARE(opened, 1);
    QCOMPARE(stacked, 0);
    QVERIFY(m_box.shown.isEmpty());
}

void TestFrmEdit::buttonsLoadFromTheirStoredState()
{
    const QStringList keys = {QStringLiteral("Caption"), QStringLiteral("BrdMode"),  QStringLiteral("TextColor"),
                              QStringLiteral("Font"),    QStringLiteral("_extentx"), QStringLiteral("_extenty")};
    QCOMPARE(frmEdit::cancelButtonState().keys(), keys);
    QCOMPARE(frmEdit::okButtonState().keys(), keys);
    // 1335 x 375 twips in HIMETRIC.
    QCOMPARE(frmEdit::cancelButtonState().read(QStringLiteral("_extentx")).toInt(), 2355);
    QCOMPARE(frmEdit::cancelButtonState().read(QStringLiteral("_extenty")).toInt(), 661);

    frmEdit dialog(services());
    QCOMPARE(dialog.size(), QSize(260, 140));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    const struct
    {
        CmdBtn* button;
        QString caption;
        QPoint at;
    } buttons[] = {{dialog.cmdOk, QStringLiteral("OK"), {64, 104}},
                   {dialog.CancelButton, QStringLiteral("Cancel"), {160, 104}}};
    for (const auto& b : buttons) {
        QCOMPARE(b.button->Caption(), b.caption);
        QCOMPARE(b.button->geometry(), QRect(b.at, QSize(89, 25)));
        QVERIFY(b.button->Enabled());
        QVERIFY(b.button->isEnabled());
        QCOMPARE(b.button->BtnMode(), CmdBtn::CaptionOnly);
        QCOMPARE(b.button->HAlign(), CmdBtn::AlignCentre);
        QCOMPARE(b.button->VAlign(), CmdBtn::AlignCentre);
        QCOMPARE(b.button->BrdMode(), 2);
        QCOMPARE(b.button->Font().family(), QApplication::font().family());
        QCOMPARE(b.button->Font().pointSizeF(), 8.25);
        QCOMPARE(b.button->Font().weight(), QFont::Normal);
        QVERIFY(!b.button->Font().italic());
        // The caption fits inside the frame.
        QVERIFY(QRectF(1, 1, 87, 23).contains(b.button->captionRect()));
    }
}

void TestFrmEdit::labelsShowTheirWholeText()
{
    frmEdit dialog(services());
    // Each label keeps its place, stays left of the boxes and is not cut off by the font in use.
    const QPoint places[] = {{8, 8}, {8, 32}, {8, 64}};
    for (int i = 0; i < 3; ++i) {
        const QLabel* label = dialog.lbl(i);
        QCOMPARE(label->pos(), places[i]);
        QVERIFY(label->geometry().right() < dialog.txtName->x());
        QVERIFY2(label->heightForWidth(label->width()) <= label->height(), qPrintable(label->text()));
        if (!label->wordWrap())
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
    }
    QVERIFY(dialog.lbl(2)->wordWrap());
}

QTEST_MAIN(TestFrmEdit)
#include "tst_frmedit.moc"
