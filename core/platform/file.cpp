#include "platform/file.h"
#include "platform/file_presence.h"
#include "platform/process.h"

#include <atomic>
#include <fstream>

namespace mendly::platform {

FileRead readWholeFile(const std::filesystem::path& path, std::string& bytes) {
    bytes.clear();
    switch (presenceOf(path)) {
        case PathPresence::Missing: return FileRead::Missing;
        case PathPresence::Inaccessible: return FileRead::Unreadable;
        case PathPresence::Present: break;
    }
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open()) return FileRead::Unreadable;
        // Read in one go at the size the file has now; a file that grows
        // meanwhile is read on to its end in pieces.
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        if (!ec && size > 0 && size < bytes.max_size()) {
            bytes.resize(static_cast<std::size_t>(size));
            in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            bytes.resize(static_cast<std::size_t>(in.gcount()));
        }
        char buffer[16384];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
            bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (!in.bad()) return FileRead::Read;
    } catch (...) {
    }
    bytes.clear();
    return FileRead::Unreadable;
}

std::filesystem::path temporaryNameFor(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = path;
    std::string suffix = ".";
    suffix += std::to_string(currentProcessId());
    suffix += '-';
    suffix += std::to_string(counter.fetch_add(1));
    suffix += ".tmp";
    temp += suffix;
    return temp;
}

}  // namespace mendly::platform
