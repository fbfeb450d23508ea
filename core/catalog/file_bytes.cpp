#include "catalog/file_bytes.h"

#include <exception>
#include <fstream>
#include <system_error>

namespace mendly {

FileRead readFileBytes(const std::filesystem::path& path, std::string& bytes) {
    bytes.clear();
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return FileRead::Missing;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open()) return FileRead::Unreadable;
        char buffer[16384];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
            bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (in.bad()) {
            bytes.clear();
            return FileRead::Unreadable;
        }
        return FileRead::Read;
    } catch (const std::exception&) {
        bytes.clear();
        return FileRead::Unreadable;
    }
}

}  // namespace mendly
