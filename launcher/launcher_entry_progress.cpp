#include "launcher_entry_progress.h"

#include <algorithm>

namespace mendly {

void LauncherEntryProgress::off() { signal_.send(0.0, false, false); }

void LauncherEntryProgress::error() { signal_.send(0.0, false, true); }

// The signal has no indeterminate state: an empty bar stands for it.
void LauncherEntryProgress::busy() { signal_.send(0.0, true, false); }

void LauncherEntryProgress::value(std::int64_t done, std::int64_t total) {
    if (total == 0) return busy();
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    signal_.send(std::clamp(fraction, 0.0, 1.0), true, false);
}

}  // namespace mendly
