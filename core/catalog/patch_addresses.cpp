#include "catalog/patch_addresses.h"

#include "log/text.h"

namespace mendly {

std::u16string trimServerBase(const ServerEntry& entry) {
    std::u16string base = toWide(entry.patchBaseUrl);
    while (!base.empty() && isWideSpace(base.back())) base.pop_back();
    while (!base.empty() && (base.back() == u'/' || base.back() == u'\\')) base.pop_back();
    return base;
}

std::u16string versionUrl(const ServerEntry& entry) {
    return trimServerBase(entry) + u"/" + toWide(entry.server) + u"/_version._";
}

std::u16string manifestUrl(const ServerEntry& entry) {
    return trimServerBase(entry) + u"/" + toWide(entry.server) + u".manifest";
}

std::u16string filesBaseUrl(const ServerEntry& entry) {
    return trimServerBase(entry) + u"/" + toWide(entry.server) + u"/";
}

}  // namespace mendly
