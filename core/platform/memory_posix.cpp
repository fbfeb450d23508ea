#include "platform/memory.h"

#include <malloc.h>

namespace mendly::platform {

void releaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void returnLargeBlocksToTheSystem() {
#if defined(__GLIBC__)
    (void)::mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace mendly::platform
