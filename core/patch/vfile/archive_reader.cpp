#include "patch/vfile/archive_reader.h"

#include <algorithm>

namespace mendly::vfile {

bool ArchiveReader::seekTo(const Archive& archive, const ArchiveEntry& entry) {
    if (archive.path() != openPath_ || !in_.is_open()) {
        in_ = std::ifstream(archive.path(), std::ios::binary);
        openPath_ = archive.path();
    }
    if (!in_.is_open()) {
        openPath_.clear();
        return false;
    }
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(entry.offset));
    return static_cast<bool>(in_);
}

bool ArchiveReader::expand(const Archive& archive, const ArchiveEntry& entry, const ContentSink& sink) {
    return seekTo(archive, entry) && expandStoredStream(in_, entry.storedSize, entry.originalSize, sink, buffers_);
}

bool ArchiveReader::readStored(const Archive& archive, const ArchiveEntry& entry, const ContentSink& sink) {
    if (!seekTo(archive, entry)) return false;
    std::uint64_t left = entry.storedSize;
    while (left > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, kStreamChunk));
        buffers_.stored.resize(piece);
        in_.read(buffers_.stored.data(), static_cast<std::streamsize>(piece));
        if (in_.gcount() != static_cast<std::streamsize>(piece)) return false;
        sink(buffers_.stored);
        left -= piece;
    }
    return true;
}

}  // namespace mendly::vfile
