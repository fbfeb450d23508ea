#include "patch/vfile/entry_stream.h"

#include <zlib.h>

#include <algorithm>

#include "patch/vfile/entry_codec.h"
#include "patch/vfile/format.h"

namespace mendly::vfile {
namespace {

// zlib's level for the streaming path, close to libdeflate's kCompressionLevel.
constexpr int kZlibLevel = 6;

bool readInto(std::istream& in, std::string& buffer, std::uint64_t count) {
    buffer.resize(static_cast<std::size_t>(count));
    if (count == 0) return true;
    in.read(buffer.data(), static_cast<std::streamsize>(count));
    return in.gcount() == static_cast<std::streamsize>(count);
}

struct InflateStream {
    z_stream z{};
    bool open = false;
    InflateStream() { open = inflateInit(&z) == Z_OK; }
    ~InflateStream() {
        if (open) inflateEnd(&z);
    }
};

bool inflateToSink(std::istream& in, std::uint64_t storedSize, std::uint32_t originalSize, const ContentSink& sink,
                   CodecBuffers& buffers) {
    InflateStream stream;
    if (!stream.open) return false;
    buffers.contents.resize(kStreamChunk);
    std::uint64_t produced = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (stream.z.avail_in == 0) {
            if (storedSize == 0) return false;  // the stream ended early
            const auto piece = std::min<std::uint64_t>(storedSize, kStreamChunk);
            if (!readInto(in, buffers.stored, piece)) return false;
            storedSize -= piece;
            stream.z.next_in = reinterpret_cast<Bytef*>(buffers.stored.data());
            stream.z.avail_in = static_cast<uInt>(piece);
        }
        stream.z.next_out = reinterpret_cast<Bytef*>(buffers.contents.data());
        stream.z.avail_out = static_cast<uInt>(kStreamChunk);
        rc = inflate(&stream.z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) return false;
        const std::size_t got = kStreamChunk - stream.z.avail_out;
        produced += got;
        if (produced > originalSize) return false;
        if (got > 0) sink(std::string_view(buffers.contents.data(), got));
    }
    return produced == originalSize;
}

struct DeflateStream {
    z_stream z{};
    bool open = false;
    DeflateStream() { open = deflateInit(&z, kZlibLevel) == Z_OK; }
    ~DeflateStream() {
        if (open) deflateEnd(&z);
    }
};

// The zlib stream of `size` bytes of `in`, written to `out` while it stays
// shorter than the contents. Nothing when it would not (or on any failure).
std::optional<std::uint64_t> deflateShorter(std::istream& in, std::uint64_t size, std::ostream& out,
                                            CodecBuffers& buffers) {
    DeflateStream stream;
    if (!stream.open) return std::nullopt;
    buffers.contents.resize(kStreamChunk);
    std::uint64_t remaining = size;
    std::uint64_t written = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (stream.z.avail_in == 0 && remaining > 0) {
            const auto piece = std::min<std::uint64_t>(remaining, kStreamChunk);
            if (!readInto(in, buffers.stored, piece)) return std::nullopt;
            remaining -= piece;
            stream.z.next_in = reinterpret_cast<Bytef*>(buffers.stored.data());
            stream.z.avail_in = static_cast<uInt>(piece);
        }
        stream.z.next_out = reinterpret_cast<Bytef*>(buffers.contents.data());
        stream.z.avail_out = static_cast<uInt>(kStreamChunk);
        rc = deflate(&stream.z, remaining == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_ERROR) return std::nullopt;
        const std::size_t got = kStreamChunk - stream.z.avail_out;
        if (written + got >= size) return std::nullopt;  // not shorter: raw instead
        out.write(buffers.contents.data(), static_cast<std::streamsize>(got));
        if (!out) return std::nullopt;
        written += got;
    }
    return written;
}

}  // namespace

bool readPieces(std::istream& in, std::uint64_t size, const ContentSink& sink, std::string& buffer) {
    while (size > 0) {
        const auto piece = std::min<std::uint64_t>(size, kStreamChunk);
        if (!readInto(in, buffer, piece)) return false;
        sink(buffer);
        size -= piece;
    }
    return true;
}

bool copyStream(std::istream& in, std::uint64_t size, std::ostream& out, std::string& buffer) {
    while (size > 0) {
        const auto piece = std::min<std::uint64_t>(size, kStreamChunk);
        if (!readInto(in, buffer, piece)) return false;
        out.write(buffer.data(), static_cast<std::streamsize>(piece));
        if (!out) return false;
        size -= piece;
    }
    return true;
}

bool expandStoredStream(std::istream& in, std::uint64_t storedSize, std::uint32_t originalSize,
                        const ContentSink& sink, CodecBuffers& buffers) {
    if (storedSize == originalSize) return readPieces(in, storedSize, sink, buffers.stored);
    return inflateStoredStream(in, storedSize, originalSize, sink, buffers);
}

std::optional<bool> inflateWholeInto(std::istream& in, std::uint64_t storedSize, std::uint32_t originalSize,
                                     std::string& stored, std::string& out) {
    if (storedSize == 0 || static_cast<std::uint64_t>(originalSize) > kMaxInflateRatio * storedSize) return false;
    if (storedSize > kWholeEntryLimit || originalSize > kWholeEntryLimit) return std::nullopt;
    return readInto(in, stored, storedSize) && inflateExactlyInto(stored, originalSize, out);
}

bool inflateStoredStream(std::istream& in, std::uint64_t storedSize, std::uint32_t originalSize,
                         const ContentSink& sink, CodecBuffers& buffers) {
    if (const auto whole = inflateWholeInto(in, storedSize, originalSize, buffers.stored, buffers.contents)) {
        if (*whole) sink(buffers.contents);
        return *whole;
    }
    return inflateToSink(in, storedSize, originalSize, sink, buffers);
}

std::optional<std::uint64_t> compressStream(std::istream& in, std::uint64_t size, std::ostream& out,
                                            CodecBuffers& buffers) {
    if (size > kMaxStoredValue) return std::nullopt;
    const std::istream::pos_type inStart = in.tellg();
    const std::ostream::pos_type outStart = out.tellp();
    if (size <= kWholeEntryLimit) {
        if (!readInto(in, buffers.contents, size)) return std::nullopt;
        const bool shorter = compressShorterInto(buffers.contents, buffers.stored);
        const std::string& stored = shorter ? buffers.stored : buffers.contents;
        out.write(stored.data(), static_cast<std::streamsize>(stored.size()));
        if (!out) return std::nullopt;
        return stored.size();
    }
    if (const auto written = deflateShorter(in, size, out, buffers)) return written;
    // Raw: start both streams again.
    in.clear();
    in.seekg(inStart);
    out.clear();
    out.seekp(outStart);
    if (!in || !out || !copyStream(in, size, out, buffers.stored)) return std::nullopt;
    return size;
}

}  // namespace mendly::vfile
