#pragma once
// Binary deltas: the bytes that turn one version of a file's content (the
// base) into the next (the target), as a zstd frame that references the base
// as its prefix, with long-distance matching so that matches anywhere in a
// large base are found. Publishers make them; clients rebuild the target from
// the content they have installed and the delta, then check the result by
// the entry's digests like any download.
//
// The Windows build has no zstd: there deltaCodecAvailable() is false, and
// clients fetch whole files.
//
// Thread-safe: every call may run on any thread (each thread keeps its own
// decompression context).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mendly::vfile {

// The level deltas are made at when the caller names none.
inline constexpr int kDeltaLevel = 9;

bool deltaCodecAvailable();

// A delta that turns `base` into `target`; nothing when none can be made
// (no codec, or the content is larger than the codec's window allows).
std::optional<std::string> makeDelta(std::string_view base, std::string_view target, int level = kDeltaLevel);

enum class DeltaOutcome {
    Rebuilt,      // `out` holds exactly `targetSize` bytes
    Corrupt,      // not a delta, cut short, for another base, or asking for too large a window
    WrongLength,  // a well-formed delta whose result is not `targetSize` bytes
    Unavailable,  // no codec in this build
};

// Rebuilds the target of `delta` from `base` into `out`, which must have room
// for `targetSize` bytes (a mapped file or a buffer: nothing beyond the
// codec's own tables is allocated). `out` is undefined unless Rebuilt.
DeltaOutcome applyDelta(std::string_view base, std::string_view delta, char* out, std::uint64_t targetSize);

}  // namespace mendly::vfile
