#pragma once
// What one background patch run is started with (PageHost::startPatch, the
// patch worker of tasks/patch_worker.h): the worker owns its copy.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "patch/patch_run.h"

namespace mendly {

struct PatchStart {
    std::u16string manifestUrl;
    std::u16string filesBaseUrl;
    std::filesystem::path installFolder;
    PatchMode mode = PatchMode::Update;
    TrustedKeys manifestTrust;  // who must have signed the manifest
    std::uint64_t rateLimit = 0;  // bytes per second for the whole run; 0: none
    std::vector<PatchHostAddresses> mirrors{};  // the entry's further hosts (PatchRunOptions::mirrors)
    std::u16string serverName{};              // the entry's display name, named in failures' context lines
};

}  // namespace mendly
