#pragma once
// Reading entries of archives in pieces, for a worker that reads many of
// them: one open stream (kept while the worker stays on the same archive) and
// buffers reused from entry to entry, so reading costs time in proportion to
// the stored bytes and memory in proportion to the largest piece, never to an
// entry's size.
//
// Threads: one ArchiveReader per worker; the Archive objects it reads are
// shared read-only.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "patch/vfile/archive.h"
#include "patch/vfile/entry_stream.h"

namespace mendly::vfile {

class ArchiveReader {
public:
    // Hands the contents of `entry` (raw or inflated) to `sink`. False when
    // the file cannot be read, is shorter than the directory says, or the
    // stream does not inflate to exactly the entry's original size.
    [[nodiscard]] bool expand(const Archive& archive, const ArchiveEntry& entry, const ContentSink& sink);

    // Hands the entry's stored bytes, exactly as stored, to `sink`.
    [[nodiscard]] bool readStored(const Archive& archive, const ArchiveEntry& entry, const ContentSink& sink);

    // A compressed entry's contents inflated whole into `out` (its stored
    // bytes through `stored`), as inflateWholeInto (entry_stream.h) says:
    // nothing when it must be inflated in pieces.
    [[nodiscard]] std::optional<bool> inflateWhole(const Archive& archive, const ArchiveEntry& entry,
                                                   std::string& stored, std::string& out);

    // Reads `size` bytes at `offset` of the archive's file into `out`
    // (resized to them), for a caller that takes an entry's bytes piece by
    // piece. False when the file cannot be read or is shorter.
    [[nodiscard]] bool readAt(const Archive& archive, std::uint64_t offset, std::uint64_t size, std::string& out);

private:
    bool seekTo(const Archive& archive, std::uint64_t offset);

    std::filesystem::path openPath_;
    std::ifstream in_;
    CodecBuffers buffers_;
};

}  // namespace mendly::vfile
