#pragma once
// The last step of a patch run: everything the run wrote must now verify
// against the manifest, or the run has not brought the client up to date and
// must not say it did.
//
// Runs on the caller's thread with its own workers (one per core), joined
// before it returns; reports no progress.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "patch/holder_stamps.h"
#include "patch/manifest.h"

namespace mendly {

// The first position of `list` (manifest indices, in the order given) whose
// entry does not verify now; nothing when every one does. With `stamps`,
// every holder is stamped there before it is first read.
std::optional<std::size_t> firstUnconvergedPosition(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                    const std::filesystem::path& installDir,
                                                    HolderStamps* stamps = nullptr);

}  // namespace mendly
