#pragma once
// Which manifest paths are members of the game's archives, and where those
// archives live. Pure functions on text; safe to call from any thread.
//
// The canonical member name and its comparison key come from the archive
// format itself (patch/vfile/archive_name.h) and are offered here under the
// names the patch engine uses.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "patch/vfile/archive_name.h"

namespace mendly {

using vfile::archiveKey;
using vfile::normalizeArchiveName;

// The top-level client folders that are stored as one archive each, in the
// order archives are scanned for orphan entries.
inline constexpr std::array<std::string_view, 9> archiveNameTable{
    "definitions", "gfx", "language", "models", "scripts", "sound", "terminal", "terrain", "worlds"};

struct ArchiveMemberRef {
    std::string archiveName;       // one of archiveNameTable (lowercase)
    std::string memberPath;        // normalised member name, a leading "pak_" of its file name removed
    std::string legacyMemberPath;  // only with hadPakPrefix: the normalised name still carrying "pak_"
    bool hadPakPrefix = false;     // the download is a single-file payload, not the plain contents
};

// The archive member a manifest path names, or nothing for a loose file.
// '/' and '\' both separate; the first component picks the archive (ASCII
// case ignored) and must be followed by a non-empty rest: "worlds",
// "worlds/" and "/worlds/x" are loose files.
std::optional<ArchiveMemberRef> classifyArchivePath(std::string_view relative);
// Only the archive of that answer (an entry of archiveNameTable), without
// building the member's name: nothing for a loose file.
std::optional<std::string_view> archiveNameOf(std::string_view relative);

// installDir/<archiveName>.pak
std::filesystem::path archivePathFor(const std::filesystem::path& installDir, std::string_view archiveName);

}  // namespace mendly
