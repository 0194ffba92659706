#pragma once

#include <QStringList>

namespace Tavrix {

// A client that ends without its shutdown (killed, crashed, the session cut while connected)
// leaves its engines running unseen, the system proxy pointing at a proxy that may be gone,
// tunnel devices, routes and firewall tables of the tunnel behind it, and the firewall open
// with the kill switch on. The next start puts the machine back into the state the settings
// ask for with no tunnel up, before the window can start a new connection.
namespace CrashRecovery {

// Runs once at start-up, after the settings are loaded and before the main window exists.
// Stops engine processes started from our engine files, takes down a leftover Outline tunnel
// and split-tunnel rules, removes the WireGuard key file, switches a stale system proxy off,
// clears a stale connection state, and applies the kill switch: the block when it is on, and
// after an unclean end the reset when it is off. Returns one line per thing cleaned (each is
// also logged); empty after a clean end with nothing left behind.
QStringList recover();

} // namespace CrashRecovery
} // namespace Tavrix
