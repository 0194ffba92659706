#include "ui/killswitchscript.h"

#include "protection/killswitch.h"

namespace Tavrix {

void runKillSwitchScript(bool block)
{
    KillSwitch::runScript(block);
}

} // namespace Tavrix
