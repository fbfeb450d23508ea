#include "patch/speed_reporter.h"

#include <charconv>
#include <cmath>

#include "log/text.h"
#include "patch/patch_reporting.h"

namespace mendly {
namespace {

std::u16string fixedOneDecimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    if (result.ec != std::errc()) return u"?";
    return toWide(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

}  // namespace

std::u16string formatSpeed(double x) {
    if (x >= 1048576.0) return fixedOneDecimal(x / 1048576.0) + u" MB/s";
    if (x >= 1024.0) return fixedOneDecimal(x / 1024.0) + u" KB/s";
    // Negative or NaN rates cannot come from a byte count; show them as 0.
    const long long whole = x > 0 ? static_cast<long long>(x) : 0;
    return toDecimal(whole) + u" B/s";
}

SpeedReporter::SpeedReporter(const std::atomic<std::uint64_t>& bytesReceived, PatchWindow* window)
    : bytesReceived_(bytesReceived), window_(window), start_(std::chrono::steady_clock::now()) {}

void SpeedReporter::tick() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    tickAt(elapsed.count());
}

void SpeedReporter::tickAt(std::int64_t elapsedMs) {
    if (elapsedMs < 400) return;
    {
        const std::lock_guard lock(mutex_);
        if (elapsedMs - lastReportMs_.load() < 800) return;
        lastReportMs_.exchange(elapsedMs);
    }
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    if (seconds <= 0) return;
    const double speed = static_cast<double>(bytesReceived_.load()) / seconds;
    reportSpeedStatus(window_, u"Downloading files (" + formatSpeed(speed) + u")");
}

}  // namespace mendly
