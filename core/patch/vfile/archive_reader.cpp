#include "patch/vfile/archive_reader.h"

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
    return seekTo(archive, entry) && readPieces(in_, entry.storedSize, sink, buffers_.stored);
}

}  // namespace mendly::vfile
