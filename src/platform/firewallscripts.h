#pragma once

#include <QString>

namespace Tavrix {

// The kill switch's two firewall scripts: one blocks outbound traffic except the tunnel,
// the other removes that block. They run with network privileges, so they are only ever
// taken from the client's own installed folder, never from the user-writable engine folder.
// They may be missing (a development build without them): callers check.
QString firewallScriptPath(bool block);

// While an object of this class lives, programs started from the calling thread receive the
// client's network-administration privilege (Linux: CAP_NET_ADMIN raised as an ambient
// capability, when the client holds it as a file capability; capabilities are per thread, so
// other threads' children do not get it). The firewall scripts need it; nothing else should
// have it. Does nothing where the privilege is missing or already passed on, and on Windows.
class NetworkPrivilegeForChildren
{
public:
    NetworkPrivilegeForChildren();
    ~NetworkPrivilegeForChildren();
    NetworkPrivilegeForChildren(const NetworkPrivilegeForChildren &) = delete;
    NetworkPrivilegeForChildren &operator=(const NetworkPrivilegeForChildren &) = delete;

private:
    bool m_raised = false;
};

// Tests point the look-up at a folder of harmless stand-ins; empty restores the installed
// folder. Deliberately no environment variable: the script folder must not be chosen by
// whoever starts the client.
void setFirewallScriptFolderForTesting(const QString &folder);

} // namespace Tavrix
