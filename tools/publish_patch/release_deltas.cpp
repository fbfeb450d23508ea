#include "release_deltas.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <system_error>

#include "catalog/file_bytes.h"
#include "hash/digest.h"
#include "patch/vfile/delta_codec.h"
#include "work_pool.h"

namespace mendly::publish {
namespace {

namespace fs = std::filesystem;

fs::path releasesFolder(const fs::path& hostRoot, const std::string& server) {
    return hostRoot / ("." + server + ".releases");
}

std::optional<std::string> readWhole(const fs::path& path) {
    std::string bytes;
    if (readFileBytes(path, bytes) != FileRead::Read) return std::nullopt;
    return bytes;
}

// The kept manifests by release, oldest first.
std::map<std::uint64_t, fs::path> keptManifests(const fs::path& hostRoot, const std::string& server) {
    std::map<std::uint64_t, fs::path> kept;
    std::error_code ec;
    for (fs::directory_iterator it(releasesFolder(hostRoot, server), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string stem = it->path().stem().string();
        if (it->path().extension() != ".manifest" || stem.empty() || stem.size() > 18 ||
            stem.find_first_not_of("0123456789") != std::string::npos)
            continue;
        kept.emplace(std::stoull(stem), it->path());
    }
    return kept;
}

// The bases a file may be rebuilt from: what each release served at its
// path, when that differs from the new content (one per content).
std::vector<const ManifestEntry*> basesFor(const ServedFile& file, const std::vector<PatchManifest>& releases) {
    std::vector<const ManifestEntry*> bases;
    for (const PatchManifest& release : releases)
        for (const ManifestEntry& entry : release.files) {
            if (entry.relative != file.relative || entry.sha256.empty() || entry.served.empty() ||
                entry.sha256 == file.sha256)
                continue;
            const auto same = [&](const ManifestEntry* other) { return other->sha256 == entry.sha256; };
            if (std::none_of(bases.begin(), bases.end(), same)) bases.push_back(&entry);
        }
    return bases;
}

// The delta from `base` to the staged file, when it is worth listing.
struct DeltaWork {
    const fs::path& staging;  // empty: write nothing
    const fs::path& folder;
};

bool deltaFor(const DeltaWork& work, const ServedFile& file, const ManifestEntry& base, std::string_view target,
              std::optional<ManifestDelta>& out, std::string& error) {
    out.reset();
    ManifestDelta delta{base.sha256, deltaPathFor(base.sha256, file.sha256), 0, {}};
    std::string bytes;
    if (const auto existing = readWhole(work.folder / delta.path)) {
        bytes = *existing;  // made by an earlier publication: it never changes
    } else {
        const auto old = readWhole(work.folder / base.served);
        if (!old || old->size() + target.size() > kLargestDeltaWork || sha256Hex(*old) != base.sha256) return true;
        auto made = vfile::makeDelta(*old, target);
        if (!made) return true;
        bytes = std::move(*made);
        if (!work.staging.empty() && static_cast<double>(bytes.size()) < kDeltaShare * static_cast<double>(file.size)) {
            const fs::path path = work.staging / delta.path;
            std::error_code ec;
            fs::create_directories(path.parent_path(), ec);
            if (platform::replaceWholeFile(path, bytes) != platform::FileWrite::Written) {
                error = "Cannot write the delta " + path.string();
                return false;
            }
        }
    }
    if (static_cast<double>(bytes.size()) >= kDeltaShare * static_cast<double>(file.size)) return true;
    delta.size = bytes.size();
    delta.sha256 = sha256Hex(bytes);
    out = std::move(delta);
    return true;
}

}  // namespace

std::string deltaPathFor(std::string_view from, std::string_view to) {
    return std::string(kDeltaFolder) + "/" + std::string(from) + "-" + std::string(to);
}

std::vector<PatchManifest> recentReleases(const fs::path& hostRoot, const std::string& server,
                                          const std::optional<PatchManifest>& servedNow, unsigned count) {
    std::vector<PatchManifest> releases;
    if (count == 0) return releases;
    if (servedNow) releases.push_back(*servedNow);
    const auto kept = keptManifests(hostRoot, server);
    for (auto it = kept.rbegin(); it != kept.rend() && releases.size() < count; ++it) {
        if (servedNow && servedNow->release == it->first) continue;  // the one served now
        const auto bytes = readWhole(it->second);
        PatchManifest manifest;
        std::u16string ignored;
        if (bytes && parseManifest(*bytes, manifest, ignored)) releases.push_back(std::move(manifest));
    }
    return releases;
}

void rememberRelease(const fs::path& hostRoot, const std::string& server, std::uint64_t release,
                     std::string_view manifestText, unsigned keep) {
    const fs::path folder = releasesFolder(hostRoot, server);
    std::error_code ec;
    if (keep == 0) {
        fs::remove_all(folder, ec);
        return;
    }
    fs::create_directories(folder, ec);
    (void)platform::replaceWholeFile(folder / (std::to_string(release) + ".manifest"), manifestText);
    auto kept = keptManifests(hostRoot, server);
    while (kept.size() > keep) {
        fs::remove(kept.begin()->second, ec);
        kept.erase(kept.begin());
    }
}

bool makeReleaseDeltas(const fs::path& staging, const fs::path& folder, const std::vector<PatchManifest>& releases,
                       std::vector<ServedFile>& files, unsigned threads, const ContentReader& read,
                       DeltaSummary& summary, std::string& error) {
    summary = {};
    if (releases.empty() || !vfile::deltaCodecAvailable()) return true;
    const auto started = std::chrono::steady_clock::now();
    const DeltaWork work{staging, folder};
    std::mutex summaryMutex;  // guards `summary`
    const bool ok = forEachItem(
        files.size(), threads,
        [&](std::size_t i, std::string& message) {
            ServedFile& file = files[i];
            if (file.kind == ServedFile::Kind::Payload) return true;
            const auto bases = basesFor(file, releases);
            if (bases.empty()) return true;
            const auto target = read(file);
            if (!target) return true;
            for (const ManifestEntry* base : bases) {
                std::optional<ManifestDelta> delta;
                if (!deltaFor(work, file, *base, *target, delta, message)) return false;
                if (delta) file.deltas.push_back(std::move(*delta));
            }
            if (file.deltas.empty()) return true;
            std::lock_guard lock(summaryMutex);
            ++summary.files;
            for (const ManifestDelta& delta : file.deltas) {
                ++summary.deltas;
                summary.deltaBytes += delta.size;
                summary.changedBytes += file.size;
            }
            return true;
        },
        error);
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return ok;
}

std::vector<BehindCost> costsBehind(const std::vector<PatchManifest>& releases, const std::vector<ServedFile>& files) {
    std::vector<BehindCost> costs;
    for (const PatchManifest& release : releases) {
        std::map<std::string_view, std::string_view> before;  // relative -> sha256
        for (const ManifestEntry& entry : release.files) before[entry.relative] = entry.sha256;
        BehindCost cost;
        for (const ServedFile& file : files) {
            const auto was = before.find(file.relative);
            if (was != before.end() && was->second == file.sha256) continue;
            ++cost.files;
            cost.wholeBytes += file.size;
            const auto delta = was == before.end() ? file.deltas.end()
                                                    : std::find_if(file.deltas.begin(), file.deltas.end(),
                                                                   [&](const ManifestDelta& d) { return d.from == was->second; });
            cost.withDeltas += delta == file.deltas.end() ? file.size : delta->size;
        }
        costs.push_back(cost);
    }
    return costs;
}

void keepReleaseCopies(const std::vector<PatchManifest>& releases, std::set<std::string>& keep) {
    for (const PatchManifest& release : releases)
        for (const ManifestEntry& entry : release.files)
            if (!entry.served.empty()) keep.insert(entry.served);
}

void keepListedDeltas(const PatchManifest& manifest, std::set<std::string>& keep) {
    for (const ManifestEntry& entry : manifest.files)
        for (const ManifestDelta& delta : entry.deltas) keep.insert(delta.path);
}

}  // namespace mendly::publish
