#include "hostlist/frmimport.h"
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
};

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
