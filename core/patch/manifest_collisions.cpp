#include "patch/manifest_collisions.h"

#include <unordered_map>

#include "log/text.h"
#include "patch/archive_paths.h"

namespace mendly {
namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The one name every spelling of an entry's file shares.
std::string fileKey(const std::string& relative) {
    if (const auto member = classifyArchivePath(relative))
        return member->archiveName + ".pak:" + archiveKey(member->memberPath);
    std::string path = relative;
    for (char& c : path)
        if (c == '\\') c = '/';
    return lowerAscii(std::move(path));
}

bool isArchiveFileName(std::string_view key) {
    if (!key.ends_with(".pak")) return false;
    key.remove_suffix(4);
    for (const auto name : archiveNameTable)
        if (key == name) return true;
    return false;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string manifestCollisionProblem(const std::vector<ManifestEntry>& files) {
    std::unordered_map<std::string, std::size_t> seen;
    seen.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string key = fileKey(files[i].relative);
        const auto where = [&] { return "files[" + std::to_string(i) + "]: " + quoted(files[i].relative); };
        if (isArchiveFileName(key)) return where() + " is the file of an archive whose members are patched one by one";
        const auto [at, added] = seen.emplace(std::move(key), i);
        if (!added) return where() + " names the same file as files[" + std::to_string(at->second) + "]";
    }
    return {};
}

}  // namespace mendly
