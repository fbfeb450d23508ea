#pragma once
// Process memory services.
// POSIX: memory_posix.cpp (glibc malloc_trim). Windows: memory_win.cpp
// (HeapCompact of the process heap).
namespace mendly::platform {

// Hands memory the allocator keeps free back to the system, so a long-lived
// process (the launcher) shrinks again after a large job. Safe from any thread.
void releaseFreeMemory();

// Makes every allocation of a megabyte or more a mapping of its own, returned
// to the system when it is freed, instead of a block the allocator keeps for
// the thread that freed it: a patch run's sixteen transfer threads would
// otherwise each keep the largest buffers they once held. POSIX: glibc's
// M_MMAP_THRESHOLD, fixed (which also stops it from growing). Windows: nothing.
void returnLargeBlocksToTheSystem();

}  // namespace mendly::platform
