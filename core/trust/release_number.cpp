#include "trust/release_number.h"

#include <charconv>
#include <string>

#include "platform/file.h"

namespace mendly {

std::optional<std::uint64_t> loadReleaseNumber(const std::filesystem::path& file) {
    std::string text;
    if (platform::readWholeFile(file, text) != platform::FileRead::Read) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || (end != text.data() + text.size() && *end != '\n')) return std::nullopt;
    return value;
}

bool saveReleaseNumber(const std::filesystem::path& file, std::uint64_t release) {
    return platform::replaceWholeFile(file, std::to_string(release) + "\n") == platform::FileWrite::Written;
}

bool raiseReleaseNumber(const std::filesystem::path& file, std::uint64_t release) {
    const auto known = loadReleaseNumber(file);
    if (known && *known >= release) return true;
    return saveReleaseNumber(file, release);
}

}  // namespace mendly
