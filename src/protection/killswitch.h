#pragma once

#include <QString>

#include <functional>

class QObject;

namespace Tavrix {

// The kill switch: a stored setting ("KillSwitch"), a status file for whatever outside the
// client watches it, and two firewall scripts that block everything but the tunnel or lift
// that block again. The connect page runs the reset before connecting and the block when the
// tunnel goes down; the settings switch and log-out go through here.
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

    // Whether pages that need the service are held back: the switch is on and no tunnel is
    // up, so their requests could not get out.
    static bool blocksServicePages();
};

} // namespace Tavrix
