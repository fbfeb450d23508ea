#include "patch/staged_file.h"

#include <functional>
#include <system_error>

#include "patch/vfile/byte_order.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/format.h"
#include "patch/vfile/single_file_payload.h"
#include "platform/disk.h"

namespace mendly {
namespace fs = std::filesystem;

namespace {

std::optional<std::uint64_t> fileSize(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

fs::path partOf(const fs::path& path) {
    fs::path part = path;
    part += ".part";
    return part;
}

// Whatever is at `path`: a file, a link (not what it names), or a folder
// planted there with all it holds.
void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

// Opens `path` for writing from scratch; a stale file or link of that name is
// removed first, so nothing is ever written through a link planted there.
bool openFresh(std::ofstream& out, const fs::path& path) {
    removeQuietly(path);
    out.open(path, std::ios::binary | std::ios::trunc);
    return out.is_open();
}

}  // namespace

StagingWriter::StagingWriter(const ManifestEntry& entry, fs::path partPath, std::optional<std::uint64_t> limit,
                             std::size_t memoryLimit, Md5Gatherer* md5s)
    : partPath_(std::move(partPath)), limit_(limit), memoryLimit_(memoryLimit), digest_(entry), md5s_(md5s) {
    // A body of a declared size that fits is held in one allocation, not
    // grown (and copied) piece by piece.
    if (entry.size && *entry.size <= memoryLimit_) memory_.reserve(static_cast<std::size_t>(*entry.size));
}

bool StagingWriter::open() {
    if (memoryLimit_ > 0) return true;  // the file waits until the body outgrows memory
    spilled_ = true;
    writeFailed_ = !openFresh(out_, partPath_);
    return !writeFailed_;
}

bool StagingWriter::write(std::string_view piece) {
    if (limit_ && piece.size() > *limit_ - std::min(*limit_, received_)) {
        overLimit_ = true;
        return false;
    }
    received_ += piece.size();
    if (!spilled_ && received_ <= memoryLimit_) {
        if (!md5s_) digest_.update(piece);
        memory_.append(piece);
        return true;
    }
    if (!spilled_) {
        spilled_ = true;
        if (md5s_) digest_.update(memory_);  // from now on as it arrives
        if (!openFresh(out_, partPath_)) {
            writeFailed_ = true;
            return false;
        }
        out_.write(memory_.data(), static_cast<std::streamsize>(memory_.size()));
        std::string().swap(memory_);
    }
    digest_.update(piece);
    out_.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    if (!out_) writeFailed_ = true;
    return !writeFailed_;
}

bool StagingWriter::lend(std::string_view body) {
    const bool whole = received_ == 0 && !spilled_;
    if (!whole || body.size() > memoryLimit_ || (limit_ && body.size() > *limit_)) return write(body);
    received_ = body.size();
    if (!md5s_) digest_.update(body);
    lent_ = body;
    return true;
}

bool StagingWriter::matches(const ManifestEntry& entry) {
    if (md5s_ && !spilled_) return EntryDigest::wholeMatches(entry, memory(), *md5s_);
    return digest_.matches(entry);
}

bool StagingWriter::close() {
    if (!spilled_) return true;
    out_.close();
    if (out_.fail()) writeFailed_ = true;
    return !writeFailed_;
}

namespace {

// The header of a file of `size` bytes in payload layout.
std::optional<StagedEntryInfo> entryInfoFrom(std::string_view header, std::uint64_t size) {
    if (size < vfile::kPayloadHeaderSize || header.size() < vfile::kPayloadHeaderSize) return std::nullopt;
    if (header.substr(0, vfile::kPayloadMagic.size()) != vfile::singleFilePayloadHeader(0).substr(0, 12))
        return std::nullopt;
    StagedEntryInfo info;
    info.originalSize = vfile::readLe32(header, vfile::kPayloadMagic.size());
    info.offset = vfile::kPayloadHeaderSize;
    info.storedSize = size - vfile::kPayloadHeaderSize;
    if (info.originalSize > vfile::kMaxStoredValue || info.storedSize > vfile::kMaxStoredValue) return std::nullopt;
    return info;
}

}  // namespace

std::optional<StagedEntryInfo> readStagedEntryInfo(const fs::path& path) {
    const auto size = fileSize(path);
    if (!size || *size < vfile::kPayloadHeaderSize) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string header(vfile::kPayloadHeaderSize, '\0');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    if (in.gcount() != static_cast<std::streamsize>(header.size())) return std::nullopt;
    return entryInfoFrom(header, *size);
}

std::optional<StagedEntryInfo> parseStagedEntryInfo(std::string_view bytes) {
    return entryInfoFrom(bytes, bytes.size());
}

StagingStatus classifyWriteFailure(const fs::path& folder, std::uint64_t wanted) {
    const auto free = platform::freeDiskSpace(folder);
    return free && *free < wanted ? StagingStatus::DiskFull : StagingStatus::Failed;
}

namespace {

// Writes `entryPath` through its ".part" file: the header for originalSize,
// then what `writeStored` writes (returning the stored size, or nothing on
// failure). The part is cut to header + stored size (a raw store after an
// abandoned stream rewrote it from the start), renamed into place, and
// removed again on any failure. `wanted` is the room a failed write asked for.
StagingStatus writeEntryThroughPart(const fs::path& entryPath, std::uint32_t originalSize, std::uint64_t wanted,
                                    const std::function<std::optional<std::uint64_t>(std::ostream&)>& writeStored) {
    const fs::path part = partOf(entryPath);
    std::ofstream out;
    if (!openFresh(out, part)) return StagingStatus::Failed;
    const std::string header = vfile::singleFilePayloadHeader(originalSize);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    const auto stored = writeStored(out);
    out.close();
    if (!stored || out.fail()) {
        removeQuietly(part);
        return classifyWriteFailure(entryPath.parent_path(), wanted);
    }
    std::error_code ec;
    fs::resize_file(part, vfile::kPayloadHeaderSize + *stored, ec);
    if (ec || !commitStaged(part, entryPath)) {
        removeQuietly(part);
        return StagingStatus::Failed;
    }
    return StagingStatus::Ok;
}

}  // namespace

StagingStatus writeStagedEntry(const fs::path& contentsPath, const fs::path& entryPath, vfile::CodecBuffers& buffers) {
    const auto size = fileSize(contentsPath);
    if (!size || *size > vfile::kMaxStoredValue) return StagingStatus::Failed;
    std::ifstream in(contentsPath, std::ios::binary);
    if (!in) return StagingStatus::Failed;
    return writeEntryThroughPart(entryPath, static_cast<std::uint32_t>(*size),
                                 std::min<std::uint64_t>(*size, vfile::kStreamChunk) + 1,
                                 [&](std::ostream& out) { return vfile::compressStream(in, *size, out, buffers); });
}

StagingStatus writeStagedEntryBytes(std::string_view contents, const fs::path& entryPath,
                                    vfile::CodecBuffers& buffers) {
    if (contents.size() > vfile::kMaxStoredValue) return StagingStatus::Failed;
    const bool shorter = vfile::compressShorterInto(contents, buffers.stored);
    const std::string_view stored = shorter ? std::string_view(buffers.stored) : contents;
    return writeEntryThroughPart(entryPath, static_cast<std::uint32_t>(contents.size()),
                                 vfile::kPayloadHeaderSize + stored.size(),
                                 [&](std::ostream& out) -> std::optional<std::uint64_t> {
                                     out.write(stored.data(), static_cast<std::streamsize>(stored.size()));
                                     return stored.size();
                                 });
}

bool stagedEntryContentsMatch(const fs::path& entryPath, const ManifestEntry& entry, vfile::CodecBuffers& buffers) {
    const auto info = readStagedEntryInfo(entryPath);
    if (!info) return false;
    std::ifstream in(entryPath, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(info->offset));
    EntryDigest digest(entry);
    const bool ok = in && vfile::expandStoredStream(in, info->storedSize, info->originalSize,
                                                    [&digest](std::string_view piece) { digest.update(piece); },
                                                    buffers);
    return ok && digest.matches(entry);
}

StagingStatus checkStagedPayload(const fs::path& payloadPath, const fs::path& convertedPath, bool& converted,
                                 vfile::CodecBuffers& buffers) {
    converted = false;
    const auto info = readStagedEntryInfo(payloadPath);
    if (!info || info->storedSize == 0) return StagingStatus::Failed;
    std::ifstream in(payloadPath, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(info->offset));
    if (info->storedSize != info->originalSize) {
        const bool ok = in && vfile::inflateStoredStream(in, info->storedSize, info->originalSize,
                                                         [](std::string_view) {}, buffers);
        return ok ? StagingStatus::Ok : StagingStatus::Failed;
    }
    // Body as long as the contents: inflate them to a file and store them anew.
    const fs::path contents = partOf(convertedPath.string() + ".contents");
    std::ofstream out;
    if (!in || !openFresh(out, contents)) return StagingStatus::Failed;
    const bool inflated = vfile::inflateStoredStream(
        in, info->storedSize, info->originalSize,
        [&out](std::string_view piece) { out.write(piece.data(), static_cast<std::streamsize>(piece.size())); },
        buffers);
    out.close();
    if (!inflated) {
        removeQuietly(contents);
        return StagingStatus::Failed;
    }
    if (out.fail()) {
        removeQuietly(contents);
        return classifyWriteFailure(convertedPath.parent_path(), vfile::kStreamChunk);
    }
    const StagingStatus status = writeStagedEntry(contents, convertedPath, buffers);
    removeQuietly(contents);
    converted = status == StagingStatus::Ok;
    return status;
}

bool commitStaged(const fs::path& from, const fs::path& finalPath) {
    std::error_code ec;
    fs::rename(from, finalPath, ec);
    if (!ec) return true;
    // A folder at the staged name is no staged file; it goes (rename only
    // replaces files and empty folders).
    if (!fs::is_directory(fs::symlink_status(finalPath, ec))) return false;
    removeQuietly(finalPath);
    fs::rename(from, finalPath, ec);
    return !ec;
}

}  // namespace mendly
