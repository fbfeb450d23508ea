#include "served_folder.h"

#include <system_error>

namespace mendly::publish {
namespace {

namespace fs = std::filesystem;

// The regular files below `top`, as paths relative to `base`, '/' separated.
// Links and other non-directories count as files too, so that they are
// removed rather than followed.
std::vector<std::string> filesBelow(const fs::path& base, const fs::path& top) {
    std::vector<std::string> out;
    std::error_code ec;
    fs::recursive_directory_iterator it(top, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec))
        if (!it->is_directory(ec) || it->is_symlink(ec)) out.push_back(it->path().lexically_relative(base).generic_string());
    return out;
}

// Removes the empty folders below `top` (deepest first), and `top` itself
// when it ends up empty and `andTop` is set.
void removeEmptyFolders(const fs::path& top, bool andTop) {
    std::error_code ec;
    std::vector<fs::path> folders;
    fs::recursive_directory_iterator it(top, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) folders.push_back(it->path());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) fs::remove(*folder, ec);  // only if empty
    if (andTop) fs::remove(top, ec);
}

}  // namespace

std::string contentPathFor(std::string_view sha256) {
    return std::string(kContentFolder) + "/" + std::string(sha256.substr(0, 2)) + "/" + std::string(sha256);
}

bool isInContentFolder(std::string_view relative) {
    return relative.size() > kContentFolder.size() && relative.substr(0, kContentFolder.size()) == kContentFolder &&
           relative[kContentFolder.size()] == '/';
}

bool stageContentCopies(const fs::path& staging, const std::vector<ServedFile>& files, std::string& error) {
    for (const ServedFile& file : files) {
        const fs::path source = staging / file.relative;
        const fs::path copy = staging / contentPathFor(file.sha256);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(copy, ec))) continue;  // another file with the same bytes
        fs::create_directories(copy.parent_path(), ec);
        if (!ec) fs::create_hard_link(source, copy, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(source, copy, ec);
        }
        if (ec) {
            error = "Cannot keep a copy of " + file.relative + " at " + copy.string() + " (" + ec.message() + ")";
            return false;
        }
    }
    return true;
}

bool moveContentIntoPlace(const fs::path& staging, const fs::path& folder, std::string& error) {
    for (const std::string& path : filesBelow(staging, staging / kContentFolder)) {
        const fs::path target = folder / path;
        std::error_code ec;
        const bool present = fs::is_regular_file(fs::symlink_status(target, ec));
        if (!present) fs::remove_all(target, ec);  // not a file: nothing a manifest could name
        fs::create_directories(target.parent_path(), ec);
        // Over a copy already there as well: same bytes, and then the copy
        // and the new plain file are one file again.
        if (!ec) fs::rename(staging / path, target, ec);
        if (ec && present) {
            fs::remove(staging / path, ec);  // the copy there is in use, and as good
            continue;
        }
        if (ec) {
            error = "Cannot move a copy into place: " + target.string() + " (" + ec.message() + ")";
            return false;
        }
    }
    return true;
}

void pruneContent(const fs::path& folder, const std::set<std::string>& keep) {
    std::error_code ec;
    for (const std::string& path : filesBelow(folder, folder / kContentFolder))
        if (!keep.contains(path)) fs::remove(folder / path, ec);
    removeEmptyFolders(folder / kContentFolder, true);
}

bool replacePlainFiles(const fs::path& staging, const fs::path& folder, std::string& error) {
    std::vector<std::string> staged = filesBelow(staging, staging);
    std::erase_if(staged, [](const std::string& path) { return isInContentFolder(path); });
    const std::set<std::string> next(staged.begin(), staged.end());
    std::error_code ec;
    for (const std::string& path : filesBelow(folder, folder))
        if (!isInContentFolder(path) && !next.contains(path)) fs::remove(folder / path, ec);
    removeEmptyFolders(folder, false);
    for (const std::string& path : staged) {
        const fs::path target = folder / path;
        if (fs::is_directory(fs::symlink_status(target, ec))) fs::remove_all(target, ec);
        fs::create_directories(target.parent_path(), ec);
        if (!ec) fs::rename(staging / path, target, ec);
        if (ec) {
            error = "Cannot move the new publication into place: " + target.string() + " (" + ec.message() + ")";
            return false;
        }
    }
    return true;
}

}  // namespace mendly::publish
