#pragma once
// latest.json: the published launcher files with their SHA-256 digests.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mendly {

struct LauncherFileEntry {
    std::string name;    // relative to the program folder
    std::string sha256;  // lowercase hex, compared exactly
    std::uint64_t size = 0;  // 0: not checked
};

struct LauncherManifest {
    std::string version;  // build identifier of the published files
    std::string expires;  // "expires" when it is a string (signed information must carry it), else empty
    std::optional<std::uint64_t> release;  // "release" when it is a whole number (signed information must carry it)
    std::vector<LauncherFileEntry> files;
};

// False with one sentence in `error` when the document is not usable:
// "latest.json parse failed: " + detail, "latest.json is missing a version
// string", "latest.json is missing a files array", "latest.json file entry is
// missing name or sha256".
[[nodiscard]] bool parseLauncherManifest(std::string_view body, LauncherManifest& manifest, std::u16string& error);

}  // namespace mendly
