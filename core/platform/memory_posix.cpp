#include "platform/memory.h"

#include <malloc.h>

namespace mendly::platform {

void releaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void shareHeapsAmongThreads() {
#if defined(__GLIBC__)
    (void)::mallopt(M_ARENA_MAX, 2);
#endif
}

void keepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    (void)::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    (void)::mallopt(M_TOP_PAD, 4 << 20);
    (void)::mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

}  // namespace mendly::platform
