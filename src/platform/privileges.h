#pragma once

#include <QString>

namespace Tavrix {

// The one privilege tunnels need: administering the network (tunnel devices, routes, the
// firewall table). The installed window program holds none: the privileged helper does that
// work (see privilegedhelper.h). Only a client run as root (tests, a root demo) still does it
// itself; a capability given to the program by hand is not used, and never handed on to the
// scripts it starts, which would run with the caller's environment.
namespace Privileges {

// Whether tunnels can be set up now: through the helper, or by this process itself.
bool canManageNetwork();

// What is missing and how to fix it, for the user.
QString missingMessage();

} // namespace Privileges
} // namespace Tavrix
