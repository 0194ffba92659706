#include <QCoreApplication>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/firewallscripts.h"

namespace Tavrix {

namespace {
QString &testFolder()
{
    static QString folder;
    return folder;
}
} // namespace

QString firewallScriptPath(bool block)
{
    const QString name =
        block ? QStringLiteral("block_outbound_except_vpn.sh") : QStringLiteral("reset_firewall_rules.sh");
    const QString folder = testFolder().isEmpty() ? QCoreApplication::applicationDirPath() : testFolder();
    return folder + QLatin1Char('/') + name;
}

namespace {
constexpr int NetAdminWord = CAP_NET_ADMIN / 32;
constexpr quint32 NetAdminBit = 1u << (CAP_NET_ADMIN % 32);

bool capabilities(__user_cap_data_struct *data)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

bool setCapabilities(__user_cap_data_struct *data)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, data) == 0;
}
} // namespace

NetworkPrivilegeForChildren::NetworkPrivilegeForChildren()
{
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (!capabilities(data) || !(data[NetAdminWord].permitted & NetAdminBit))
        return;
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_NET_ADMIN, 0, 0) == 1)
        return;
    // An ambient capability must also be inheritable.
    data[NetAdminWord].inheritable |= NetAdminBit;
    if (!setCapabilities(data))
        return;
    m_raised = prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_ADMIN, 0, 0) == 0;
    if (!m_raised) {
        data[NetAdminWord].inheritable &= ~NetAdminBit;
        setCapabilities(data);
    }
}

NetworkPrivilegeForChildren::~NetworkPrivilegeForChildren()
{
    if (!m_raised)
        return;
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_NET_ADMIN, 0, 0);
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (capabilities(data)) {
        data[NetAdminWord].inheritable &= ~NetAdminBit;
        setCapabilities(data);
    }
}

void setFirewallScriptFolderForTesting(const QString &folder)
{
    testFolder() = folder;
}

} // namespace Tavrix
