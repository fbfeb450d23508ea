#include "catalog/json_file.h"

#include <exception>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace mendly {
namespace {

// A name beside `path` that no other writer picks: two programs may rewrite
// the same file at once (the last rename wins, neither sees a torn file).
std::filesystem::path temporaryBeside(const std::filesystem::path& path) {
    std::random_device random;
    std::filesystem::path temp = path;
    temp += ".tmp-" + std::to_string(random()) + std::to_string(random());
    return temp;
}

bool writeAll(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out.good()) return false;
    out.close();
    return !out.fail();
}

}  // namespace

std::optional<std::string> jsonFileText(const nlohmann::json& document) {
    try {
        return document.dump(2, ' ', /*ensure_ascii=*/false, nlohmann::json::error_handler_t::strict);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool writeJsonFile(const std::filesystem::path& path, const nlohmann::json& document) {
    const auto text = jsonFileText(document);
    if (!text) return false;

    const auto temp = temporaryBeside(path);
    std::error_code ec;
    if (!writeAll(temp, *text)) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    // Keep the permissions the user gave the old file.
    const auto old = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(old))
        std::filesystem::permissions(temp, old.permissions(), ec);
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

}  // namespace mendly
