#include "patch/verify_stage.h"

#include <algorithm>
#include <system_error>

#include "patch/archive_cache.h"
#include "patch/cancel_flag.h"
#include "patch/local_verification.h"
#include "patch/patch_reporting.h"

namespace mendly {
namespace fs = std::filesystem;

VerifiedState verifyEntries(PatchWindow* window, const PatchManifest& manifest,
                            const std::vector<std::size_t>& selected, const fs::path& installDir,
                            const InstallRecord* record, HolderStamps& stamps, PatchMode mode) {
    reportStage(window, PatchStage::Verify);
    reportProgress(window, 0, progressCount(std::max<std::size_t>(1, selected.size())));
    VerifiedState state;
    ArchiveCache cache;
    VerificationResult result = verifyLocalFiles(manifest, selected, installDir, window, cache, record, stamps);
    state.list = std::move(result.needPatching);
    state.fromRecord = result.fromRecord;
    std::sort(state.list.begin(), state.list.end(),
              [&](std::size_t a, std::size_t b) { return manifest.files[a].relative < manifest.files[b].relative; });
    if (mode != PatchMode::ResetIni && !isPatchCancelRequested())
        findOrphanEntries(installDir, buildManifestMemberSet(manifest), cache, state.orphans);
    return state;
}

std::future<std::optional<InstallRecord>> startRecordLoad(const fs::path& installDir, PatchMode mode) {
    if (mode != PatchMode::Update) return {};
    const auto load = [installDir] { return InstallRecord::load(installDir); };
    try {
        return std::async(std::launch::async, load);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, load);  // no thread to be had: read it when needed
    }
}

}  // namespace mendly
