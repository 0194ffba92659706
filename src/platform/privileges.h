#pragma once

#include <QString>

namespace Tavrix {

// The one privilege tunnels need: administering the network (tunnel devices, routes, the
// firewall table). The installed window program holds none: the privileged helper does that
// work (see privilegedhelper.h). A client run as root (tests, a root demo) still does it
// itself, and its engines and scripts then receive the privilege; other programs it starts
// (the browser, ping, the counters) do not.
namespace Privileges {

// Whether tunnels can be set up now: through the helper, or by this process itself.
bool canManageNetwork();

// What is missing and how to fix it, for the user.
QString missingMessage();

// Lets processes started from the calling thread inherit the privilege (an ambient capability
// on Linux). For the thread that runs the in-process tunnel, whose library starts the tunnel
// script itself. Harmless without the privilege.
void passToChildrenOfThisThread();
// Undoes passToChildrenOfThisThread(), so later work on a shared pool thread starts its
// programs without the privilege.
void stopPassingToChildrenOfThisThread();

// Called in a freshly forked engine process just before it execs the engine: the same as
// passToChildrenOfThisThread() for that process. Uses only async-signal-safe calls.
void prepareEngineChild();

} // namespace Privileges
} // namespace Tavrix
