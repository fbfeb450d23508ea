#include "platform/memory.h"

#include <malloc.h>

namespace mendly::platform {

void releaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

}  // namespace mendly::platform
