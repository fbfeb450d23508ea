#include "selfupdate/launcher_manifest.h"

#include <new>

#include <nlohmann/json.hpp>

#include "log/text.h"

namespace mendly {

bool parseLauncherManifest(std::string_view body, LauncherManifest& manifest, std::u16string& error) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(body.begin(), body.end(), nullptr, true, false);
    } catch (const nlohmann::json::exception& e) {
        error = u"latest.json parse failed: " + toWide(e.what());
        return false;
    } catch (const std::bad_alloc&) {
        error = u"Not enough memory to read latest.json.";
        return false;
    }
    if (!doc.is_object() || !doc.contains("version") || !doc["version"].is_string()) {
        error = u"latest.json is missing a version string";
        return false;
    }
    if (!doc.contains("files") || !doc["files"].is_array()) {
        error = u"latest.json is missing a files array";
        return false;
    }
    manifest.version = doc["version"].get<std::string>();
    manifest.expires.clear();
    if (const auto expires = doc.find("expires"); expires != doc.end() && expires->is_string())
        manifest.expires = expires->get<std::string>();
    manifest.release.reset();
    if (const auto release = doc.find("release"); release != doc.end() && release->is_number_unsigned())
        manifest.release = release->get<std::uint64_t>();
    manifest.files.clear();
    for (const auto& item : doc["files"]) {
        if (!item.is_object() || !item.contains("name") || !item.contains("sha256") || !item["name"].is_string() ||
            !item["sha256"].is_string()) {
            error = u"latest.json file entry is missing name or sha256";
            manifest.files.clear();
            return false;
        }
        LauncherFileEntry entry{item["name"].get<std::string>(), item["sha256"].get<std::string>(), 0};
        if (item.contains("size")) {
            const auto& size = item["size"];
            if (size.is_number_unsigned()) entry.size = size.get<std::uint64_t>();
            else if (size.is_number_integer() && size.get<std::int64_t>() >= 0) entry.size = size.get<std::uint64_t>();
        }
        manifest.files.push_back(std::move(entry));
    }
    return true;
}

}  // namespace mendly
