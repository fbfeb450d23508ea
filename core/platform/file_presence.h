#pragma once
// The look at a path that readWholeFile (file.cpp) takes before it opens the
// file: the per-OS half of reading a whole file. POSIX: file_posix.cpp (the
// final link is not followed). Windows: file_win.cpp (GetFileAttributesW).
// Any thread.
#include <filesystem>

namespace mendly::platform {

enum class PathPresence {
    Missing,       // nothing there, or a folder on the way is missing
    Inaccessible,  // the system refused to look (Windows: no access, a bad name); nothing is read
    Present,       // something is there (a file, a folder, a link): opening it decides the rest
};

PathPresence presenceOf(const std::filesystem::path& path);

}  // namespace mendly::platform
