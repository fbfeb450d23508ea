#pragma once
// launcher.log: the process-wide diary shared by launcher and tidewright.
//
// One line per entry: "YYYY-MM-DD HH:MM:SS.mmm " (local time) + the message in
// UTF-8 + "\n". Every line is flushed before write() returns. One non-recursive
// mutex guards the stream for every operation; nothing called while it is held
// logs. Callable from any thread; before open() and after close() it does nothing.
#include <filesystem>
#include <string>
#include <string_view>

namespace mendly {

class LogFile {
public:
    LogFile() = delete;

    // Opens (truncating) folder/"launcher.log" and writes "launcher.log opened".
    // A second open closes the first stream and truncates again. The file is
    // then written in append mode, a whole line at a time: another program
    // that opens it meanwhile empties it, but nothing either writes is lost
    // in a hole or overwritten.
    [[nodiscard]] static bool open(const std::filesystem::path& folder);
    static void write(std::u16string_view message);
    // "Loaded <count> of Servers".
    static void writeServerCount(std::size_t count);
    // Writes "launcher exiting" and closes; a second close does nothing.
    static void close();
    static bool isOpen();
};

// The "YYYY-MM-DD HH:MM:SS.mmm " prefix for the current wall-clock time.
std::string logTimestamp();

}  // namespace mendly
