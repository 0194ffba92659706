#include <windows.h>

#include "platform/heap.h"

namespace Tavrix {

void returnLargeBlocksToSystem()
{
    // The process heap serves blocks above its virtual-allocation threshold (512 KiB on x64)
    // from their own allocations already; the low-fragmentation heap keeps small blocks packed.
    ULONG lowFragmentation = 2;
    HeapSetInformation(GetProcessHeap(), HeapCompatibilityInformation, &lowFragmentation, sizeof lowFragmentation);
}

} // namespace Tavrix
