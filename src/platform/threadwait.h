#pragma once

#include <QtGlobal>

namespace Tavrix {

// Nanoseconds the calling thread has spent ready to run but waiting for a processor since it
// started; -1 where the system does not keep that figure.
qint64 threadRunQueueWaitNs();

} // namespace Tavrix
