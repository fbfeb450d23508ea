#pragma once
// The current values behind http_testing.h, read by httpGet. Thread-safe.
#include <chrono>
#include <string>

namespace mendly {

inline constexpr std::chrono::seconds kHttpConnectTimeout{60};
inline constexpr std::chrono::seconds kHttpDefaultStallTimeout{30};

std::chrono::seconds httpStallTimeout();
// Empty: the system certificate store.
std::string httpTrustedCertificatesFile();

}  // namespace mendly
