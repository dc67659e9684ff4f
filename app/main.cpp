#include "endsignals.h"
#include "frmabout.h"
#include "frmmain.h"
#include "listlocation.h"
#include "mdlmore.h"
#include "messagebox.h"
#include "prober.h"
#include "privilege.h"
#include "settingsstore.h"
#include "singleinstance.h"

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tivane"));
    QApplication::setOrganizationName(QStringLiteral("Tivane"));
    QApplication::setApplicationVersion(QStringLiteral("0.1.50"));
    // The window hides to the tray when minimised; the program ends only through its unload.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    platform::QtMessageBox messages;
    platform::SettingsStore settings;
    IcmpProber prober;
    mdlMore::WavePlayer sound;
    mdlMore::TrayIcon tray;

    MainServices services;
    services.app = platform::AppInfo::current();
    services.listFolder = userListFolder();
    services.messages = &messages;
    services.settings = &settings;
    services.prober = &prober;
    services.sound = &sound;
    services.tray = &tray;
    services.prevInstance = [&instance] {
        if (!instance.PrevInstance())
            return false;
        // Bring the running copy's window back, wherever it is hidden.
        instance.notifyRunning();
        return true;
    };
    services.endProgram = [](int exitCode) { QCoreApplication::exit(exitCode); };
    services.showAbout = [&services](QWidget* owner) { frmAbout::showModal(services.app, owner); };

    frmMain window(services);
    messages.setOwner(&window);
    if (!window.Form_Load())
        return 0;
    QObject::connect(&instance, &SingleInstance::showRequested, &window, &frmMain::mnuShow_Click);
    // Asked to end by a signal: close as the Exit command does, so nothing of the run is lost.
    EndSignals endSignals({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&endSignals, &EndSignals::received, &window, [&window] { window.close(); });
    // A session manager may end the session without closing the window first.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager&) {
        if (!window.isUnloaded())
            window.saveSettings();
    });
    window.show();
    return app.exec();
}
