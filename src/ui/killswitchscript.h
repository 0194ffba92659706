#pragma once

#include <functional>

class QObject;

namespace Tavrix {

// Queues one of the kill switch's firewall scripts (the block script, or the reset script that
// removes the block) on the kill switch's worker and returns at once; scripts run one at a
// time in the order queued. then, when given, runs on context's thread once the script ended.
void runKillSwitchScript(bool block, QObject *context = nullptr, std::function<void()> then = {});

} // namespace Tavrix
