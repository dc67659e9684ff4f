#include "probe/privilege.h"
#include "probe/icmpcore.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

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

bool OpenEndpointAndDropPrivileges()
{
    // A failed open is no reason to stop: the probes report why they cannot be sent.
    detail::IcmpCore::process()->open();
    return dropAllCapabilities();
}

} // namespace mdlPing
