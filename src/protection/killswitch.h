#pragma once

#include <QString>

#include <functional>

class QObject;

namespace Tavrix {

// The kill switch: a stored setting ("KillSwitch"), a status file for whatever outside the
// client watches it, and the firewall that blocks everything but the tunnel.
//
// With the privileged helper (the normal case), the helper keeps one nftables table for this
// user that follows the connection's whole life, each change one transaction: blocked with
// only the service and the chosen server open while no tunnel is up; only the server and the
// tunnel while connecting, connected and reconnecting (so a dropped tunnel leaks nothing and
// the block is never lifted for a connect); gone when the switch is off. While a tunnel is up
// IPv6 leaves only through it, switch or not. The helper keeps the block when the window ends
// and applies it again at boot. A change the helper could not make is reported: the switch
// goes back and says why.
//
// Without the helper (the client running with the network privilege itself) the two firewall
// scripts do the blocking as before: the reset before connecting, the block when the tunnel
// goes down.
class KillSwitch
{
public:
    // Texts of the status file (the spelling is what readers of the file expect).
    static constexpr const char StatusOn[] = "KillSwith:ON";
    static constexpr const char StatusOff[] = "KillSwith:OFF";

    // "service.txt" in the engine folder.
    static QString statusFilePath();
    // Writes the status text into a new file only the user can read and write. False when the
    // file could not be written (logged, not reported further).
    static bool writeStatusFile(bool on);

    // Runs the block script (block true) or the reset script and waits for it, at most
    // 30 s. True when it ran and exited 0; otherwise the reason is logged.
    static bool runScript(bool block);

    // Queues the script on the kill switch's own worker thread and returns at once, so the
    // window keeps answering while it runs. Scripts run one at a time in the order queued.
    // When given, done gets the script's result on context's thread (not at all once context
    // is gone).
    static void queueScript(bool block, QObject *context = nullptr, std::function<void(bool)> done = {});
    // Whether a queued script has not ended yet.
    static bool scriptsPending();
    // Waits at most timeoutMs for every queued script to end; false on time-out. For the end
    // of the program, whose firewall must not stay half changed.
    static bool waitForScripts(int timeoutMs);

    // A press on the settings switch: inverts the stored setting, saves it, writes the status
    // file, and queues the matching script when no tunnel is up (with a tunnel up, the next
    // connect or disconnect applies it). Returns the new setting.
    static bool toggle();

    // Where the connection is, for the firewall it needs with the switch as stored.
    enum class Stage { Idle, Connecting, Connected };
    // Queues the firewall for `stage` (and the stored switch) on the kill switch's worker;
    // done, when given, gets whether it is in force and why not, on context's thread.
    static void queueStage(Stage stage, QObject *context = nullptr,
                           std::function<void(bool ok, const QString &error)> done = {});
    // The configuration a connect fetched from the service (WireGuard's names its endpoint):
    // with the switch on, the helper lets that endpoint through before the engine dials out.
    // Blocks until it has (for the connect step's worker thread, never the GUI thread).
    static void admitVpnConfiguration(int type, const QString &configuration);
    // Whether the privileged helper keeps the firewall (looked up once).
    static bool usesHelper();
    // A press with a way back: `failed` runs on context's thread with the reason when the
    // firewall change did not happen; the setting and the status file are back by then.
    static bool toggle(QObject *context, std::function<void(bool on, const QString &error)> failed);

    // Whether pages that need the service are held back: the switch is on and no tunnel is
    // up, so their requests could not get out.
    static bool blocksServicePages();
};

} // namespace Tavrix
