#pragma once
// The patch manifest: the JSON list of every file of a complete, current
// client with the MD5 of its contents, and the rules that give a listed path
// its role (user INI file, kept INI file, loose file; archive members are in
// archive_paths.h). All functions are pure and thread-safe.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/patch_mode.h"

namespace mendly {

// One item of an entry's "deltas": a zstd delta (vfile/delta_codec.h) that
// turns the content whose SHA-256 is `from` into the entry's content. Items
// missing a field, or with a field of the wrong form, are left out; a path
// is held to the rules of "served".
struct ManifestDelta {
    std::string from;    // SHA-256 of the older content, 64 hexadecimal digits
    std::string path;    // below the server's folder, '/' separated
    std::uint64_t size = 0;  // bytes of the delta file
    std::string sha256;  // of the delta file, 64 hexadecimal digits

    bool operator==(const ManifestDelta&) const = default;
};

struct ManifestEntry {
    ManifestEntry() = default;
    ManifestEntry(std::string relativePath, std::string md5Text, std::optional<std::uint64_t> bytes = std::nullopt)
        : relative(std::move(relativePath)), md5(std::move(md5Text)), size(bytes) {}

    std::string relative;  // UTF-8 as in the document; '/' and '\' both separate
    std::string md5;       // hexadecimal text as in the document
    // SHA-256 of the bytes as served ("sha256", optional): 64 hexadecimal
    // digits, empty when the document gives none. Checked beside the MD5.
    std::string sha256;
    // Bytes of the file as served ("size", optional): lets a run check free
    // disk space first and cut off a body that runs longer.
    std::optional<std::uint64_t> size;
    // Where below the server's folder the file is fetched from ("served",
    // optional): '/' separated; empty means its own path, `relative`. A host
    // names here a copy that stays in place while this manifest is served,
    // so files replaced by a newer publication do not change under a run
    // that holds this one. Only the address depends on it: what the file is
    // and where it goes are `relative`'s.
    std::string served;
    // Smaller ways to the same bytes ("deltas", optional): each rebuilds this
    // entry's content from an older content the installation may hold.
    std::vector<ManifestDelta> deltas;
};

struct PatchManifest {
    std::vector<ManifestEntry> files;  // document order; entries are referred to by index
    std::string generated;             // the generation stamp; empty when absent or not a string
    // What a signed manifest vouches for beside its files (see manifest_policy.h):
    std::optional<std::uint64_t> release;  // "release", rising with every publication
    std::string expires;                   // "expires", "YYYY-MM-DDTHH:MM:SSZ"; empty when absent
    std::string server;                    // "server", the server it was published for; empty when absent
};

// Parses the document {"files":[{"relative":..,"md5":..,"size":..},..],"generated":..}.
// Extra keys are ignored; an empty "files" array is accepted. Every listed
// path must stay inside the installation folder and name a file (see
// manifestPathProblem); a "served" path must too, and must travel in an
// address as it is (no '\', spaces, control characters, '%', '#' or '?'),
// and so must every delta's path.
// On failure `manifest` is left empty, nothing is kept of the document, and
// `error` is "manifest parse: " + what went wrong.
[[nodiscard]] bool parseManifest(std::string_view bytes, PatchManifest& manifest, std::u16string& error);

// filesBaseUrl without trailing '/' or '\', then "/", then the entry's
// served path, or when it has none its relative path with every '\' turned
// into '/'. Nothing is percent-encoded.
std::u16string fileUrl(std::u16string_view filesBaseUrl, const ManifestEntry& entry);

// Where a loose entry lives: installDir joined with relative, '\' taken as a
// separator on every platform.
std::filesystem::path looseFilePath(const std::filesystem::path& installDir, std::string_view relative);

// Under "ini/" (ASCII case ignored, '\' counts as '/').
bool isIniPath(std::string_view relative);
// Exactly "ini/updater.ini" or "ini/hash.ini" (ASCII case ignored, '\' counts as '/').
bool isKeptIniPath(std::string_view relative);
// Update: all but user INI files; Install: all; ResetIni: INI files only;
// any other mode value: all.
bool isSelectedForMode(const ManifestEntry& entry, PatchMode mode);

// A computed digest against the manifest's text: equal length and equal
// characters with ASCII case ignored. An empty (failed) digest matches only
// an empty manifest value.
bool md5Matches(std::string_view computed, std::string_view manifestMd5);

}  // namespace mendly
