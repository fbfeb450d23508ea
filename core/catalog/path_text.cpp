#include "catalog/path_text.h"

#include "log/text.h"

namespace mendly {

std::filesystem::path widePath(std::u16string_view text) { return std::filesystem::path(toUtf8(text)); }

std::u16string pathText(const std::filesystem::path& path) { return toWide(path.native()); }

std::filesystem::path joinName(const std::filesystem::path& folder, std::u16string_view name) {
    std::string text = folder.native();
    text += '/';
    text += toUtf8(name);
    return std::filesystem::path(std::move(text));
}

}  // namespace mendly
