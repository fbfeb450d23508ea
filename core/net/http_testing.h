#pragma once
// Knobs for tests only; programs never call these. Both are process-wide and
// apply to every httpGet that starts after the call.
#include <chrono>
#include <filesystem>

namespace mendly {

// Shortens the "no data for this long" abort (30 s in programs).
void setHttpStallTimeoutForTesting(std::chrono::seconds timeout);

// Trusts the certificates in this PEM file instead of the system store (a
// test server's self-signed certificate). An empty path restores the system store.
void setHttpTrustedCertificatesForTesting(const std::filesystem::path& pemFile);

}  // namespace mendly
