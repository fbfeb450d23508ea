// parseLauncherManifest on arbitrary bytes: it must never crash, hang or
// throw; a rejection carries exactly one of the four sentences and leaves no
// file entries behind; an accepted manifest holds exactly the document's
// entries, with a size only where the document has a non-negative integer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "selfupdate/launcher_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mendly;
    const std::string_view body(reinterpret_cast<const char*>(data), size);

    LauncherManifest manifest;
    manifest.files.push_back({"stale", "stale", 1});  // what a caller may have held before
    std::u16string error;
    if (!parseLauncherManifest(body, manifest, error)) {
        const bool known = error.starts_with(u"latest.json parse failed: ") ||
                           error == u"latest.json is missing a version string" ||
                           error == u"latest.json is missing a files array" ||
                           error == u"latest.json file entry is missing name or sha256";
        if (!known) std::abort();
        if (error.starts_with(u"latest.json file entry") && !manifest.files.empty()) std::abort();
        return 0;
    }
    if (!error.empty()) std::abort();

    // Compare with the document read independently.
    const auto doc = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (doc.is_discarded() || !doc.is_object()) std::abort();
    if (doc.at("version").get<std::string>() != manifest.version) std::abort();
    const auto& files = doc.at("files");
    if (files.size() != manifest.files.size()) std::abort();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& item = files[i];
        const auto& entry = manifest.files[i];
        if (item.at("name").get<std::string>() != entry.name) std::abort();
        if (item.at("sha256").get<std::string>() != entry.sha256) std::abort();
        std::uint64_t expected = 0;
        if (const auto found = item.find("size"); found != item.end()) {
            if (found->is_number_unsigned())
                expected = found->get<std::uint64_t>();
            else if (found->is_number_integer() && found->get<std::int64_t>() >= 0)
                expected = static_cast<std::uint64_t>(found->get<std::int64_t>());
        }
        if (entry.size != expected) std::abort();
    }
    return 0;
}
