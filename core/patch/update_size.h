#pragma once
// What the next run of an installation would download, judged without
// reading any file's contents: for a fresh install the manifest's total, for
// an update every entry the installation's record does not vouch for (its
// holder's stamp and the digests the manifest names now), less what is
// already staged. A launcher shows it on its button before a run starts.
//
// Runs on the calling thread; only stamps files and reads the record and the
// staging folder, so it is cheap beside hashing and safe beside a run in
// another process (the answer may then be out of date, never harmful).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "patch/install_record.h"
#include "patch/manifest.h"
#include "patch/patch_mode.h"
#include "trust/trusted_keys.h"

namespace mendly {

// The manifest entries an Update run of `installDir` would fetch unless
// hashing finds them in place: the selected entries (isSelectedForMode) that
// `record` does not vouch for. Every selected entry when `record` is null.
std::vector<std::size_t> entriesNotVouched(const PatchManifest& manifest, const std::filesystem::path& installDir,
                                           const InstallRecord* record);

// Bytes an Install (`mode` Install: every entry) or Update run would fetch,
// staged files from an earlier run not counted; nothing when an entry to
// fetch has no declared size.
std::optional<std::uint64_t> nextRunBytes(const PatchManifest& manifest, const std::filesystem::path& installDir,
                                          PatchMode mode);

// The manifest at `manifestUrl` as a run would take it (signature when
// `trust` asks for one, the document's form), without touching any
// installation; false with the HTTP client's or parser's sentence. Blocks
// for at most `timeLimit`.
bool fetchManifestForSize(const std::u16string& manifestUrl, const TrustedKeys& trust,
                          std::chrono::seconds timeLimit, PatchManifest& manifest, std::u16string& error);

}  // namespace mendly
