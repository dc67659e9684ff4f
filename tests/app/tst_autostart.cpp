// "Start with the session": the autostart entry is written whole or not at all, quotes any
// program path so the session starts exactly that program, and the View item follows what is
// really on disk, persisted like the other view settings.
#include "app/autostart.h"
#include "app/frmmain.h"
#include "platform/settingsstore.h"
#include "platform/toolbar.h"
#include "tests/app/windowharness.h"
#include "tests/support/smalldisk.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// The Exec line as the desktop will read it back: string escapes first, then the quoting.
QString execProgram(const QByteArray& entry)
{
    QString exec;
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith("Exec="))
            exec = QString::fromUtf8(line.mid(5));
    }
    QString unescaped;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (exec[i] == u'\\' && i + 1 < exec.size()) {
            const QChar n = exec[++i];
            unescaped += n == u's' ? QChar(u' ') : n == u'n' ? QChar(u'\n') : n;
        } else {
            unescaped += exec[i];
        }
    }
    if (!unescaped.startsWith(u'"'))
        return {};
    QString program;
    for (qsizetype i = 1; i < unescaped.size(); ++i) {
        if (unescaped[i] == u'\\' && i + 1 < unescaped.size())
            program += unescaped[++i];
        else if (unescaped[i] == u'"')
            return unescaped.mid(i + 1) == QStringLiteral(" --minimized")
                       ? program.replace(QStringLiteral("%%"), QStringLiteral("%"))
                       : QString();
        else
            program += unescaped[i];
    }
    return {};
}

// The window with a tray, its settings in settingsFile.
struct Window : WindowHarness
{
    explicit Window(const QString& settingsFile) : WindowHarness("1|a|127.0.0.1\n")
    {
        settings = std::make_unique<platform::SettingsStore>(settingsFile);
        tray.available = true;
        open();
    }
    bool checked() const { return window->tblTivane->isMenuItemChecked(QStringLiteral("mnuAutoStart")); }
    void click() { window->tblTivane->clickMenuItem(QStringLiteral("mnuAutoStart")); }
};

} // namespace

class tst_Autostart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();

    void entryStartsExactlyThisProgram_data();
    void entryStartsExactlyThisProgram();
    void entryIsValid();
    void enableAndDisable();
    void folderThatCannotBeMadeIsReported();
    void fullDiskKeepsThePreviousEntry();

    void viewItemIsOffByDefaultAndFollowsTheDisk();
    void viewItemFailureIsToldAndChangesNothing();

private:
    std::unique_ptr<QTemporaryDir> m_config;
};

void tst_Autostart::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    QCOMPARE(autostart::entryPath(), m_config->filePath(QStringLiteral("autostart/tivane.desktop")));
}

void tst_Autostart::entryStartsExactlyThisProgram_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("plain") << QStringLiteral("/usr/bin/tivane");
    QTest::newRow("spaces") << QStringLiteral("/home/a b/My Tools/tivane");
    QTest::newRow("shell characters") << QStringLiteral("/opt/$HOME/`x`/a\"b'c;d&e|f*g?/tivane");
    QTest::newRow("backslash") << QStringLiteral("/opt/back\\slash\\/tivane");
    QTest::newRow("percent") << QStringLiteral("/opt/100%u/%f%%/tivane");
    QTest::newRow("not ASCII") << QStringLiteral("/home/\u00e9l\u00e8ve/\u043f\u0440\u043e\u0433/tivane");
}

void tst_Autostart::entryStartsExactlyThisProgram()
{
    QFETCH(QString, program);
    const QByteArray entry = autostart::entryText(program);
    QVERIFY(entry.startsWith("[Desktop Entry]\n"));
    QCOMPARE(execProgram(entry), program);
    QVERIFY(entry.contains("\nType=Application\n"));
}

