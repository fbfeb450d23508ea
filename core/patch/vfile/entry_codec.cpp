#include "patch/vfile/entry_codec.h"

#include <libdeflate.h>

#include <memory>

#include "patch/vfile/format.h"

namespace mendly::vfile {
namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The calling thread's compressor and decompressor (each holds tables of a few
// hundred KiB, too costly to build per entry). Null when allocation failed.
libdeflate_compressor* threadCompressor() {
    thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(kCompressionLevel));
    return compressor.get();
}

libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

// The stream of `contents` into `out`, at most `limit` bytes; 0 when it does
// not fit (or the compressor is missing).
std::size_t compressInto(std::string_view contents, std::string& out, std::size_t limit) {
    libdeflate_compressor* compressor = threadCompressor();
    if (compressor == nullptr) return 0;
    out.resize(limit);
    return libdeflate_zlib_compress(compressor, contents.data(), contents.size(), out.data(), limit);
}

// Data that does not compress (already-compressed textures, sounds, random
// bytes) costs a full compression attempt to find out. A probe of its start
// decides for large contents: when the first kProbeSize bytes do not shrink
// by at least 1/32, the whole is stored raw, which is always valid.
constexpr std::size_t kProbeSize = 64u << 10;

bool probeSaysIncompressible(std::string_view contents, std::string& scratch) {
    if (contents.size() < 4 * kProbeSize) return false;
    const std::size_t limit = kProbeSize - kProbeSize / 32;
    return compressInto(contents.substr(0, kProbeSize), scratch, limit) == 0;
}

}  // namespace

std::optional<std::string> zlibCompress(std::string_view contents) {
    if (contents.size() > kMaxStoredValue) return std::nullopt;
    libdeflate_compressor* compressor = threadCompressor();
    if (compressor == nullptr) return std::nullopt;
    std::string compressed;
    const std::size_t written =
        compressInto(contents, compressed, libdeflate_zlib_compress_bound(compressor, contents.size()));
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
    if (threadCompressor() == nullptr) return std::nullopt;
    if (compressShorterInto(contents, out.bytes))
        out.bytes.shrink_to_fit();
    else
        out.bytes.assign(contents);
    return out;
}

bool inflateExactlyInto(std::string_view stream, std::uint32_t originalSize, std::string& out) {
    if (stream.empty()) return false;
    if (static_cast<std::uint64_t>(originalSize) > kMaxInflateRatio * stream.size()) return false;
    libdeflate_decompressor* decompressor = threadDecompressor();
    if (decompressor == nullptr) return false;
    out.resize(originalSize);
    std::size_t consumed = 0;
    // With a null "actual out" the result must fill the buffer exactly.
    const libdeflate_result rc = libdeflate_zlib_decompress_ex(decompressor, stream.data(), stream.size(),
                                                               out.data(), originalSize, &consumed, nullptr);
    return rc == LIBDEFLATE_SUCCESS;
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
