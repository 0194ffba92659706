#pragma once

#include <functional>

class QObject;

namespace Tavrix {

// A client that ends without its shutdown (killed, crashed, the session cut while connected)
// leaves its engines running unseen, the system proxy pointing at a proxy that may be gone,
// tunnel devices, routes and firewall tables of the tunnel behind it, and the firewall open
// with the kill switch on. The next start puts the machine back into the state the settings
// ask for with no tunnel up, before the window can start a new connection.
namespace CrashRecovery {

// Starts the clean-up on a thread of its own and returns at once, so that the window shows
// while it runs (it can take many seconds when something was left behind). Call once on the
// window's thread, after the settings are loaded. The settings are read and the stale
// connection state cleared here; the thread touches no settings. Stops engine processes
// started from our engine files, takes down a leftover Outline tunnel and split-tunnel rules,
// removes the WireGuard key file and switches a stale system proxy off; then, back on this
// thread, applies the kill switch through its script queue: the block when it is on, and after
// an unclean end the reset when it is off. Every thing cleaned is logged, and a summary
// ("Cleaned up what the last run left behind" or "Nothing left behind by the last run").
void start();

// True from start() until the clean-up, kill switch included, has ended.
bool isRunning();

// Runs then on context's thread once the clean-up has ended: at once when none runs, not at
// all when context is gone by then. A connect must not race the clean-up of the tunnels.
void whenDone(QObject *context, std::function<void()> then);

// For the end of the program: waits at most timeoutMs for the clean-up's thread.
bool waitForThread(int timeoutMs);

} // namespace CrashRecovery
} // namespace Tavrix
