#include "platform/firewallscripts.h"

namespace Tavrix {

QString firewallScriptPath(bool block)
{
    const QString folder = QStringLiteral("C://ProgramData//TavrixVPN//");
    return folder +
           (block ? QStringLiteral("/block_outbound_except_vpn.bat") : QStringLiteral("/reset_firewall_rules.bat"));
}

} // namespace Tavrix
