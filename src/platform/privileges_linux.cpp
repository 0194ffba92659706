#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/privilegedhelper.h"
#include "platform/privileges.h"

namespace Tavrix {
namespace Privileges {

namespace {

// Raw system calls rather than libcap: prepareEngineChild() runs between fork and exec, where
// nothing may allocate.
bool readCaps(__user_cap_data_struct data[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool hasBit(__u32 set, int cap)
{
    return (set & (1u << (cap % 32))) != 0;
}

void raiseAmbient()
{
    __user_cap_data_struct data[2] = {};
    if (!readCaps(data))
        return;
    const int index = CAP_NET_ADMIN / 32;
    if (!hasBit(data[index].permitted, CAP_NET_ADMIN))
        return;
    // An ambient capability must be permitted and inheritable.
    data[index].inheritable |= 1u << (CAP_NET_ADMIN % 32);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    if (::syscall(SYS_capset, &header, data) != 0)
        return;
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_ADMIN, 0, 0);
}

} // namespace

bool canManageNetwork()
{
    __user_cap_data_struct data[2] = {};
    if (readCaps(data) && hasBit(data[CAP_NET_ADMIN / 32].effective, CAP_NET_ADMIN))
        return true;
    // The window itself holds no privilege: the helper sets the tunnels up.
    return PrivilegedHelper::isAvailable();
}

QString missingMessage()
{
    return QStringLiteral("TavrixVPN cannot set up a tunnel: its helper service is not running, and this "
                          "program holds no network administration privilege (CAP_NET_ADMIN) of its own.\n"
                          "Install TavrixVPN from its package, or start the helper:\n"
                          "sudo systemctl start tavrixvpn-helper");
}

void passToChildrenOfThisThread()
{
    raiseAmbient();
}

void stopPassingToChildrenOfThisThread()
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_NET_ADMIN, 0, 0);
}

void prepareEngineChild()
{
    raiseAmbient();
}

} // namespace Privileges
} // namespace Tavrix
