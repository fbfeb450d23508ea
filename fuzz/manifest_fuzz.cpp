// parseManifest on arbitrary bytes: it must never crash, hang or throw, must
// fail with a "manifest parse: " sentence, and every document it accepts must
// only hold paths that the path rules can use safely, in canonical form, each
// file named once. Whenever the plain reader takes a document, the JSON
// library reads the same manifest from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>

#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/manifest.h"
#include "patch/manifest_collisions.h"
#include "patch/manifest_document.h"
#include "patch/manifest_path_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mendly;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    PatchManifest plain, library;
    if (readPlainManifest(bytes, plain)) {
        try {
            readManifestDocument(bytes, library);
        } catch (...) {
            std::abort();
        }
        if (plain.files.size() != library.files.size()) std::abort();
        for (std::size_t i = 0; i < plain.files.size(); ++i) {
            const ManifestEntry &a = plain.files[i], &b = library.files[i];
            if (std::tie(a.relative, a.md5, a.sha256, a.size, a.served, a.deltas) !=
                std::tie(b.relative, b.md5, b.sha256, b.size, b.served, b.deltas))
                std::abort();
        }
        if (std::tie(plain.generated, plain.release, plain.expires, plain.server) !=
            std::tie(library.generated, library.release, library.expires, library.server))
            std::abort();
    }
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
