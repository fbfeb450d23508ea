#include "patch/vfile/deflate_buffer.h"

#include <libdeflate.h>

#include <memory>

#include "patch/vfile/entry_codec.h"

namespace mendly::vfile::deflate_buffer {
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

}  // namespace

bool compressorAvailable() { return threadCompressor() != nullptr; }

std::size_t compressBound(std::size_t size) { return libdeflate_zlib_compress_bound(threadCompressor(), size); }

std::size_t compress(std::string_view contents, char* out, std::size_t limit) {
    libdeflate_compressor* compressor = threadCompressor();
    if (compressor == nullptr) return 0;
    return libdeflate_zlib_compress(compressor, contents.data(), contents.size(), out, limit);
}

bool inflateExactly(std::string_view stream, char* out, std::size_t size) {
    libdeflate_decompressor* decompressor = threadDecompressor();
    if (decompressor == nullptr) return false;
    std::size_t consumed = 0;
    // With a null "actual out" the result must fill the buffer exactly.
    return libdeflate_zlib_decompress_ex(decompressor, stream.data(), stream.size(), out, size, &consumed,
                                         nullptr) == LIBDEFLATE_SUCCESS;
}

}  // namespace mendly::vfile::deflate_buffer
