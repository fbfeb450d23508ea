#pragma once
// Deltas against the releases a host served before: a player a release or
// a few behind fetches, for each file that changed, the bytes that turn the
// content installed into the new content, not the whole file.
//
// The manifests of the last releases are kept in hostRoot/.S.releases/
// (<release>.manifest, the newest `keep`), and their files' copies stay in
// S/by-sha256/ while a kept manifest names them, as the bases later deltas
// are made from. A delta is the zstd frame of vfile/delta_codec.h at
//   S/by-sha256/deltas/<SHA-256 of the base>-<SHA-256 of the new content>
// which never changes once written (its name says what it joins), and is
// listed under the entry's "deltas" only while it is smaller than
// kDeltaShare of the whole file.
//
// Runs on the calling thread with its own workers, joined before it returns.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "patch/manifest.h"
#include "publish.h"

namespace mendly::publish {

inline constexpr std::string_view kDeltaFolder = "by-sha256/deltas";
// A delta is listed when it is under this share of the file it replaces:
// a larger one saves too little to be worth rebuilding from.
inline constexpr double kDeltaShare = 0.5;
// Files whose base and new content together pass this are sent whole: the
// codec holds both in memory while it works.
inline constexpr std::uint64_t kLargestDeltaWork = 512ull << 20;

// "by-sha256/deltas/<from>-<to>".
std::string deltaPathFor(std::string_view from, std::string_view to);

// The releases a delta may start from, newest first, at most `count`: the
// manifest served now (when there is one), then the kept ones before it.
std::vector<PatchManifest> recentReleases(const std::filesystem::path& hostRoot, const std::string& server,
                                          const std::optional<PatchManifest>& servedNow, unsigned count);

// Keeps `manifestText` as release `release`, and of the kept manifests only
// the newest `keep`. Failures are ignored: the next publication makes fewer
// deltas, nothing worse.
void rememberRelease(const std::filesystem::path& hostRoot, const std::string& server, std::uint64_t release,
                     std::string_view manifestText, unsigned keep);

// The bytes a file is served with; nothing when they cannot be read.
using ContentReader = std::function<std::optional<std::string>(const ServedFile&)>;

// For every loose file and plain member of `files` whose content (as `read`
// gives it) differs from what one of `releases` served at the same path
// (read at folder/<served>), makes the delta from that content, writes it to
// staging/<deltaPathFor> unless `folder` holds it already (nowhere when
// `staging` is empty: a preview), and lists it in the file's `deltas` when
// small enough. Payloads are sent whole. False with a sentence when a delta
// cannot be written; contents that cannot be read simply get no delta.
[[nodiscard]] bool makeReleaseDeltas(const std::filesystem::path& staging, const std::filesystem::path& folder,
                                     const std::vector<PatchManifest>& releases, std::vector<ServedFile>& files,
                                     unsigned threads, const ContentReader& read, DeltaSummary& summary,
                                     std::string& error);

// What a player behind by 1, 2, ... releases (releases[0], releases[1], ...)
// fetches of `files` (with their deltas made): whole, and with deltas.
struct BehindCost {
    std::uint64_t files = 0;  // added or changed since that release
    std::uint64_t wholeBytes = 0;
    std::uint64_t withDeltas = 0;
};
std::vector<BehindCost> costsBehind(const std::vector<PatchManifest>& releases, const std::vector<ServedFile>& files);

// Adds to `keep` the copies the kept releases need as bases and the deltas
// `manifest` lists.
void keepReleaseCopies(const std::vector<PatchManifest>& releases, std::set<std::string>& keep);
void keepListedDeltas(const PatchManifest& manifest, std::set<std::string>& keep);

}  // namespace mendly::publish
