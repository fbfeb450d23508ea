#include "patch/archive_paths.h"

#include <algorithm>

#include "log/text.h"

namespace mendly {

std::optional<ArchiveMemberRef> classifyArchivePath(std::string_view relative) {
    std::string path(relative);
    std::replace(path.begin(), path.end(), '\\', '/');

    const std::size_t slash = path.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == path.size()) return std::nullopt;

    const std::string_view folder = std::string_view(path).substr(0, slash);
    const auto match = std::find_if(archiveNameTable.begin(), archiveNameTable.end(),
                                    [&](std::string_view name) { return equalsIgnoreAsciiCase(folder, name); });
    if (match == archiveNameTable.end()) return std::nullopt;

    ArchiveMemberRef ref;
    ref.archiveName = std::string(*match);
    std::string member = normalizeArchiveName(std::string_view(path).substr(slash + 1));

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
