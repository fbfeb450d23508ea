#pragma once
// Process memory services.
// POSIX: memory_posix.cpp (glibc malloc_trim). Windows: memory_win.cpp
// (HeapCompact of the process heap).
namespace mendly::platform {

// Hands memory the allocator keeps free back to the system, so a long-lived
// process (the launcher) shrinks again after a large job. Safe from any thread.
void releaseFreeMemory();

}  // namespace mendly::platform
