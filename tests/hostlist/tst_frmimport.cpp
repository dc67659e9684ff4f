#include "hostlist/frmimport.h"
#include "hostlist/hostlistfile.h"
#include "tests/support/testfiles.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

class TestFrmImport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void previewFollowsTheTyping();
    void fileInALegacyCodePageIsRead();
    void csvLines_data();
    void csvLines();
    void aLongReasonIsReadWhole();
};

void TestFrmImport::csvLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name"); // empty: the line is skipped
    QTest::addColumn<QString>("address");
    const auto s = [](const char* text) { return QString::fromUtf8(text); };
    QTest::newRow("plain pair") << s("router,10.0.0.13") << s("router") << s("10.0.0.13");
    QTest::newRow("spaces round fields") << s(" router , 10.0.0.13 ") << s("router") << s("10.0.0.13");
    QTest::newRow("quoted name with a comma") << s("\"core, rack 2\",10.0.0.14") << s("core, rack 2") << s("10.0.0.14");
    QTest::newRow("doubled quotes") << s("\"the \"\"big\"\" one\",10.0.0.15") << s("the \"big\" one") << s("10.0.0.15");
    QTest::newRow("quoted address") << s("nas,\"10.0.0.16\"") << s("nas") << s("10.0.0.16");
    QTest::newRow("empty name: the address") << s(",10.0.0.17") << s("10.0.0.17") << s("10.0.0.17");
    // Not a pair with an address: read as words, as before.
    QTest::newRow("comma in a name of words") << s("pc, home 10.0.0.18") << s("pc, home") << s("10.0.0.18");
    QTest::newRow("three fields") << s("a,b,10.0.0.19") << QString() << QString();
    QTest::newRow("quote left open") << s("\"a,10.0.0.20") << QString() << QString();
    QTest::newRow("bar in a quoted name") << s("\"a|b\",10.0.0.21") << QString() << QString();
}

void TestFrmImport::csvLines()
{
    QFETCH(QString, line);
    QFETCH(QString, name);
    QFETCH(QString, address);
    const hostlist::ImportPlan plan = hostlist::planImport(line);
    if (name.isEmpty()) {
        QCOMPARE(plan.accepted.size(), 0);
        QCOMPARE(plan.rejected.size(), 1);
        QVERIFY(!plan.rejected.first().why.isEmpty());
        return;
    }
    QCOMPARE(plan.accepted.size(), 1);
    QCOMPARE(plan.accepted.first().name, name);
    QCOMPARE(plan.accepted.first().address, address);
    QCOMPARE(plan.accepted.first().type, 3);
}

void TestFrmImport::aLongReasonIsReadWhole()
{
    frmImport dialog({});
    dialog.resize(300, 300);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.txtHosts->setPlainText(QStringLiteral("web 127.0.0.5\na,b,c\nweb 10.0.0.300"));
    QCOMPARE(dialog.lstPreview->topLevelItemCount(), 3);
    for (int i = 1; i < 3; ++i) {
        QTreeWidgetItem* item = dialog.lstPreview->topLevelItem(i);
        const QString why = item->text(3);
        QCOMPARE(item->toolTip(3), why);
        // Cut short in its column, the reason of the current row is below the list, whole and wrapped.
        dialog.lstPreview->setFocus();
        QTest::keyClick(dialog.lstPreview, Qt::Key_Down);
        QCOMPARE(dialog.lstPreview->currentItem(), item);
        QVERIFY2(dialog.lblSummary->text().endsWith(QStringLiteral("Line %1: %2").arg(i + 1).arg(why)),
                 qPrintable(dialog.lblSummary->text()));
        QVERIFY(dialog.lblSummary->wordWrap());
    }
}

void TestFrmImport::previewFollowsTheTyping()
{
    frmImport dialog({{1, QStringLiteral("here"), QStringLiteral("127.0.0.1")}});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.cmdOk->isEnabled());

    QTest::keyClicks(dialog.txtHosts, QStringLiteral("web 127.0.0.5"));
    QTest::keyClick(dialog.txtHosts, Qt::Key_Return);
    QTest::keyClicks(dialog.txtHosts, QStringLiteral("10.0.0.300"));
    QTest::keyClick(dialog.txtHosts, Qt::Key_Return);
    QTest::keyClicks(dialog.txtHosts, QStringLiteral("127.0.0.1"));

    QCOMPARE(dialog.lstPreview->topLevelItemCount(), 3);
    QCOMPARE(dialog.lstPreview->topLevelItem(0)->text(1), QStringLiteral("add"));
    QCOMPARE(dialog.lstPreview->topLevelItem(0)->text(2), QStringLiteral("web"));
    QCOMPARE(dialog.lstPreview->topLevelItem(1)->text(1), QStringLiteral("skip"));
    QVERIFY(dialog.lstPreview->topLevelItem(1)->text(3).contains(QStringLiteral("IPv4")));
    QVERIFY(dialog.lstPreview->topLevelItem(2)->text(3).contains(QStringLiteral("already")));
    QCOMPARE(dialog.lblSummary->text(), QStringLiteral("1 to add, 2 left out."));
    QVERIFY(dialog.cmdOk->isEnabled());

    QTest::mouseClick(dialog.cmdOk, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.plan().accepted.size(), 1);
}

void TestFrmImport::fileInALegacyCodePageIsRead()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("hosts.txt"));
    writeBytes(path, "\xCF\xF0\xE8\xED\xF2\xE5\xF0 10.0.0.7\r\n");
    frmImport dialog({});
    QString error;
    QVERIFY(dialog.loadFile(path, &error));
    QCOMPARE(dialog.plan().accepted.value(0).name, QStringLiteral("Принтер"));
    QVERIFY(!dialog.loadFile(dir.filePath(QStringLiteral("missing.txt")), &error));
    QVERIFY(error.contains(QStringLiteral("missing.txt")));
}

QTEST_MAIN(TestFrmImport)
#include "tst_frmimport.moc"
