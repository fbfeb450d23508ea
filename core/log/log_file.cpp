#include "log/log_file.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>

#include "log/text.h"

namespace mendly {
namespace {

struct LogState {
    std::mutex mutex;
    std::ofstream stream;
    bool open = false;
};

LogState& state() {
    static LogState s;
    return s;
}

void writeLineLocked(LogState& s, std::string_view utf8) {
    const std::string line = logTimestamp() + std::string(utf8) + "\n";
    s.stream.write(line.data(), static_cast<std::streamsize>(line.size()));
    s.stream.flush();
}

}  // namespace

std::string logTimestamp() {
    // 100-ns ticks since 1970, as the clock is specified; seconds and
    // milliseconds are derived from the same reading.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10'000'000);
    const long long millis = ticks / 10'000 - static_cast<long long>(seconds) * 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    const size_t len = std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char out[48];
    std::snprintf(out, sizeof out, "%.*s.%03lld ", static_cast<int>(len), date, millis);
    return out;
}

bool LogFile::open(const std::filesystem::path& folder) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.open) {
        s.stream.close();
        s.open = false;
    }
    s.stream.clear();
    s.stream.open(folder / "launcher.log", std::ios::binary | std::ios::out | std::ios::trunc);
    if (!s.stream.good()) {
        s.stream.close();
        s.stream.clear();
        return false;
    }
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
    s.stream.close();
    s.stream.clear();
    s.open = false;
}

bool LogFile::isOpen() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    return s.open;
}

}  // namespace mendly
