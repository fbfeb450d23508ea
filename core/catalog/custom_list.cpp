#include "catalog/custom_list.h"

#include <string>
#include <system_error>

#include "catalog/file_bytes.h"
#include "catalog/json_file.h"
#include "catalog/server_list.h"
#include "log/text.h"
#include "platform/file.h"

namespace mendly {
namespace {

enum class FileState { Missing, Empty, Unreadable, Read };

FileState readBytes(const std::filesystem::path& path, std::string& bytes) {
    switch (readFileBytes(path, bytes)) {
        case FileRead::Missing: return FileState::Missing;
        case FileRead::Unreadable: return FileState::Unreadable;
        case FileRead::Read: break;
    }
    return bytes.empty() ? FileState::Empty : FileState::Read;
}

nlohmann::json listDocument(nlohmann::json servers) {
    nlohmann::json document = nlohmann::json::object();
    document["servers"] = std::move(servers);
    return document;
}

}  // namespace

std::filesystem::path customListPath(const std::filesystem::path& programFolder) {
    return programFolder / "customlist.json";
}

std::filesystem::path customListBackupPath(const std::filesystem::path& programFolder) {
    return programFolder / "customlist.json.bad";
}

std::optional<std::vector<ServerEntry>> readCustomList(const std::filesystem::path& path) {
    std::string bytes;
    if (readBytes(path, bytes) != FileState::Read) return std::nullopt;
    return parseServerList(bytes);
}

bool appendCustomEntry(const std::filesystem::path& programFolder, const ServerEntry& entry) {
    const auto path = customListPath(programFolder);
    nlohmann::json servers = nlohmann::json::array();

    std::string bytes;
    const FileState state = readBytes(path, bytes);
    std::optional<std::vector<ServerEntry>> existing;
    if (state == FileState::Read) existing = parseServerList(bytes);
    if (existing) {
        for (const auto& old : *existing) servers.push_back(serverEntryToJson(old));
    } else if (state == FileState::Read || state == FileState::Unreadable) {
        // The user's file would be replaced by one holding only the new entry:
        // keep what was there beside it, or write nothing at all. (The bytes
        // read are written as the backup: copying over an older backup is
        // refused by the Windows standard library.)
        if (state != FileState::Read) return false;
        if (platform::replaceWholeFile(customListBackupPath(programFolder), bytes) != platform::FileWrite::Written)
            return false;
    }
    servers.push_back(serverEntryToJson(entry));
    return writeJsonFile(path, listDocument(std::move(servers)));
}

bool removeCustomEntry(const std::filesystem::path& programFolder, const ServerEntry& entry) {
    const auto path = customListPath(programFolder);
    const auto existing = readCustomList(path);
    if (!existing) return false;
    nlohmann::json servers = nlohmann::json::array();
    std::size_t leftOut = 0;
    for (const auto& old : *existing) {
        if (equalsIgnoreAsciiCase(old.name, entry.name))
            ++leftOut;
        else
            servers.push_back(serverEntryToJson(old));
    }
    if (leftOut == 0) return false;
    return writeJsonFile(path, listDocument(std::move(servers)));
}

}  // namespace mendly
