#include "net/http_settings.h"

#include "net/http_testing.h"

#include <atomic>
#include <mutex>

namespace mendly {
namespace {

std::atomic<long long> stallSeconds{kHttpDefaultStallTimeout.count()};

std::mutex& caMutex() {
    static std::mutex m;
    return m;
}

std::string& caFile() {
    static std::string file;
    return file;
}

}  // namespace

std::chrono::seconds httpStallTimeout() { return std::chrono::seconds(stallSeconds.load()); }

std::string httpTrustedCertificatesFile() {
    const std::lock_guard lock(caMutex());
    return caFile();
}

void setHttpStallTimeoutForTesting(std::chrono::seconds timeout) { stallSeconds.store(timeout.count()); }

void setHttpTrustedCertificatesForTesting(const std::filesystem::path& pemFile) {
    const std::lock_guard lock(caMutex());
    caFile() = pemFile.string();
}

}  // namespace mendly
