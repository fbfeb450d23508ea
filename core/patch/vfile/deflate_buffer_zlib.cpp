#include "patch/vfile/deflate_buffer.h"

#include <zlib.h>

#include <limits>

namespace mendly::vfile::deflate_buffer {
namespace {

// zlib's fastest level, the counterpart of kCompressionLevel's scale.
constexpr int kZlibLevel = Z_BEST_SPEED;

// zlib counts in uInt (32 bits); entries are at most 0x7FFFFFFF bytes.
bool fitsZlib(std::size_t size) { return size <= std::numeric_limits<uInt>::max(); }

// The calling thread's deflate and inflate states, made once and reset for
// each buffer. `ready` is false when making one failed.
struct ThreadDeflate {
    z_stream z{};
    bool ready = false;
    ThreadDeflate() { ready = deflateInit(&z, kZlibLevel) == Z_OK; }
    ~ThreadDeflate() {
        if (ready) deflateEnd(&z);
    }
    ThreadDeflate(const ThreadDeflate&) = delete;
    ThreadDeflate& operator=(const ThreadDeflate&) = delete;
};

struct ThreadInflate {
    z_stream z{};
    bool ready = false;
    ThreadInflate() { ready = inflateInit(&z) == Z_OK; }
    ~ThreadInflate() {
        if (ready) inflateEnd(&z);
    }
    ThreadInflate(const ThreadInflate&) = delete;
    ThreadInflate& operator=(const ThreadInflate&) = delete;
};

ThreadDeflate& threadDeflate() {
    thread_local ThreadDeflate state;
    return state;
}

ThreadInflate& threadInflate() {
    thread_local ThreadInflate state;
    return state;
}

}  // namespace

bool compressorAvailable() { return threadDeflate().ready; }

std::size_t compressBound(std::size_t size) {
    // zlib's own bound (compressBound), computed in size_t.
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 13;
}

std::size_t compress(std::string_view contents, char* out, std::size_t limit) {
    ThreadDeflate& state = threadDeflate();
    if (!state.ready || !fitsZlib(contents.size())) return 0;
    if (limit > std::numeric_limits<uInt>::max()) limit = std::numeric_limits<uInt>::max();
    if (deflateReset(&state.z) != Z_OK) return 0;
    state.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(contents.data()));
    state.z.avail_in = static_cast<uInt>(contents.size());
    state.z.next_out = reinterpret_cast<Bytef*>(out);
    state.z.avail_out = static_cast<uInt>(limit);
    // One call with all input and all room: anything but the stream's end
    // means the room ran out.
    if (deflate(&state.z, Z_FINISH) != Z_STREAM_END) return 0;
    return limit - state.z.avail_out;
}

bool inflateExactly(std::string_view stream, char* out, std::size_t size) {
    ThreadInflate& state = threadInflate();
    if (!state.ready || !fitsZlib(stream.size()) || !fitsZlib(size)) return false;
    if (inflateReset(&state.z) != Z_OK) return false;
    // zlib wants a place to write even when nothing is to be written.
    char none = 0;
    state.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    state.z.avail_in = static_cast<uInt>(stream.size());
    state.z.next_out = reinterpret_cast<Bytef*>(size == 0 ? &none : out);
    state.z.avail_out = static_cast<uInt>(size);
    // The stream must end exactly when the buffer is full: an end before that
    // is too short, no end yet (the room ran out) too long or truncated.
    return inflate(&state.z, Z_FINISH) == Z_STREAM_END && state.z.avail_out == 0;
}

}  // namespace mendly::vfile::deflate_buffer
