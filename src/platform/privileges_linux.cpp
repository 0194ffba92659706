#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/privilegedhelper.h"
#include "platform/privileges.h"

namespace Tavrix {
namespace Privileges {

namespace {

bool hasNetworkAdmin()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    return ::syscall(SYS_capget, &header, data) == 0 &&
           (data[CAP_NET_ADMIN / 32].effective & (1u << (CAP_NET_ADMIN % 32))) != 0;
}

} // namespace

bool canManageNetwork()
{
    // Root does the work itself (tests, a root demo). Anyone else goes through the helper,
    // even with a capability given by hand: the window must not act on it.
    if (::getuid() == 0 && hasNetworkAdmin())
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

} // namespace Privileges
} // namespace Tavrix
