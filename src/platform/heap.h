#pragma once

namespace Tavrix {

// Makes the allocator give large blocks (decoded pictures, replies) back to the system when
// they are freed, instead of keeping them for reuse: the client runs for days and its large
// blocks are mostly one-off. Call once at start, before the first window.
void returnLargeBlocksToSystem();

} // namespace Tavrix
