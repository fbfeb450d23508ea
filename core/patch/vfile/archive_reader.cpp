#include "patch/vfile/archive_reader.h"

namespace mendly::vfile {

bool ArchiveReader::seekTo(const Archive& archive, std::uint64_t offset) {
    if (archive.path() != openPath_ || !in_.is_open()) {
        in_ = std::ifstream(archive.path(), std::ios::binary);
        openPath_ = archive.path();
    }
    if (!in_.is_open()) {
        openPath_.clear();
        return false;
    }
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(in_);
}

bool ArchiveReader::expand(const Archive& archive, const ArchiveEntry& entry, const ContentSink& sink) {
    return seekTo(archive, entry.offset) &&
           expandStoredStream(in_, entry.storedSize, entry.originalSize, sink, buffers_);
}

bool ArchiveReader::readStored(const Archive& archive, const ArchiveEntry& entry, const ContentSink& sink) {
    return seekTo(archive, entry.offset) && readPieces(in_, entry.storedSize, sink, buffers_.stored);
}

std::optional<bool> ArchiveReader::inflateWhole(const Archive& archive, const ArchiveEntry& entry, std::string& stored,
                                                std::string& out) {
    if (!seekTo(archive, entry.offset)) return false;
    return inflateWholeInto(in_, entry.storedSize, entry.originalSize, stored, out);
}

bool ArchiveReader::readAt(const Archive& archive, std::uint64_t offset, std::uint64_t size, std::string& out) {
    if (!seekTo(archive, offset)) return false;
    out.resize(static_cast<std::size_t>(size));
    if (size == 0) return true;
    in_.read(out.data(), static_cast<std::streamsize>(size));
    return in_.gcount() == static_cast<std::streamsize>(size);
}

}  // namespace mendly::vfile
