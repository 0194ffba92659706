#pragma once

#include <QtGlobal>

namespace Tavrix {

// Whether a process with this id exists (owned by anyone).
bool processAlive(qint64 pid);

} // namespace Tavrix
