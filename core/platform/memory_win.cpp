#include "platform/memory.h"

#include <windows.h>

#include <malloc.h>

namespace mendly::platform {

void releaseFreeMemory() {
    ::_heapmin();
    ::HeapCompact(::GetProcessHeap(), 0);
}

void shareHeapsAmongThreads() {}

void keepFreedMemoryForReuse() {}

}  // namespace mendly::platform
