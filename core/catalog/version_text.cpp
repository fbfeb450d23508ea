#include "catalog/version_text.h"

#include "catalog/file_bytes.h"
#include "log/text.h"

namespace mendly {
namespace {

// isspace in the "C" locale.
bool isSpaceByte(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::u16string cleanVersionText(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    while (!bytes.empty() && (bytes.back() == '\0' || isSpaceByte(bytes.back()))) bytes.remove_suffix(1);
    while (!bytes.empty() && isSpaceByte(bytes.front())) bytes.remove_prefix(1);
    std::u16string text = toWide(bytes);
    for (auto& c : text)
        if (c == u'\r' || c == u'\t' || c == u'\n') c = u' ';
    return text;
}

bool readLocalVersion(const std::filesystem::path& folder, std::u16string& out) {
    out.clear();
    std::string bytes;
    if (readFileBytes(folder / "_version._", bytes) != FileRead::Read) return false;
    if (!bytes.empty()) out = cleanVersionText(bytes);
    return !out.empty();
}

}  // namespace mendly
