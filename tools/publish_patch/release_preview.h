#pragma once
// What a release costs players before it is published: the files a new
// publication would serve compared with the manifest the host serves now.
//
// A file is the same file before and after when it names the same thing on
// a player's disk: a loose file by its path ('\' read as '/'), an archive
// member by its archive and normalised member name, whichever way it
// travels, so a member switching between plain file and "pak_" payload is
// one changed file, not a removal and an addition. A file is changed when
// the MD5 differs (hexadecimal case ignored, as a patch run compares) or
// when it travels another way.
//
// previewRelease is pure and thread-safe; readServedManifest reads one file.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/manifest.h"
#include "publish.h"

namespace mendly::publish {

enum class FileChange { Added, Changed, Removed };

struct PreviewLine {
    FileChange change = FileChange::Added;
    ServedFile::Kind kind = ServedFile::Kind::Loose;  // as served after the release; removed: before it
    std::string relative;                             // likewise, '/' separated
    // Served bytes; for a removed file the size the old manifest lists, if any.
    std::optional<std::uint64_t> size;
    // Changed only: how the file travelled before, its old path when that
    // differs from `relative`, and whether a switch from plain file to
    // payload carries the very contents the old manifest lists.
    ServedFile::Kind kindBefore = ServedFile::Kind::Loose;
    std::string relativeBefore;
    bool sameContents = false;
};

struct ReleasePreview {
    bool hostServes = false;       // false: no manifest there, every file counts as added
    std::string generatedBefore;   // the stamp of the manifest served now
    std::vector<PreviewLine> lines;  // added, changed and removed files, sorted by `relative`
    std::uint64_t added = 0;
    std::uint64_t changed = 0;
    std::uint64_t removed = 0;
    std::uint64_t unchanged = 0;
    std::uint64_t filesBefore = 0;  // listed in the manifest served now
    // What a player whose client matches the manifest served now fetches:
    // the added and changed files an update selects. An update leaves user
    // INI files (ini/ apart from updater.ini and hash.ini) alone; those
    // added or changed are counted apart.
    std::uint64_t updateFiles = 0;
    std::uint64_t updateBytes = 0;
    std::uint64_t userIniFiles = 0;
    std::uint64_t userIniBytes = 0;
    // A fresh install fetches every served file.
    std::uint64_t installFiles = 0;
    std::uint64_t installBytes = 0;
};

// `servedNow` is the manifest the host serves, or null when it serves none;
// `next` what the release would serve (as listServedFiles gives it).
ReleasePreview previewRelease(const PatchManifest* servedNow, const std::vector<ServedFile>& next);

// Reads and parses hostFolder/<server>.manifest: true with `manifest` set,
// or true with it empty when there is no such file; false with one sentence
// in `error` when it exists but cannot be read or is no valid manifest.
[[nodiscard]] bool readServedManifest(const std::filesystem::path& hostFolder, std::string_view server,
                                      std::optional<PatchManifest>& manifest, std::string& error);

}  // namespace mendly::publish
