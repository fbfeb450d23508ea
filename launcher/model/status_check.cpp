#include "model/status_check.h"

#include "catalog/version_text.h"
#include "net/http_client.h"
#include "patch/disk_space_check.h"
#include "patch/update_size.h"

namespace mendly {

EntryCheck checkEntryStatus(const StatusCheckJob& job) {
    EntryCheck check;
    if (!job.installed) return check;
    check.asked = true;
    std::u16string local;
    (void)readLocalVersion(job.installFolder, local);  // a missing file leaves it empty
    std::string body;
    if (!httpGet(job.versionUrl, body, check.failure, smallDocumentRequest())) {
        if (check.failure.empty()) check.failure = kVersionUnavailable;
        return check;
    }
    check.failure.clear();
    check.status = entryStatusOf(local, cleanVersionText(body));
    return check;
}

VersionFetch fetchVersionText(const std::u16string& versionUrl) {
    VersionFetch fetch{std::u16string(kVersionUnavailable), VersionShown::Unavailable, {}};
    std::string body;
    if (!httpGet(versionUrl, body, fetch.failure, smallDocumentRequest())) {
        // The sentence is what the page shows; a client that gave none still failed.
        if (fetch.failure.empty()) fetch.failure = kVersionUnavailable;
        return fetch;
    }
    fetch.failure.clear();
    fetch.text = formatServerVersion(body);
    fetch.shown = fetch.text == kVersionNone ? VersionShown::None : VersionShown::Known;
    return fetch;
}

std::u16string nextRunSizeText(const VersionFetchJob& job) {
    PatchManifest manifest;
    std::u16string error;
    if (job.manifestUrl.empty() || !fetchManifestForSize(job.manifestUrl, job.trust, kSizeFetchTime, manifest, error))
        return {};
    const auto bytes = nextRunBytes(manifest, job.installFolder, job.sizeMode);
    return bytes ? formatDiskSize(*bytes) : std::u16string();
}

}  // namespace mendly
