#include "platform/memory.h"

#include <malloc.h>

namespace mendly::platform {

void releaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void shareOneHeapAmongThreads() {
#if defined(__GLIBC__)
    (void)::mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace mendly::platform
