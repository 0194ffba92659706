#pragma once

namespace Tavrix {

// Runs one of the kill switch's firewall scripts (the block script, or the reset script that
// removes the block) and waits for it on the calling thread, at most 30 s.
void runKillSwitchScript(bool block);

} // namespace Tavrix
