#include "catalog/server_list.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <string>
#include <string_view>

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

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// "mirrors": an array of http(s) base addresses. It only adds hosts to an
// entry that works without them, so nothing in it rejects the document: a
// value that is not an array, elements that are not strings, texts that are
// not http or https addresses and repeats of the primary or of an earlier
// mirror are left out, and the entry keeps the rest.
std::vector<std::string> readMirrors(const nlohmann::json& object, const std::string& primary) {
    std::vector<std::string> mirrors;
    const auto it = object.find("mirrors");
    if (it == object.end() || !it->is_array()) return mirrors;
    for (const auto& element : *it) {
        if (!element.is_string()) continue;
        std::string text = element.get<std::string>();
        const auto first = text.find_first_not_of(" \t\r\n");
        if (first == std::string::npos) continue;
        text.erase(0, first);
        text.erase(text.find_last_not_of(" \t\r\n") + 1);
        if (!startsWithIgnoreCase(text, "http://") && !startsWithIgnoreCase(text, "https://")) continue;
        if (text == primary || std::find(mirrors.begin(), mirrors.end(), text) != mirrors.end()) continue;
        mirrors.push_back(std::move(text));
    }
    return mirrors;
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
    entry.mirrors = readMirrors(object, entry.patchBaseUrl);
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
    if (!entry.mirrors.empty()) object["mirrors"] = entry.mirrors;
    return object;
}

}  // namespace mendly
