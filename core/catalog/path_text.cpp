#include "catalog/path_text.h"

#include <type_traits>

#include "log/text.h"

namespace mendly {

namespace {

// Paths whose native text is bytes (UTF-8 here) convert through the
// programs' UTF-8 codec, which turns invalid bytes into U+FFFD instead of
// failing; wide native text (Windows) is already UTF-16.
// (Templates, so that only the branch of this platform's path text is compiled.)
template <typename Char = std::filesystem::path::value_type>
std::basic_string<Char> nativeText(std::u16string_view text) {
    if constexpr (std::is_same_v<Char, char>) {
        return toUtf8(text);
    } else {
        return std::basic_string<Char>(text.begin(), text.end());
    }
}

// (Wide native text is copied unit by unit: path::u16string() would throw on
// a lone surrogate, which Windows allows in a file name.)
template <typename Char = std::filesystem::path::value_type>
std::u16string textOf(const std::basic_string<Char>& native) {
    if constexpr (std::is_same_v<Char, char>) {
        return toWide(native);
    } else {
        return std::u16string(native.begin(), native.end());
    }
}

}  // namespace

std::filesystem::path widePath(std::u16string_view text) { return std::filesystem::path(nativeText(text)); }

std::u16string pathText(const std::filesystem::path& path) { return textOf(path.native()); }

std::filesystem::path joinName(const std::filesystem::path& folder, std::u16string_view name) {
    auto text = folder.native();
    text += std::filesystem::path::preferred_separator;
    text += nativeText(name);
    return std::filesystem::path(std::move(text));
}

}  // namespace mendly
