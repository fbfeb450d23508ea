#include "catalog/patch_addresses.h"

#include <algorithm>

#include "log/text.h"

namespace mendly {
namespace {

std::u16string trimBase(std::string_view text) {
    std::u16string base = toWide(text);
    while (!base.empty() && isWideSpace(base.back())) base.pop_back();
    while (!base.empty() && (base.back() == u'/' || base.back() == u'\\')) base.pop_back();
    return base;
}

PatchHostAddresses addressesOn(const std::u16string& base, const ServerEntry& entry) {
    const std::u16string server = toWide(entry.server);
    return {base + u"/" + server + u".manifest", base + u"/" + server + u"/"};
}

}  // namespace

std::u16string trimServerBase(const ServerEntry& entry) { return trimBase(entry.patchBaseUrl); }

std::u16string versionUrl(const ServerEntry& entry) {
    return trimServerBase(entry) + u"/" + toWide(entry.server) + u"/_version._";
}

std::u16string manifestUrl(const ServerEntry& entry) {
    return trimServerBase(entry) + u"/" + toWide(entry.server) + u".manifest";
}

std::u16string filesBaseUrl(const ServerEntry& entry) {
    return trimServerBase(entry) + u"/" + toWide(entry.server) + u"/";
}

std::vector<PatchHostAddresses> mirrorAddresses(const ServerEntry& entry) {
    std::vector<std::u16string> bases{trimServerBase(entry)};
    std::vector<PatchHostAddresses> out;
    for (const std::string& mirror : entry.mirrors) {
        std::u16string base = trimBase(mirror);
        if (base.empty() || std::find(bases.begin(), bases.end(), base) != bases.end()) continue;
        out.push_back(addressesOn(base, entry));
        bases.push_back(std::move(base));
    }
    return out;
}

}  // namespace mendly
