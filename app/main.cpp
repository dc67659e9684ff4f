#include "app/commandline.h"
#include "app/frmmain.h"
#include "app/hostnotices.h"
#include "app/listlocation.h"
#include "app/standardservices.h"
#include "platform/messagebox.h"
#include "platform/settingsstore.h"
#include "probe/privilege.h"
#include "probe/prober.h"
#include "shell/desktopnotifier.h"
#include "shell/endsignals.h"
#include "shell/mdlmore.h"
#include "shell/singleinstance.h"

#include <QApplication>
#include <QSessionManager>
#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    // Before any Qt object exists (Qt loads plugins named by the environment): open the
    // ICMP endpoint, the only thing cap_net_raw is needed for, then give up every capability.
    if (!mdlPing::OpenEndpointAndDropPrivileges()) {
        std::fputs("tivane: could not give up privileges\n", stderr);
        return 1;
    }
    // Help and the version are answered before the toolkit starts, so they need no display.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        const CommandLine asked = parseCommandLine(arguments, false);
        if (asked.action == CommandLine::Help || asked.action == CommandLine::Version) {
            const QString text = asked.action == CommandLine::Help ? helpText() : versionText();
            std::fputs(text.toLocal8Bit().constData(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tivane"));
    QApplication::setOrganizationName(QStringLiteral("Tivane"));
    QApplication::setApplicationVersion(platform::AppInfo().versionText());
    // The window hides to the tray when minimised; the program ends only through its unload.
    QApplication::setQuitOnLastWindowClosed(false);
    // The toolkit has taken its own options out; anything left over must be ours.
    const CommandLine commandLine = parseCommandLine(QCoreApplication::arguments(), true);
    if (commandLine.action == CommandLine::Error) {
        std::fprintf(stderr, "tivane: %s\nTry 'tivane --help' for more information.\n", qPrintable(commandLine.error));
        return 2;
    }

    SingleInstance instance;
    platform::QtMessageBox messages;
    platform::SettingsStore settings;
    IcmpProber prober;
    mdlMore::WavePlayer sound;
    mdlMore::WavePlayer stateSound;
    mdlMore::TrayIcon tray;

    const platform::AppInfo appInfo = platform::AppInfo::current();
    StandardDialogs dialogs(appInfo, messages);
    SystemTray systemTray(tray);
    MainServices services{appInfo, messages, settings, prober, sound, dialogs};
    services.tray = &systemTray;
    // Named as installed: the icon theme's "tivane" and the desktop entry tivane.desktop.
    DesktopNotifier notifier({appInfo.Title, QStringLiteral("tivane"), QStringLiteral("tivane")});
    services.notifier = &notifier;
    services.stateSound = &stateSound;
    services.listFolder = userListFolder();
    services.prevInstance = [&instance] {
        if (!instance.PrevInstance())
            return false;
        // Bring the running copy's window back, wherever it is hidden.
        instance.notifyRunning();
        return true;
    };
    services.endProgram = [](int exitCode) { QCoreApplication::exit(exitCode); };

    frmMain window(services);
    messages.setOwner(&window);
    if (!window.Form_Load())
        return 0;
    QObject::connect(&instance, &SingleInstance::showRequested, &window, &frmMain::mnuShow_Click);
    QObject::connect(&tray, &mdlMore::TrayIcon::mouseEvent, &window, &frmMain::pctTrayIcon_MouseMove);
    QObject::connect(&tray, &mdlMore::TrayIcon::availabilityChanged, &window, &frmMain::followTray);
    hostnotices::connectShow(notifier, window);
    // Asked to end by a signal: close as the Exit command does, so nothing of the run is lost.
    EndSignals endSignals({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&endSignals, &EndSignals::received, &window, [&window] { window.mnuExit_Click(); });
    // A session manager may end the session without closing the window first.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager&) {
        if (!window.isUnloaded())
            window.saveSettings();
    });
    window.showAtStart(commandLine.minimized);
    return app.exec();
}
