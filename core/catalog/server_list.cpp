#include "catalog/server_list.h"

#include <exception>
#include <string>

namespace mendly {
namespace {

// Member rules of a server object. Required members must be strings; the
// optional "desc", "launchExecutable" and "manifestKey" may be absent or null
// but no other type (a key that is there must not be passed over); "installPath"
// of any type other than string counts as absent.
enum class Rule { Required, OptionalStrict, OptionalLenient };

// False when the member breaks its rule. `out` is set only for a string value.
bool readMember(const nlohmann::json& object, const char* key, Rule rule, std::string& out,
                bool& present) {
    present = false;
    const auto it = object.find(key);
    if (it == object.end()) return rule != Rule::Required;
    if (it->is_string()) {
        out = it->get<std::string>();
        present = true;
        return true;
    }
    switch (rule) {
        case Rule::Required: return false;
        case Rule::OptionalStrict: return it->is_null();
        case Rule::OptionalLenient: return true;
    }
    return false;
}

std::optional<ServerEntry> toEntry(const nlohmann::json& object) {
    if (!object.is_object()) return std::nullopt;
    ServerEntry entry;
    bool present = false;
    if (!readMember(object, "name", Rule::Required, entry.name, present)) return std::nullopt;
    if (!readMember(object, "desc", Rule::OptionalStrict, entry.desc, present)) return std::nullopt;
    if (!present) entry.desc = entry.name;
    if (!readMember(object, "server", Rule::Required, entry.server, present)) return std::nullopt;
    if (!readMember(object, "patchBaseUrl", Rule::Required, entry.patchBaseUrl, present))
        return std::nullopt;
    if (!readMember(object, "launchExecutable", Rule::OptionalStrict, entry.launchExecutable, present))
        return std::nullopt;
    if (!readMember(object, "installPath", Rule::OptionalLenient, entry.installPath, present))
        return std::nullopt;
    if (!readMember(object, "manifestKey", Rule::OptionalStrict, entry.manifestKey, present)) return std::nullopt;
    return entry;
}

}  // namespace

std::optional<std::vector<ServerEntry>> parseServerList(std::string_view text) {
    try {
        // Exceptions on, comments off; a leading byte-order mark is skipped by
        // the parser; anything but white space after the value is an error.
        const auto document = nlohmann::json::parse(text.begin(), text.end(), nullptr,
                                                    /*allow_exceptions=*/true,
                                                    /*ignore_comments=*/false);
        if (!document.is_object()) return std::nullopt;
        const auto servers = document.find("servers");
        if (servers == document.end() || !servers->is_array()) return std::nullopt;
        std::vector<ServerEntry> entries;
        entries.reserve(servers->size());
        for (const auto& element : *servers) {
            auto entry = toEntry(element);
            if (!entry) return std::nullopt;
            entries.push_back(std::move(*entry));
        }
        return entries;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

nlohmann::json serverEntryToJson(const ServerEntry& entry) {
    nlohmann::json object = nlohmann::json::object();
    object["name"] = entry.name;
    object["desc"] = entry.desc;
    object["server"] = entry.server;
    object["patchBaseUrl"] = entry.patchBaseUrl;
    object["launchExecutable"] = entry.launchExecutable;
    if (!entry.installPath.empty()) object["installPath"] = entry.installPath;
    if (!entry.manifestKey.empty()) object["manifestKey"] = entry.manifestKey;
    return object;
}

}  // namespace mendly
