#pragma once
// For --preview: what players one, two, ... releases behind would fetch of
// the release, whole and with the deltas it would get (made in memory from
// the client and the host's kept releases; nothing is written).
//
// Runs on the calling thread with the publisher's workers.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "publish.h"

namespace mendly::publish {

// One line per kept release ("Behind by 1 release: 43 files, 18.2 MiB whole, 0.4 MiB with deltas"),
// or nothing when no release is kept or `options.deltasFrom` is 0. False
// with a sentence when the client cannot be read.
[[nodiscard]] bool previewDeltaCosts(const std::filesystem::path& clientFolder, const std::filesystem::path& hostRoot,
                                     const std::string& server, const std::optional<PatchManifest>& servedNow,
                                     std::vector<ServedFile> files, const PublishOptions& options,
                                     std::string& report, std::string& error);

}  // namespace mendly::publish
