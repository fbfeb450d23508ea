#pragma once
// Process memory services.
// POSIX: memory_posix.cpp (glibc malloc_trim). Windows: memory_win.cpp
// (HeapCompact of the process heap).
namespace mendly::platform {

// Hands memory the allocator keeps free back to the system, so a long-lived
// process (the launcher) shrinks again after a large job. Safe from any thread.
void releaseFreeMemory();

// Has the threads of a run share two heaps, so that what one of a patch
// run's sixteen transfer threads frees serves the next transfer, on whichever
// thread, instead of staying in a heap of the thread that freed it (with a
// heap per thread, each kept the largest buffers it once held and memory grew
// with the client). Two rather than one: the manifest's parse and the
// record's load, which run at once and allocate an entry at a time, would
// queue for a single heap's lock. Takes effect for threads that have not
// allocated yet. POSIX: glibc's M_ARENA_MAX of 2. Windows: nothing (one
// process heap).
void shareHeapsAmongThreads();

// Keeps what a run frees in its heaps for the next buffer, rather than
// handing it back to the system at once, and takes buffers of up to 32 MiB
// from the heaps rather than from mappings of their own. Each page the system
// hands out costs a fault when first written (about 10 microseconds a page
// on a virtual machine), so a run that gave memory back paid for the same
// pages again and again. releaseFreeMemory() after the run still gives it
// all back. POSIX: glibc's M_TRIM_THRESHOLD, M_TOP_PAD and M_MMAP_THRESHOLD.
// Windows: nothing.
void keepFreedMemoryForReuse();

}  // namespace mendly::platform
