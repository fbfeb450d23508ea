#include "patch/staging_area.h"

#include <system_error>

#include "hash/digest.h"
#include "log/text.h"
#include "patch/archive_paths.h"

namespace mendly {
namespace fs = std::filesystem;


StagingArea::StagingArea(const fs::path& installDir) : folder_(installDir / std::string(kPatchStagingFolderName)) {}

std::string StagingArea::nameFor(const ManifestEntry& entry, StagedForm form) {
    // Such a value can never match a download, so the name only has to be
    // harmless: a digest of the text, marked apart from real ones.
    std::string name = isHexText(entry.md5, 32) ? asciiLowered(entry.md5) : "x" + md5Hex(entry.md5);
    if (form == StagedForm::Payload) name += ".payload";
    if (form == StagedForm::StoredEntry) name += ".entry";
    return name;
}

bool StagingArea::create() const {
    std::error_code ec;
    const auto status = fs::symlink_status(folder_, ec);
    if (fs::exists(status) && !fs::is_directory(status)) fs::remove(folder_, ec);
    fs::create_directories(folder_, ec);
    return !ec && fs::is_directory(fs::symlink_status(folder_, ec));
}

void StagingArea::removeUnlisted(const std::set<std::string>& keep) const {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder_, ec))) return;
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        if (!keep.contains(it->path().filename().string())) doomed.push_back(it->path());
    }
    for (const fs::path& path : doomed) {
        std::error_code ignored;
        fs::remove_all(path, ignored);  // a link is removed itself, not followed
    }
}

void StagingArea::removeAll() const {
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

bool StagingArea::isEmpty() const {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder_, ec))) return true;
    return fs::directory_iterator(folder_, ec) == fs::directory_iterator();
}

StagedContents StagingArea::measure() const {
    StagedContents contents;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder_, ec))) return contents;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code itemError;
        if (!fs::is_regular_file(it->symlink_status(itemError)) || it->path().extension() == ".part") continue;
        const std::uintmax_t size = fs::file_size(it->path(), itemError);
        if (itemError) continue;  // gone meanwhile
        ++contents.files;
        contents.bytes += size;
    }
    return contents;
}

std::string stagedNameFor(const ManifestEntry& entry) {
    const auto ref = classifyArchivePath(entry.relative);
    if (!ref) return StagingArea::nameFor(entry, StagedForm::AsServed);
    return StagingArea::nameFor(entry, ref->hadPakPrefix ? StagedForm::Payload : StagedForm::StoredEntry);
}

}  // namespace mendly
