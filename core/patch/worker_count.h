#pragma once
// The size of the worker pools of a patch run. Verification (CPU and disk
// bound): at least one thread, at most one per hardware thread, never more
// than there is work for. Downloads wait for the network far more than they
// compute, so the number of transfers in flight is its own constant.
#include <cstdint>

namespace mendly {

// n < 1 -> 1; otherwise min(n, hardwareThreads), where 0 hardware threads
// means "unknown" and counts as 4.
[[nodiscard]] unsigned workerCount(std::int64_t n, unsigned hardwareThreads);
// The same with this machine's hardware thread count.
[[nodiscard]] unsigned workerCount(std::int64_t n);

// Transfers a download stage keeps in flight. Each request to a distant host
// waits a round trip and the host's answer time; with only one transfer per
// core a 2-core machine spends most of an install waiting. 16 keeps a
// typical link busy with small files (as browsers and parallel downloaders
// do) while staying polite to the host; each transfer holds one fixed buffer.
inline constexpr unsigned kTransfersInFlight = 16;

// min(n, kTransfersInFlight), at least 1.
[[nodiscard]] unsigned transferCount(std::int64_t n);

}  // namespace mendly
