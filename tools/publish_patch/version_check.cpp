#include "version_check.h"

#include <algorithm>

#include "catalog/file_bytes.h"
#include "hash/digest.h"
#include "release_preview.h"

namespace mendly::publish {
namespace {

constexpr std::string_view kVersionFile = "_version._";

// The version text as a sentence may quote it: line ends dropped, other
// control characters as '?', at most 60 characters.
std::string quotedVersion(const std::filesystem::path& clientFolder) {
    std::string text;
    if (readFileBytes(clientFolder / kVersionFile, text) != FileRead::Read) text.clear();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.size() > 60) text = text.substr(0, 57) + "...";
    std::replace_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
    return "\"" + text + "\"";
}

}  // namespace

bool versionFileUnchanged(const std::filesystem::path& clientFolder, const PatchManifest& servedNow) {
    const auto listed = std::find_if(servedNow.files.begin(), servedNow.files.end(),
                                     [](const ManifestEntry& entry) { return entry.relative == kVersionFile; });
    if (listed == servedNow.files.end()) return false;
    const std::string md5 = md5FileHex(clientFolder / kVersionFile);
    return !md5.empty() && md5Matches(md5, listed->md5);
}

std::string unchangedVersionProblem(const std::filesystem::path& clientFolder, const PatchManifest& servedNow,
                                    const std::vector<ServedFile>& next) {
    const ReleasePreview preview = previewRelease(&servedNow, next);
    bool versionChanged = false;
    std::size_t otherChanges = 0;
    for (const PreviewLine& line : preview.lines) {
        if (line.relative == kVersionFile) {
            versionChanged = true;
        } else if (!line.sameContents) {
            ++otherChanges;
        }
    }
    if (versionChanged || otherChanges == 0) return {};
    return "The client changed (" + std::to_string(otherChanges) + " file(s) added, changed or removed) but " +
           std::string(kVersionFile) + " did not (still " + quotedVersion(clientFolder) +
           "): every player's listing would keep saying \"Up To Date\"";
}

}  // namespace mendly::publish
