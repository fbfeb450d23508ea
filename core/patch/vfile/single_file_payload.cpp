#include "patch/vfile/single_file_payload.h"

#include <algorithm>

#include "patch/vfile/byte_order.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/format.h"

namespace mendly::vfile {
namespace {

bool hasPayloadMagic(std::string_view payload) {
    return std::equal(kPayloadMagic.begin(), kPayloadMagic.end(), payload.begin(),
                      [](unsigned char m, char b) { return m == static_cast<unsigned char>(b); });
}

// The header's originalSize and the body, or nothing.
struct PayloadView {
    std::uint32_t originalSize;
    std::string_view body;
};

std::optional<PayloadView> splitPayload(std::string_view payload) {
    if (payload.size() <= kPayloadHeaderSize || !hasPayloadMagic(payload)) return std::nullopt;
    return PayloadView{readLe32(payload, kPayloadMagic.size()), payload.substr(kPayloadHeaderSize)};
}

}  // namespace

std::optional<StoredEntry> parseSingleFilePayload(std::string_view payload) {
    const auto view = splitPayload(payload);
    if (!view) return std::nullopt;
    return StoredEntry{std::string(view->body), view->originalSize};
}

std::optional<std::string> decodeSingleFilePayload(std::string_view payload) {
    const auto view = splitPayload(payload);
    if (!view) return std::nullopt;
    return inflateExactly(view->body, view->originalSize);
}

std::string singleFilePayloadHeader(std::uint32_t originalSize) {
    std::string out;
    out.append(reinterpret_cast<const char*>(kPayloadMagic.data()), kPayloadMagic.size());
    appendLe32(out, originalSize);
    return out;
}

std::optional<std::string> buildSingleFilePayload(const StoredEntry& stored) {
    if (stored.bytes.empty() || stored.originalSize == 0) return std::nullopt;
    std::string out;
    out.reserve(kPayloadHeaderSize + stored.bytes.size());
    out = singleFilePayloadHeader(stored.originalSize);
    out += stored.bytes;
    return out;
}

}  // namespace mendly::vfile
