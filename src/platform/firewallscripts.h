#pragma once

#include <QString>

namespace Tavrix {

// The kill switch's two firewall scripts: one blocks outbound traffic except the tunnel,
// the other removes that block. They run with network privileges, so they are only ever
// taken from the client's own installed folder, never from the user-writable engine folder.
// They may be missing (a development build without them): callers check.
QString firewallScriptPath(bool block);

// Tests point the look-up at a folder of harmless stand-ins; empty restores the installed
// folder. Deliberately no environment variable: the script folder must not be chosen by
// whoever starts the client.
void setFirewallScriptFolderForTesting(const QString &folder);

} // namespace Tavrix
