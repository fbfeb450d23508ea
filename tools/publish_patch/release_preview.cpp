#include "release_preview.h"

#include <algorithm>
#include <unordered_map>

#include "catalog/file_bytes.h"
#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/patch_mode.h"

namespace mendly::publish {
namespace {

std::string slashed(std::string_view relative) {
    std::string path(relative);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// What a path names on a player's disk (see the header).
std::string identityOf(std::string_view relative) {
    if (const auto member = mendly::classifyArchivePath(relative))
        return "member:" + member->archiveName + "\\" + mendly::archiveKey(member->memberPath);
    return "loose:" + slashed(relative);
}

ServedFile::Kind kindOf(std::string_view relative) {
    const auto member = mendly::classifyArchivePath(relative);
    if (!member) return ServedFile::Kind::Loose;
    return member->hadPakPrefix ? ServedFile::Kind::Payload : ServedFile::Kind::Member;
}

}  // namespace

ReleasePreview previewRelease(const PatchManifest* servedNow, const std::vector<ServedFile>& next) {
    ReleasePreview preview;
    std::unordered_map<std::string, std::size_t> before;
    if (servedNow) {
        preview.hostServes = true;
        preview.generatedBefore = servedNow->generated;
        preview.filesBefore = servedNow->files.size();
        // The parser refuses manifests in which two entries name one file.
        for (std::size_t i = 0; i < servedNow->files.size(); ++i)
            before.emplace(identityOf(servedNow->files[i].relative), i);
    }
    std::vector<bool> kept(preview.filesBefore, false);

    for (const ServedFile& file : next) {
        ++preview.installFiles;
        preview.installBytes += file.size;

        PreviewLine line;
        line.kind = file.kind;
        line.relative = file.relative;
        line.size = file.size;
        const auto old = before.find(identityOf(file.relative));
        if (old == before.end()) {
            line.change = FileChange::Added;
            ++preview.added;
        } else {
            kept[old->second] = true;
            const ManifestEntry& entry = servedNow->files[old->second];
            line.kindBefore = kindOf(entry.relative);
            if (line.kindBefore == file.kind && mendly::md5Matches(file.md5, entry.md5)) {
                ++preview.unchanged;
                continue;
            }
            line.change = FileChange::Changed;
            if (slashed(entry.relative) != file.relative) line.relativeBefore = slashed(entry.relative);
            line.sameContents = line.kindBefore == ServedFile::Kind::Member && file.kind == ServedFile::Kind::Payload &&
                                mendly::md5Matches(file.contentsMd5, entry.md5);
            ++preview.changed;
        }
        if (mendly::isSelectedForMode(ManifestEntry(file.relative, file.md5), PatchMode::Update)) {
            ++preview.updateFiles;
            preview.updateBytes += file.size;
        } else {
            ++preview.userIniFiles;
            preview.userIniBytes += file.size;
        }
        preview.lines.push_back(std::move(line));
    }

    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (kept[i]) continue;
        const ManifestEntry& entry = servedNow->files[i];
        PreviewLine line;
        line.change = FileChange::Removed;
        line.kind = kindOf(entry.relative);
        line.relative = slashed(entry.relative);
        line.size = entry.size;
        preview.lines.push_back(std::move(line));
        ++preview.removed;
    }
    std::sort(preview.lines.begin(), preview.lines.end(), [](const PreviewLine& a, const PreviewLine& b) {
        return a.relative != b.relative ? a.relative < b.relative : a.change < b.change;
    });
    return preview;
}

bool readServedManifest(const std::filesystem::path& hostFolder, std::string_view server,
                        std::optional<PatchManifest>& manifest, std::string& error) {
    manifest.reset();
    if (const std::string problem = serverNameProblem(server); !problem.empty()) {
        error = "The server name \"" + std::string(server) + "\" " + problem;
        return false;
    }
    const std::filesystem::path path = hostFolder / (std::string(server) + ".manifest");
    std::string bytes;
    switch (mendly::readFileBytes(path, bytes)) {
        case FileRead::Missing: return true;
        case FileRead::Unreadable: error = "Cannot read the served manifest " + path.string(); return false;
        case FileRead::Read: break;
    }
    PatchManifest parsed;
    std::u16string parseError;
    if (!mendly::parseManifest(bytes, parsed, parseError)) {
        error = "The served manifest " + path.string() + " is not usable (" + mendly::toUtf8(parseError) + ")";
        return false;
    }
    manifest = std::move(parsed);
    return true;
}

}  // namespace mendly::publish
