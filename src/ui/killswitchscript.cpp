#include "ui/killswitchscript.h"

#include "protection/killswitch.h"

namespace Tavrix {

void runKillSwitchScript(bool block, QObject *context, std::function<void()> then)
{
    if (!then) {
        KillSwitch::queueScript(block);
        return;
    }
    KillSwitch::queueScript(block, context, [then](bool) { then(); });
}

} // namespace Tavrix
