#pragma once
// The one file every program of the suite logs to, shared by programs that
// run at the same time: opened (and emptied) once at start, then written in
// append mode, one whole line per write, so the lines of overlapping programs
// interleave whole and none overwrites another. Not inherited by programs we
// start (close-on-exec).
// POSIX: log_output_posix.cpp (O_APPEND). Windows: log_output_win.cpp
// (FILE_APPEND_DATA).
//
// Threads: one owner; the caller serialises calls (LogFile holds a lock).
#include <filesystem>
#include <string_view>

namespace mendly::platform {

class LogOutput {
public:
    LogOutput() = default;
    ~LogOutput();
    LogOutput(const LogOutput&) = delete;
    LogOutput& operator=(const LogOutput&) = delete;

    // Creates `path` or empties the file there. False when it cannot.
    [[nodiscard]] bool open(const std::filesystem::path& path);
    // Appends `line` in one write. False when it could not be written whole.
    bool append(std::string_view line);
    void close();
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace mendly::platform
