#include "patch/archive_paths.h"

#include <algorithm>

#include "log/text.h"

namespace mendly {

std::optional<std::string_view> archiveNameOf(std::string_view relative) {
    const std::size_t slash = relative.find_first_of("/\\");
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == relative.size()) return std::nullopt;
    const std::string_view folder = relative.substr(0, slash);
    const auto match = std::find_if(archiveNameTable.begin(), archiveNameTable.end(),
                                    [&](std::string_view name) { return equalsIgnoreAsciiCase(folder, name); });
    if (match == archiveNameTable.end()) return std::nullopt;
    return *match;
}

std::optional<ArchiveMemberRef> classifyArchivePath(std::string_view relative) {
    const auto archive = archiveNameOf(relative);
    if (!archive) return std::nullopt;
    ArchiveMemberRef ref;
    ref.archiveName = std::string(*archive);
    std::string member = normalizeArchiveName(relative.substr(archive->size() + 1));

    // Only the file name (the last component) can carry the prefix.
    const std::size_t nameStart = [&] {
        const std::size_t lastSeparator = member.rfind('\\');
        return lastSeparator == std::string::npos ? 0 : lastSeparator + 1;
    }();
    if (member.size() - nameStart >= 4 &&
        equalsIgnoreAsciiCase(std::string_view(member).substr(nameStart, 4), "pak_")) {
        ref.legacyMemberPath = member;
        member.erase(nameStart, 4);
        ref.hadPakPrefix = true;
    }
    ref.memberPath = std::move(member);
    return ref;
}

std::filesystem::path archivePathFor(const std::filesystem::path& installDir, std::string_view archiveName) {
    return installDir / (std::string(archiveName) + ".pak");
}

}  // namespace mendly
