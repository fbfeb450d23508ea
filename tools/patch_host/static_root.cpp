#include "static_root.h"

namespace patch_host {

namespace fs = std::filesystem;

bool StaticRoot::open(const fs::path& folder) {
    std::error_code ec;
    const fs::path canonical = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(canonical, ec)) return false;
    root_ = canonical;
    return true;
}

std::optional<fs::path> StaticRoot::resolve(std::string_view requestPath) const {
    if (root_.empty() || requestPath.find('\0') != std::string_view::npos) return std::nullopt;
    fs::path candidate = root_;
    std::size_t start = 0;
    while (start <= requestPath.size()) {
        const auto slash = requestPath.find('/', start);
        const auto end = slash == std::string_view::npos ? requestPath.size() : slash;
        const auto part = requestPath.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") candidate /= fs::path(part);
        start = end + 1;
    }
    // Symbolic links may point anywhere; only what really lies below the root is served.
    std::error_code ec;
    const fs::path real = fs::canonical(candidate, ec);
    if (ec || !fs::is_regular_file(real, ec)) return std::nullopt;
    const auto rel = real.lexically_relative(root_);
    if (rel.empty() || *rel.begin() == "..") return std::nullopt;
    return real;
}

}  // namespace patch_host
