#include "log/log_file.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "log/text.h"
#include "platform/local_time.h"
#include "platform/log_output.h"

namespace mendly {
namespace {

struct LogState {
    std::mutex mutex;
    platform::LogOutput output;
    bool open = false;
};

LogState& state() {
    static LogState s;
    return s;
}

void writeLineLocked(LogState& s, std::string_view utf8) {
    (void)s.output.append(logTimestamp() + std::string(utf8) + "\n");
}

}  // namespace

std::string logTimestamp() {
    // 100-ns ticks since 1970, as the clock is specified; seconds and
    // milliseconds are derived from the same reading.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10'000'000);
    const long long millis = ticks / 10'000 - static_cast<long long>(seconds) * 1000;
    const std::tm local = platform::localTime(seconds);
    char date[32];
    const size_t len = std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char out[48];
    std::snprintf(out, sizeof out, "%.*s.%03lld ", static_cast<int>(len), date, millis);
    return out;
}

bool LogFile::open(const std::filesystem::path& folder) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.open = false;
    if (!s.output.open(folder / "launcher.log")) return false;
    s.open = true;
    writeLineLocked(s, "launcher.log opened");
    return true;
}

void LogFile::write(std::u16string_view message) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.open) return;
    writeLineLocked(s, toUtf8(message));
}

void LogFile::writeServerCount(std::size_t count) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.open) return;
    writeLineLocked(s, "Loaded " + std::to_string(count) + " of Servers");
}

void LogFile::close() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.open) return;
    writeLineLocked(s, "launcher exiting");
    s.output.close();
    s.open = false;
}

bool LogFile::isOpen() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    return s.open;
}

}  // namespace mendly
