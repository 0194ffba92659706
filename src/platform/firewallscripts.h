#pragma once

#include <QString>

namespace Tavrix {

// The kill switch's two firewall scripts: one blocks outbound traffic except the tunnel,
// the other removes that block. They ship with the client and may be missing.
QString firewallScriptPath(bool block);

} // namespace Tavrix
