#pragma once
// The size of every worker pool of a patch run (verification and downloads):
// at least one thread, at most one per hardware thread, never more than there
// is work for. There is no other upper bound.
#include <cstdint>

namespace mendly {

// n < 1 -> 1; otherwise min(n, hardwareThreads), where 0 hardware threads
// means "unknown" and counts as 4.
[[nodiscard]] unsigned workerCount(std::int64_t n, unsigned hardwareThreads);
// The same with this machine's hardware thread count.
[[nodiscard]] unsigned workerCount(std::int64_t n);

}  // namespace mendly
