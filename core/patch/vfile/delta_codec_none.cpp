#include "patch/vfile/delta_codec.h"

namespace mendly::vfile {

bool deltaCodecAvailable() { return false; }

std::optional<std::string> makeDelta(std::string_view, std::string_view, int) { return std::nullopt; }

DeltaOutcome applyDelta(std::string_view, std::string_view, char*, std::uint64_t) {
    return DeltaOutcome::Unavailable;
}

}  // namespace mendly::vfile
