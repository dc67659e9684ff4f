#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

// Runs the test again inside a session bus of its own (dbus-run-session with the test's bus
// configuration), and, when asked, on a virtual X display, so that nothing on the desktop's
// own bus answers or is disturbed. Returns only inside; exits 0 with a message where the tools
// are missing, so the test counts as skipped rather than failed.
inline void reexecOnPrivateBus(int argc, char* argv[], const char* busConfig, bool withDisplay)
{
    if (qEnvironmentVariableIsSet("TIVANE_PRIVATE_BUS"))
        return;
    qputenv("TIVANE_PRIVATE_BUS", "1");
    std::vector<const char*> command{"dbus-run-session", "--config-file", busConfig, "--"};
    if (withDisplay) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        for (const char* a : {"xvfb-run", "-a", "-s", "-screen 0 1024x768x24"})
            command.push_back(a);
    }
    for (int i = 0; i < argc; ++i)
        command.push_back(argv[i]);
    command.push_back(nullptr);
    ::execvp(command.front(), const_cast<char* const*>(command.data()));
    std::printf("SKIP: %s could not be started; scripts/deps.sh --test installs dbus and xvfb\n", command.front());
    std::exit(0);
}
