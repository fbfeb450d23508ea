#pragma once
// Waits until a file that another process appends to (a child's output, a
// log) holds a given text: the file is read again each time inotify reports
// that it was written, so the test acts the moment the text is there,
// without polling.
//
// Threads: the caller's; blocks it.
#include <chrono>
#include <filesystem>
#include <string_view>

namespace mendly::test {

// True as soon as `file` (which must exist) contains `text`; false when it
// does not within `timeout`.
[[nodiscard]] bool waitForFileText(const std::filesystem::path& file, std::string_view text,
                                   std::chrono::milliseconds timeout);

}  // namespace mendly::test
