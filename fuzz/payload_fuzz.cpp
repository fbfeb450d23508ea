// Single-file payload parsing and decoding on arbitrary bytes: both must agree
// with each other and with building the payload again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "patch/vfile/single_file_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view payload(reinterpret_cast<const char*>(data), size);
    const auto stored = mendly::vfile::parseSingleFilePayload(payload);
    const auto contents = mendly::vfile::decodeSingleFilePayload(payload);
    if (contents && !stored) std::abort();
    if (contents && contents->size() != stored->originalSize) std::abort();
    if (stored) {
        if (stored->bytes.size() + 16 != size) std::abort();
        const auto rebuilt = mendly::vfile::buildSingleFilePayload(*stored);
        if (stored->originalSize != 0 && (!rebuilt || *rebuilt != payload)) std::abort();
    }
    return 0;
}
