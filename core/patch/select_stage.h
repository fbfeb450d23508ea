#pragma once
// The selection step of a patch run: which manifest entries the run's mode
// covers. Runs on the run's own thread.
#include <cstddef>
#include <vector>

#include "patch/manifest.h"
#include "patch/patch_mode.h"
#include "patch/patch_window.h"

namespace mendly {

// The indices `mode` covers, in manifest order. In Update and Verify mode,
// when INI files are left out, the status "Skipping N user ini file(s)
// (keeping ini/updater.ini and ini/hash.ini)".
std::vector<std::size_t> selectEntries(PatchWindow* window, const PatchManifest& manifest, PatchMode mode);

}  // namespace mendly
