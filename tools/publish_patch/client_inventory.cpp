#include "client_inventory.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <system_error>

#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/manifest_path_check.h"

namespace mendly::publish {
namespace {

namespace fs = std::filesystem;
using mendly::archiveNameTable;

// The archive a top-level name stands for (ASCII case ignored), if any.
std::optional<std::string> archiveNamed(std::string_view name) {
    for (const std::string_view archive : archiveNameTable)
        if (mendly::equalsIgnoreAsciiCase(name, archive)) return std::string(archive);
    return std::nullopt;
}

std::string slashed(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// A member key whose components are all real names: nothing empty, "." or
// "..", which no host could serve under that address.
bool isServableKey(std::string_view key) {
    std::size_t start = 0;
    while (start <= key.size()) {
        std::size_t end = key.find('\\', start);
        if (end == std::string_view::npos) end = key.size();
        const std::string_view component = key.substr(start, end - start);
        if (component.empty() || component == "." || component == "..") return false;
        start = end + 1;
    }
    return true;
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF. The manifest is a JSON (UTF-8) text.
bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += length;
    }
    return true;
}

struct Walk {
    std::vector<ClientItem> items;
    // archive name -> first published key -> where it came from, to refuse
    // two folder members that differ only in case.
    std::map<std::string, std::map<std::string, std::string>> folderKeys;
    std::map<std::string, std::string> packedFile;  // archive -> ".pak" file name
    std::map<std::string, std::string> folderName;  // archive -> folder name
};

bool addPacked(const fs::path& pakFile, const std::string& archiveName, Walk& walk, std::string& error) {
    auto opened = mendly::vfile::Archive::open(pakFile);
    if (!opened) {
        error = "Cannot read archive: " + pakFile.string();
        return false;
    }
    auto archive = std::make_shared<const mendly::vfile::Archive>(std::move(*opened));
    std::map<std::string, bool> seen;
    for (const auto& entry : archive->entries()) {
        // Duplicate keys: the first one is the entry every reader finds.
        if (!seen.emplace(entry.key, true).second) continue;
        if (!isServableKey(entry.key)) {
            error = "Member \"" + entry.name + "\" of " + pakFile.string() + " cannot be published under that name";
            return false;
        }
        ClientItem item;
        item.relative = archiveName + "/" + slashed(entry.key);
        item.member = true;
        item.archiveName = archiveName;
        item.memberKey = entry.key;
        item.source = pakFile;
        item.archive = archive;
        walk.items.push_back(std::move(item));
    }
    return true;
}

bool addFolderMember(const fs::path& file, const fs::path& relative, const std::string& archiveName, Walk& walk,
                     std::string& error) {
    // Everything after the archive folder is the member name.
    fs::path inside;
    for (auto it = std::next(relative.begin()); it != relative.end(); ++it) inside /= *it;
    const std::string name = inside.generic_string();
    if (name.find('\\') != std::string::npos) {
        error = "Cannot publish " + relative.generic_string() + ": a file name contains '\\'";
        return false;
    }
    const std::string key = mendly::archiveKey(mendly::normalizeArchiveName(name));
    const auto [at, inserted] = walk.folderKeys[archiveName].emplace(key, relative.generic_string());
    if (!inserted) {
        error = "Two members of " + archiveName + " differ only in letter case: " + at->second + " and " +
                relative.generic_string();
        return false;
    }
    ClientItem item;
    item.relative = archiveName + "/" + slashed(key);
    item.member = true;
    item.archiveName = archiveName;
    item.memberKey = key;
    item.source = file;
    walk.items.push_back(std::move(item));
    return true;
}

}  // namespace

std::string publishedPathProblem(const std::string& relative) {
    if (!isValidUtf8(relative)) return "is not valid UTF-8";
    for (const char c : relative) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) return "contains a space or a control character";
        if (c == '%' || c == '#' || c == '?') return std::string("contains '") + c + "'";
    }
    return mendly::manifestPathProblem(relative);
}

bool collectClientItems(const fs::path& clientFolder, std::vector<ClientItem>& items, std::string& error) {
    items.clear();
    std::error_code ec;
    if (!fs::is_directory(clientFolder, ec)) {
        error = "Client folder not found: " + clientFolder.string();
        return false;
    }
    Walk walk;
    fs::recursive_directory_iterator it(clientFolder, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::path relative = it->path().lexically_relative(clientFolder);
        const bool topLevel = it.depth() == 0;
        if (it->is_directory(ec)) {
            if (topLevel)
                if (auto archive = archiveNamed(relative.string())) walk.folderName[*archive] = relative.string();
            continue;
        }
        if (!it->is_regular_file(ec)) continue;  // sockets, pipes, dangling links: not part of a client

        const std::string first = relative.begin()->string();
        if (topLevel) {
            const std::string fileName = relative.string();
            if (fileName.size() > 4 && mendly::equalsIgnoreAsciiCase(fileName.substr(fileName.size() - 4), ".pak"))
                if (auto archive = archiveNamed(fileName.substr(0, fileName.size() - 4))) {
                    walk.packedFile[*archive] = fileName;
                    if (!addPacked(it->path(), *archive, walk, error)) return false;
                    continue;
                }
        } else if (auto archive = archiveNamed(first)) {
            if (!addFolderMember(it->path(), relative, *archive, walk, error)) return false;
            continue;
        }
        const std::string published = relative.generic_string();
        if (published.find('\\') != std::string::npos) {
            error = "Cannot publish " + published + ": a file name contains '\\'";
            return false;
        }
        ClientItem item;
        item.relative = published;
        item.source = it->path();
        walk.items.push_back(std::move(item));
    }
    if (ec) {
        error = "Cannot list the client folder: " + clientFolder.string() + " (" + ec.message() + ")";
        return false;
    }
    for (const auto& [archive, pak] : walk.packedFile)
        if (const auto folder = walk.folderName.find(archive); folder != walk.folderName.end()) {
            error = "The archive " + archive + " is there twice, as the folder " + folder->second + " and as " + pak +
                    "; keep one of them";
            return false;
        }
    std::sort(walk.items.begin(), walk.items.end(),
              [](const ClientItem& a, const ClientItem& b) { return a.relative < b.relative; });
    items = std::move(walk.items);
    return true;
}

}  // namespace mendly::publish
