#include "platform/threadwait.h"

namespace Tavrix {

qint64 threadRunQueueWaitNs()
{
    // Windows keeps no per-thread ready-queue time; the probe then counts the whole delay.
    return -1;
}

} // namespace Tavrix
