#pragma once
// The client's version text against what it describes. A player's listing
// compares the version text the host serves (S/_version._) with the
// installed one, so a release that changes the client but keeps the text
// leaves every listing saying "Up To Date".
//
// Pure apart from reading the client's _version._; thread-safe.
#include <filesystem>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "publish.h"

namespace mendly::publish {

// True when the client's _version._ has the MD5 that `servedNow` lists for
// "_version._": the cheap first half of the check, before the client is read.
bool versionFileUnchanged(const std::filesystem::path& clientFolder, const PatchManifest& servedNow);

// Empty, or one sentence when `next` (as listServedFiles gives it) changes
// some file of `servedNow` (added, removed or other contents; a member that
// only switches to a payload of the same contents is no change) while
// "_version._" stays as it is.
std::string unchangedVersionProblem(const std::filesystem::path& clientFolder, const PatchManifest& servedNow,
                                    const std::vector<ServedFile>& next);

}  // namespace mendly::publish
