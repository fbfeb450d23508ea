#include "catalog/server_file.h"

#include <exception>

#include <nlohmann/json.hpp>

#include "catalog/file_bytes.h"
#include "catalog/path_text.h"
#include "catalog/server_list.h"

namespace mendly {
namespace {

// The entries of the document: a server object is read as a list of one.
std::optional<std::vector<ServerEntry>> entriesOf(const std::string& bytes) {
    try {
        const auto document = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, true, false);
        if (!document.is_object()) return std::nullopt;
        if (document.contains("servers")) return parseServerList(bytes);
        nlohmann::json list = nlohmann::json::object();
        list["servers"] = nlohmann::json::array({document});
        return parseServerList(list.dump());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<ServerEntry> readServerFile(const std::filesystem::path& path, std::u16string& error) {
    std::string bytes;
    switch (readFileBytes(path, bytes)) {
        case FileRead::Missing:
            error = u"There is no server file at " + pathText(path) + u".";
            return std::nullopt;
        case FileRead::Unreadable:
            error = u"Could not read the server file " + pathText(path) + u".";
            return std::nullopt;
        case FileRead::Read:
            break;
    }
    auto entries = entriesOf(bytes);
    if (!entries || entries->size() != 1) {
        error = pathText(path) + u" is not a server file: it must hold one server with its name, server and "
                                 u"patchBaseUrl.";
        return std::nullopt;
    }
    ServerEntry entry = std::move(entries->front());
    entry.installPath.clear();
    return entry;
}

}  // namespace mendly
