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

}  // namespace mendly::platform
