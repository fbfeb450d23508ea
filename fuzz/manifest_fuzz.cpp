// parseManifest on arbitrary bytes: it must never crash, hang or throw, must
// fail with a "manifest parse: " sentence, and every document it accepts must
// only hold paths that the path rules can use safely, in canonical form, each
// file named once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/manifest.h"
#include "patch/manifest_collisions.h"
#include "patch/manifest_path_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mendly;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    PatchManifest manifest;
    std::u16string error;
    if (!parseManifest(bytes, manifest, error)) {
        if (error.rfind(u"manifest parse: ", 0) != 0 || !manifest.files.empty()) std::abort();
        return 0;
    }
    if (!error.empty()) std::abort();
    if (!manifestCollisionProblem(manifest.files).empty()) std::abort();  // no two entries for one file
    for (const ManifestEntry& entry : manifest.files) {
        if (!manifestPathProblem(entry.relative).empty()) std::abort();
        if (entry.relative.empty() || entry.relative.front() == '/' || entry.relative.front() == '\\') std::abort();
        const std::u16string url = fileUrl(u"http://127.0.0.1:1/s/", entry);
        if (url.rfind(u"http://127.0.0.1:1/s/", 0) != 0 || url.find(u'\\') != std::u16string::npos) std::abort();
        if (const auto member = classifyArchivePath(entry.relative)) {
            if (member->memberPath.empty() || member->memberPath == ".") std::abort();
        }
        (void)isSelectedForMode(entry, PatchMode::Update);
        (void)isSelectedForMode(entry, PatchMode::ResetIni);
    }
    return 0;
}
