#include "patch/select_stage.h"

#include "log/text.h"
#include "patch/manifest.h"
#include "patch/patch_reporting.h"

namespace mendly {

std::vector<std::size_t> selectEntries(PatchWindow* window, const PatchManifest& manifest, PatchMode mode) {
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < manifest.files.size(); ++i)
        if (isSelectedForMode(manifest.files[i], mode)) selected.push_back(i);
    const std::size_t skipped = manifest.files.size() - selected.size();
    if ((mode == PatchMode::Update || mode == PatchMode::Verify) && skipped > 0)
        reportStatus(window, u"Skipping " + toDecimal(static_cast<long long>(skipped)) +
                                 u" user ini file(s) (keeping ini/updater.ini and ini/hash.ini)");
    return selected;
}

}  // namespace mendly
