#include "patch/vfile/entry_codec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>

#include "patch/vfile/deflate_buffer.h"
#include "patch/vfile/format.h"

namespace mendly::vfile {
namespace {

// The stream of `contents` into `out`, at most `limit` bytes; 0 when it does
// not fit (or the compressor is missing).
std::size_t compressInto(std::string_view contents, std::string& out, std::size_t limit) {
    if (!deflate_buffer::compressorAvailable()) return 0;
    out.resize(limit);
    return deflate_buffer::compress(contents, out.data(), limit);
}

// Data that does not compress (already-compressed textures, sounds, random
// bytes) costs a full compression attempt to find out, and deflate is at its
// slowest on it (about a third of its speed on text). Two probes decide
// before that, and such contents are stored raw, which is always valid:
// - the bytes of a few samples spread over the contents: when they are close
//   to evenly spread (over kRandomBitsPerByte bits each), deflate's codes
//   have under 1/32 to gain, and its matches are rare in such data;
// - for large contents, a compression of the first kProbeSize bytes, which
//   must shrink by at least 1/32.
constexpr std::size_t kSampleSize = 4u << 10;
constexpr std::size_t kSamples = 4;
constexpr double kRandomBitsPerByte = 7.9;
constexpr std::size_t kProbeSize = 64u << 10;

// The entropy of the samples' bytes, in bits per byte, is over kRandomBitsPerByte.
bool samplesLookRandom(std::string_view contents) {
    if (contents.size() < 2 * kSampleSize) return false;  // compressing it costs little
    const std::size_t samples = std::min(kSamples, contents.size() / kSampleSize);
    const std::size_t stride = (contents.size() - kSampleSize) / (samples - 1);
    std::array<std::uint32_t, 256> counts{};
    for (std::size_t s = 0; s < samples; ++s)
        for (const char c : contents.substr(s * stride, kSampleSize)) ++counts[static_cast<unsigned char>(c)];
    const double total = static_cast<double>(samples * kSampleSize);
    double bits = 0;
    for (const std::uint32_t n : counts)
        if (n != 0) bits -= static_cast<double>(n) / total * std::log2(static_cast<double>(n) / total);
    return bits > kRandomBitsPerByte;
}

bool probeSaysIncompressible(std::string_view contents, std::string& scratch) {
    if (samplesLookRandom(contents)) return true;
    if (contents.size() < 4 * kProbeSize) return false;
    const std::size_t limit = kProbeSize - kProbeSize / 32;
    return compressInto(contents.substr(0, kProbeSize), scratch, limit) == 0;
}

}  // namespace

std::optional<std::string> zlibCompress(std::string_view contents) {
    if (contents.size() > kMaxStoredValue) return std::nullopt;
    if (!deflate_buffer::compressorAvailable()) return std::nullopt;
    std::string compressed;
    const std::size_t written = compressInto(contents, compressed, deflate_buffer::compressBound(contents.size()));
    if (written == 0) return std::nullopt;
    compressed.resize(written);
    compressed.shrink_to_fit();  // a run may hold many of these at once
    return compressed;
}

bool compressShorterInto(std::string_view contents, std::string& out) {
    if (contents.size() < 2 || contents.size() > kMaxStoredValue) return false;
    if (probeSaysIncompressible(contents, out)) return false;
    const std::size_t written = compressInto(contents, out, contents.size() - 1);
    if (written == 0) return false;
    out.resize(written);
    return true;
}

std::optional<StoredEntry> compressEntry(std::string_view contents) {
    if (contents.size() > kMaxStoredValue) return std::nullopt;
    StoredEntry out;
    out.originalSize = static_cast<std::uint32_t>(contents.size());
    if (contents.empty()) return out;
    if (!deflate_buffer::compressorAvailable()) return std::nullopt;
    if (compressShorterInto(contents, out.bytes))
        out.bytes.shrink_to_fit();
    else
        out.bytes.assign(contents);
    return out;
}

bool inflateExactlyInto(std::string_view stream, std::uint32_t originalSize, std::string& out) {
    if (stream.empty()) return false;
    if (static_cast<std::uint64_t>(originalSize) > kMaxInflateRatio * stream.size()) return false;
    out.resize(originalSize);
    return deflate_buffer::inflateExactly(stream, out.data(), originalSize);
}

std::optional<std::string> inflateExactly(std::string_view stream, std::uint32_t originalSize) {
    std::string out;
    if (!inflateExactlyInto(stream, originalSize, out)) return std::nullopt;
    return out;
}

std::optional<std::string> expandStoredEntry(std::string_view storedBytes, std::uint32_t originalSize) {
    if (storedBytes.size() == originalSize) return std::string(storedBytes);
    return inflateExactly(storedBytes, originalSize);
}

}  // namespace mendly::vfile
