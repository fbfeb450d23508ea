#include "catalog/json_file.h"

#include <exception>
#include <string>

#include "platform/file.h"

namespace mendly {

std::optional<std::string> jsonFileText(const nlohmann::json& document) {
    try {
        return document.dump(2, ' ', /*ensure_ascii=*/false, nlohmann::json::error_handler_t::strict);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool writeJsonFile(const std::filesystem::path& path, const nlohmann::json& document) {
    const auto text = jsonFileText(document);
    return text && platform::replaceWholeFile(path, *text) == platform::FileWrite::Written;
}

}  // namespace mendly
