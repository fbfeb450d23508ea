#include "patch/delta_download.h"

#include "hash/digest.h"
#include "log/text.h"
#include "net/http_client.h"
#include "patch/cancel_flag.h"
#include "patch/delta_rebuild.h"

namespace mendly {

std::uint64_t deltaMemoryNeed(const ManifestEntry& entry, const DeltaChoice& choice) {
    // The content is held twice while it is staged (as rebuilt, and in the
    // staging writer's buffer for a member).
    return choice.delta.size + 2 * entry.size.value_or(0) + choice.baseInMemory;
}

bool fetchDelta(const ManifestDelta& delta, HostPool& hosts, TransferRateLimit* rateLimit, std::string& bytes,
                DeltaAttempt& attempt) {
    const auto host = hosts.pick(std::vector<bool>(hosts.size(), false));
    if (!host) {
        attempt.why = u"no host left";
        return false;
    }
    ManifestEntry address(delta.path, {});
    address.served = delta.path;
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(delta.size));
    const HttpBodySink sink = [&](std::string_view piece, std::u16string&) {
        attempt.fetched += piece.size();
        if (bytes.size() + piece.size() > delta.size) return false;
        bytes.append(piece);
        return true;
    };
    HttpRequestOptions options;
    options.cancel = &patchCancelFlag();
    options.rateLimit = rateLimit;
    std::u16string error;
    if (!httpGetStream(fileUrl(hosts.addresses(*host).filesBaseUrl, address), sink, error, options)) {
        attempt.why = bytes.size() >= delta.size ? u"the delta is longer than listed" : u"the delta did not arrive";
        return false;
    }
    if (bytes.size() != delta.size || !equalsIgnoreAsciiCase(sha256Hex(bytes), delta.sha256)) {
        attempt.why = u"the delta is not the one listed";
        return false;
    }
    return true;
}

void noteRebuild(RebuildOutcome outcome, DeltaAttempt& attempt) {
    switch (outcome) {
        case RebuildOutcome::Rebuilt: attempt.rebuilt = true; break;
        case RebuildOutcome::NoBase: attempt.why = u"the installed content cannot be read"; break;
        case RebuildOutcome::BadDelta: attempt.why = u"the delta does not apply to the installed content"; break;
    }
}

}  // namespace mendly
