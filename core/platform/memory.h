#pragma once
// Process memory services.
// POSIX: memory_posix.cpp (glibc malloc_trim). Windows: memory_win.cpp
// (HeapCompact of the process heap).
namespace mendly::platform {

// Hands memory the allocator keeps free back to the system, so a long-lived
// process (the launcher) shrinks again after a large job. Safe from any thread.
void releaseFreeMemory();

// Has every thread allocate from the one heap, so that what one of a patch
// run's sixteen transfer threads frees serves the next transfer, on whichever
// thread, instead of staying in a heap of the thread that freed it (with a
// heap per thread, each kept the largest buffers it once held and memory grew
// with the client). Takes effect for threads that have not allocated yet.
// POSIX: glibc's M_ARENA_MAX of 1. Windows: nothing (one process heap).
void shareOneHeapAmongThreads();

}  // namespace mendly::platform