void tst_Autostart::entryIsValid()
{
    // A line break cannot be carried by an Exec line; such a path is refused, not cut.
    QVERIFY(autostart::entryText(QStringLiteral("/opt/a\nb/tivane")).isEmpty());
    QString error;
    QVERIFY(!autostart::enable(QStringLiteral("/opt/a\nb/tivane"), &error));
    QVERIFY(error.contains(QStringLiteral("/opt/a")));
    QVERIFY(!QFile::exists(autostart::entryPath()));

    // A program path that is not valid UTF-8 reaches us empty or with replacement characters:
    // refused, saying why, instead of an entry that starts nothing.
    for (const QString& program : {QString(), QStringLiteral("/opt/\uFFFD\uFFFD/tivane")}) {
        error.clear();
        QVERIFY2(!autostart::enable(program, &error), qPrintable(program));
        QVERIFY2(error.contains(QLatin1String("not valid UTF-8")), qPrintable(error));
        QVERIFY(!QFile::exists(autostart::entryPath()));
    }

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (scripts/deps.sh --test installs it)");
    QVERIFY(autostart::enable(QStringLiteral("/home/a b/$x/100%/tivane"), &error));
    QProcess check;
    check.start(validator, {autostart::entryPath()});
    QVERIFY(check.waitForFinished(20000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && said.isEmpty(), said.constData());
}

void tst_Autostart::enableAndDisable()
{
    QString error;
    QVERIFY(!autostart::isEnabled());
    QVERIFY2(autostart::disable(&error), qPrintable(error)); // nothing to remove is fine
    QVERIFY2(autostart::enable(QStringLiteral("/usr/bin/tivane"), &error), qPrintable(error));
    QVERIFY(autostart::isEnabled());
    QCOMPARE(readBytes(autostart::entryPath()), autostart::entryText(QStringLiteral("/usr/bin/tivane")));
    // Again, for a program that moved: replaced, not appended.
    QVERIFY(autostart::enable(QStringLiteral("/opt/tivane/tivane"), &error));
    QCOMPARE(readBytes(autostart::entryPath()), autostart::entryText(QStringLiteral("/opt/tivane/tivane")));
    QCOMPARE(QDir(m_config->filePath(QStringLiteral("autostart"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("tivane.desktop")});
    QVERIFY2(autostart::disable(&error), qPrintable(error));
    QVERIFY(!autostart::isEnabled());
}

void tst_Autostart::folderThatCannotBeMadeIsReported()
{
    writeBytes(m_config->filePath(QStringLiteral("autostart")), "in the way");
    QString error;
    QVERIFY(!autostart::enable(QStringLiteral("/usr/bin/tivane"), &error));
    QVERIFY2(error.contains(m_config->filePath(QStringLiteral("autostart"))), qPrintable(error));
    QCOMPARE(readBytes(m_config->filePath(QStringLiteral("autostart"))), QByteArray("in the way"));
}

void tst_Autostart::fullDiskKeepsThePreviousEntry()
{
    SmallDisk disk(64);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.filePath(QStringLiteral("config"))));
    QString error;
    QVERIFY2(autostart::enable(QStringLiteral("/usr/bin/tivane"), &error), qPrintable(error));
    const QByteArray before = readBytes(autostart::entryPath());
    QVERIFY(disk.fill());
    QVERIFY(!autostart::enable(QStringLiteral("/a/much/longer/path/that/does/not/fit/any/more/tivane"), &error));
    QVERIFY2(error.contains(autostart::entryPath()), qPrintable(error));
    QCOMPARE(readBytes(autostart::entryPath()), before);
    QCOMPARE(QDir(disk.filePath(QStringLiteral("config/autostart"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("tivane.desktop")});
}

void tst_Autostart::viewItemIsOffByDefaultAndFollowsTheDisk()
{
    const QString ini = m_config->filePath(QStringLiteral("Tivane.ini"));
    {
        Window w(ini);
        QVERIFY(w.window->Form_Load());
        QVERIFY(!w.window->startWithSession());
        QVERIFY(!w.checked());
        QVERIFY(!autostart::isEnabled());
        w.click();
        QVERIFY(w.checked());
        QCOMPARE(execProgram(readBytes(autostart::entryPath())), QCoreApplication::applicationFilePath());
        w.window->Form_Unload();
    }
    platform::SettingsStore stored(ini);
    QCOMPARE(stored.read(QStringLiteral("View"), QStringLiteral("StartWithSession"), QString()),
             QStringLiteral("True"));
    {
        Window w(ini);
        QVERIFY(w.window->Form_Load());
        QVERIFY(w.checked());
        w.click();
        QVERIFY(!w.checked());
        QVERIFY(!autostart::isEnabled());
        w.window->Form_Unload();
    }
    platform::SettingsStore reread(ini);
    QCOMPARE(reread.read(QStringLiteral("View"), QStringLiteral("StartWithSession"), QString()),
             QStringLiteral("False"));

    // Stored on, but the entry was removed elsewhere (the desktop's session settings): off.
    reread.write(QStringLiteral("View"), QStringLiteral("StartWithSession"), QStringLiteral("True"));
    QVERIFY(reread.sync());
    {
        Window w(ini);
        QVERIFY(w.window->Form_Load());
        QVERIFY(!w.checked());
        QVERIFY(w.messages.shown.isEmpty());
        w.window->Form_Unload();
    }
}

void tst_Autostart::viewItemFailureIsToldAndChangesNothing()
{
    writeBytes(m_config->filePath(QStringLiteral("autostart")), "in the way");
    Window w(m_config->filePath(QStringLiteral("Tivane.ini")));
    QVERIFY(w.window->Form_Load());
    w.click();
    QVERIFY(!w.checked());
    QVERIFY(!w.window->startWithSession());
    QCOMPARE(w.messages.shown.size(), 1);
    QCOMPARE(w.messages.shown.first().style, int(platform::MsgExclamation));
    QVERIFY(w.messages.shown.first().text.contains(m_config->filePath(QStringLiteral("autostart"))));
    w.window->Form_Unload();
}

QTEST_MAIN(tst_Autostart)
#include "tst_autostart.moc"
