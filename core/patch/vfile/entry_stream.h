#pragma once
// Stored entries of any size in bounded memory: contents flow through in
// pieces, read from one stream and handed on or written to another. Entries
// up to kWholeEntryLimit go through libdeflate as whole buffers (fastest);
// larger ones through zlib's streaming inflate and deflate, so memory never
// grows with an entry's size. Both write and read the same zlib format.
//
// Threads: the functions are reentrant; a CodecBuffers belongs to one worker.
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace mendly::vfile {

// Entries (stored and original size) up to this many bytes are handled whole.
inline constexpr std::uint64_t kWholeEntryLimit = 16u << 20;
// The piece size of the streaming paths, for reads and for writes.
inline constexpr std::size_t kStreamChunk = 1u << 20;

// Buffers a worker reuses from entry to entry; at most about
// 2 * kWholeEntryLimit + 2 * kStreamChunk bytes.
struct CodecBuffers {
    std::string stored;
    std::string contents;
    // What a step makes from the other two (a member rebuilt from its base
    // and a delta), for callers that keep it apart from them.
    std::string output;
};

// Receives the contents in order, in pieces of any size.
using ContentSink = std::function<void(std::string_view)>;

// Reads `storedSize` bytes at the current position of `in` (an entry's stored
// form: raw when storedSize equals originalSize, else a zlib stream) and hands
// the contents to `sink`. False when reading falls short, the stream is
// damaged, or it does not yield exactly originalSize bytes; the sink may have
// seen part of the contents by then. A claimed size that no stream of this
// length could reach is refused before anything is read.
[[nodiscard]] bool expandStoredStream(std::istream& in, std::uint64_t storedSize, std::uint32_t originalSize,
                                      const ContentSink& sink, CodecBuffers& buffers);

// The same for a zlib stream whatever its length (no raw shortcut): the body
// of a single-file payload is always a stream.
[[nodiscard]] bool inflateStoredStream(std::istream& in, std::uint64_t storedSize, std::uint32_t originalSize,
                                       const ContentSink& sink, CodecBuffers& buffers);

// The whole-buffer path of inflateStoredStream alone, for a caller that keeps
// the contents: the same refusals (false), then nothing when the entry is too
// large for whole buffers (over kWholeEntryLimit: inflate it in pieces), else
// reads the stored bytes into `stored` and inflates them into `out`, resized
// to originalSize (false when reading falls short or the stream is refused).
[[nodiscard]] std::optional<bool> inflateWholeInto(std::istream& in, std::uint64_t storedSize,
                                                   std::uint32_t originalSize, std::string& stored, std::string& out);

// Reads `size` contents bytes at the current position of `in` and writes
// their stored form at the current position of `out`: a zlib stream when it
// is shorter than the contents, else the contents raw. The stored size, or
// nothing when reading or writing failed or `size` is 2^31 or more. Both
// streams must be seekable (a stream found too long is abandoned and the
// contents are written raw over it, never past size bytes).
[[nodiscard]] std::optional<std::uint64_t> compressStream(std::istream& in, std::uint64_t size, std::ostream& out,
                                                          CodecBuffers& buffers);

// Hands `size` bytes from the current position of `in` to `sink` in pieces
// of at most kStreamChunk, through `buffer`. False when reading falls short.
[[nodiscard]] bool readPieces(std::istream& in, std::uint64_t size, const ContentSink& sink, std::string& buffer);

// Copies `size` bytes from the current position of `in` to `out` in pieces.
[[nodiscard]] bool copyStream(std::istream& in, std::uint64_t size, std::ostream& out, std::string& buffer);

}  // namespace mendly::vfile
