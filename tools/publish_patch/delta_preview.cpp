#include "delta_preview.h"

#include <map>

#include "catalog/file_bytes.h"
#include "client_inventory.h"
#include "preview_report.h"
#include "release_deltas.h"

namespace mendly::publish {
namespace {

std::optional<std::string> readWhole(const std::filesystem::path& path) {
    std::string bytes;
    if (readFileBytes(path, bytes) != FileRead::Read) return std::nullopt;
    return bytes;
}

}  // namespace

bool previewDeltaCosts(const std::filesystem::path& clientFolder, const std::filesystem::path& hostRoot,
                       const std::string& server, const std::optional<PatchManifest>& servedNow,
                       std::vector<ServedFile> files, const PublishOptions& options, std::string& report,
                       std::string& error) {
    report.clear();
    const auto releases = recentReleases(hostRoot, server, servedNow, options.deltasFrom);
    if (releases.empty()) return true;
    std::vector<ClientItem> items;
    if (!collectClientItems(clientFolder, items, error)) return false;
    std::map<std::string, const ClientItem*> byPath;
    for (const ClientItem& item : items) byPath.emplace(item.relative, &item);
    // Loose files and plain members are served as their content.
    const ContentReader read = [&byPath](const ServedFile& file) -> std::optional<std::string> {
        const auto found = byPath.find(file.relative);
        if (found == byPath.end()) return std::nullopt;
        const ClientItem& item = *found->second;
        return item.archive ? item.archive->readEntry(item.memberKey) : readWhole(item.source);
    };
    DeltaSummary summary;
    if (!makeReleaseDeltas({}, hostRoot / server, releases, files, options.threads, read, summary, error))
        return false;
    const auto costs = costsBehind(releases, files);
    for (std::size_t k = 0; k < costs.size(); ++k)
        report += "Behind by " + std::to_string(k + 1) + (k == 0 ? " release: " : " releases: ") +
                  std::to_string(costs[k].files) + (costs[k].files == 1 ? " file, " : " files, ") +
                  humanSize(costs[k].wholeBytes) + " whole, " + humanSize(costs[k].withDeltas) + " with deltas\n";
    return true;
}

}  // namespace mendly::publish
