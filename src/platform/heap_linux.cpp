#include <malloc.h>

#include "platform/heap.h"

namespace Tavrix {

void returnLargeBlocksToSystem()
{
    // glibc raises its mmap threshold each time a mapped block is freed, so that after the first
    // pictures every later large block comes from the heap, whose holes are never returned
    // (about 5 MB after sign-in). Fixing the threshold at its default keeps blocks of 128 KiB
    // and more in mappings of their own.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

} // namespace Tavrix
