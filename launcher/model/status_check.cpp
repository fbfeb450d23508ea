#include "model/status_check.h"

#include "catalog/version_text.h"
#include "net/http_client.h"

namespace mendly {

EntryStatus checkEntryStatus(const StatusCheckJob& job) {
    if (!job.installed) return kStatusUndetermined;
    std::u16string local;
    (void)readLocalVersion(job.installFolder, local);  // a missing file leaves it empty
    std::string body;
    std::u16string error;
    if (!httpGet(job.versionUrl, body, error, smallDocumentRequest())) return kStatusUndetermined;
    return entryStatusOf(local, cleanVersionText(body));
}

std::u16string fetchVersionText(const std::u16string& versionUrl) {
    std::string body;
    std::u16string error;
    if (!httpGet(versionUrl, body, error, smallDocumentRequest())) return kVersionUnavailable;
    return formatServerVersion(body);
}

}  // namespace mendly
