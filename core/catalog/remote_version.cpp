#include "catalog/remote_version.h"

#include "catalog/patch_addresses.h"
#include "catalog/version_text.h"
#include "log/log_file.h"
#include "net/http_client.h"

namespace mendly {

std::u16string fetchRemoteVersion(const ServerEntry& entry) {
    const std::u16string url = versionUrl(entry);
    std::string body;
    std::u16string error;
    if (httpGet(url, body, error, smallDocumentRequest())) {
        if (body.empty()) return {};
        return cleanVersionText(body);
    }
    if (error.empty()) error = u"version download failed";
    LogFile::write(u"ERROR: " + url + u" \u2014 " + error);
    return {};
}

}  // namespace mendly
