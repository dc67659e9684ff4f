#include "probe/privilege.h"
#include "probe/icmpcore.h"

#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

namespace mdlPing {

bool dropAllCapabilities()
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct empty[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, empty) != 0)
        return false;
    // Capabilities only ever come back through an exec of a privileged file; the ambient
    // set went with the permitted one. Check what the kernel now says.
    __user_cap_data_struct now[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, now) != 0)
        return false;
    for (const __user_cap_data_struct& set : now) {
        if (set.effective || set.permitted || set.inheritable)
            return false;
    }
    return true;
}

void clearCodePathsIfPrivileged()
{
    // The kernel sets AT_SECURE for a program that gained rights when it started (its file
    // capabilities); glibc then drops LD_* itself. These name folders that Qt, or what Qt
    // loads for sound and desktop integration, takes code or module lists from.
    if (::getauxval(AT_SECURE) == 0)
        return;
    static const char* const kCodePaths[] = {
        "QT_PLUGIN_PATH",
        "QT_QPA_PLATFORM_PLUGIN_PATH",
        "QML_IMPORT_PATH",
        "QML2_IMPORT_PATH",
        "QT_QUICK_CONTROLS_STYLE_PATH",
        "GTK_PATH",
        "GTK_MODULES",
        "GTK3_MODULES",
        "GTK_IM_MODULE_FILE",
        "GIO_EXTRA_MODULES",
        "GST_PLUGIN_PATH",
        "GST_PLUGIN_PATH_1_0",
        "GST_PLUGIN_SYSTEM_PATH",
        "GST_PLUGIN_SYSTEM_PATH_1_0",
        "GST_PLUGIN_SCANNER",
        "GST_PLUGIN_SCANNER_1_0",
        "GST_REGISTRY",
        "GST_REGISTRY_1_0",
        "ALSA_CONFIG_PATH",
        "ALSA_PLUGIN_DIR",
        "LIBGL_DRIVERS_PATH",
        "__EGL_VENDOR_LIBRARY_DIRS",
        "__EGL_VENDOR_LIBRARY_FILENAMES",
    };
    for (const char* name : kCodePaths)
        ::unsetenv(name);
}

bool OpenEndpointAndDropPrivileges()
{
    clearCodePathsIfPrivileged();
    // A failed open is no reason to stop: the probes report why they cannot be sent. Where
    // the datagram socket is refused, the raw sockets go to helper processes here, while
    // this process still may open them and before any other code runs.
    detail::IcmpCore::process()->open();
    return dropAllCapabilities();
}

} // namespace mdlPing
