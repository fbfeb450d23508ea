#include "patch/update_size.h"

#include <chrono>

#include "net/http_client.h"
#include "patch/holder_stamps.h"
#include "patch/manifest_policy.h"
#include "patch/run_summary.h"
#include "patch/staging_area.h"
#include "platform/file_stamp.h"
#include "trust/signed_fetch.h"

namespace mendly {

std::vector<std::size_t> entriesNotVouched(const PatchManifest& manifest, const std::filesystem::path& installDir,
                                           const InstallRecord* record) {
    std::vector<std::size_t> needed;
    for (std::size_t i = 0; i < manifest.files.size(); ++i) {
        const ManifestEntry& entry = manifest.files[i];
        if (!isSelectedForMode(entry, PatchMode::Update)) continue;
        if (record != nullptr) {
            const EntryHolder holder = holderFor(installDir, entry);
            const auto stamp = platform::fileStamp(holder.path);
            if (stamp && record->vouchedEntry(entry.relative, entry.md5, entry.sha256, *stamp) != nullptr) continue;
        }
        needed.push_back(i);
    }
    return needed;
}

std::optional<std::uint64_t> nextRunBytes(const PatchManifest& manifest, const std::filesystem::path& installDir,
                                          PatchMode mode) {
    std::vector<std::size_t> list;
    if (mode == PatchMode::Update) {
        const std::optional<InstallRecord> record = InstallRecord::load(installDir);
        list = entriesNotVouched(manifest, installDir, record ? &*record : nullptr);
    } else {
        for (std::size_t i = 0; i < manifest.files.size(); ++i) list.push_back(i);
    }
    return planDownload(manifest, list, StagingArea(installDir)).bytes;
}

bool fetchManifestForSize(const std::u16string& manifestUrl, const TrustedKeys& trust,
                          std::chrono::seconds timeLimit, PatchManifest& manifest, std::u16string& error) {
    if (trust.required && trust.keys.empty()) {
        error = manifestSignatureSentence(SignatureFault::UntrustedKey);
        return false;
    }
    HttpRequestOptions options;
    options.deadline = std::chrono::steady_clock::now() + timeLimit;
    std::string bytes;
    if (!httpGet(manifestUrl, bytes, error, options)) return false;
    if (const auto check = checkServedSignature(manifestUrl, bytes, trust, options); check != SignatureCheck::Valid) {
        error = manifestSignatureSentence(diagnoseSignatureFailure(bytes, check, trust));
        return false;
    }
    return parseManifest(bytes, manifest, error);
}

}  // namespace mendly
