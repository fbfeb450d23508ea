#pragma once
// Files in the staging folder (staging_area.h): receiving a download into its
// ".part" file while hashing it, committing it under its final name, turning
// an archive member into its stored form, and checking single-file payloads,
// all in bounded memory whatever the file's size.
//
// Threads: each function works on the files of one staged name; distinct
// names may be worked on from any number of threads at once.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "hash/digest.h"
#include "hash/md5_gatherer.h"
#include "patch/entry_digest.h"
#include "patch/manifest.h"
#include "patch/vfile/entry_stream.h"

namespace mendly {

// How a staged step failed: DiskFull when the volume ran out of space (the
// caller reports it with the disk-space sentence), Failed otherwise.
enum class StagingStatus { Ok, DiskFull, Failed };

// Receives one download body into `partPath` (created or truncated) as it
// arrives, hashing it. `limit`, when given, is the declared size: a body
// that runs longer is cut off (write() returns false and overLimit() is true).
// With a `memoryLimit`, a body up to that many bytes stays in memory and no
// file is made (inMemory()); a longer one goes to the file from the first byte
// on. Small archive members are compressed straight from memory that way,
// sparing the file system a file made and deleted per member. With `md5s`, a
// body that stays in memory is hashed once whole, when matches() is asked,
// its MD5 beside other transfers' bodies (md5_gatherer.h); a body that
// spills is hashed as it arrives.
// One owner: the worker of that download.
class StagingWriter {
public:
    // Hashes what it is given as `entry` names its digests (entry_digest.h).
    StagingWriter(const ManifestEntry& entry, std::filesystem::path partPath, std::optional<std::uint64_t> limit,
                  std::size_t memoryLimit = 0, Md5Gatherer* md5s = nullptr);

    [[nodiscard]] bool open();
    // Appends a piece; false when it would pass the limit or writing failed.
    [[nodiscard]] bool write(std::string_view piece);
    // The whole body at once, before any piece: kept where it lies, not
    // copied, when it fits in memory (the caller keeps it there while the
    // writer lives); else written as write() would.
    [[nodiscard]] bool lend(std::string_view body);
    // Flushes and closes; false when that failed.
    [[nodiscard]] bool close();

    std::uint64_t received() const { return received_; }
    bool inMemory() const { return !spilled_; }
    std::string_view memory() const { return lent_.empty() ? std::string_view(memory_) : lent_; }
    bool overLimit() const { return overLimit_; }
    bool writeFailed() const { return writeFailed_; }
    // Finishes the digests: true when what was written matches `entry`.
    [[nodiscard]] bool matches(const ManifestEntry& entry);
    const std::filesystem::path& partPath() const { return partPath_; }

private:
    std::filesystem::path partPath_;
    std::optional<std::uint64_t> limit_;
    std::size_t memoryLimit_;
    std::string memory_;
    std::string_view lent_;  // the body lend() kept in the caller's memory
    bool spilled_ = false;
    std::ofstream out_;
    EntryDigest digest_;
    Md5Gatherer* md5s_;  // null: every piece is hashed as it arrives
    std::uint64_t received_ = 0;
    bool overLimit_ = false;
    bool writeFailed_ = false;
};

// The header of a staged stored entry or single-file payload: original size
// and where the stored bytes are in the file.
struct StagedEntryInfo {
    std::uint32_t originalSize = 0;
    std::uint64_t storedSize = 0;
    std::uint64_t offset = 0;  // of the stored bytes
};

// Reads the 16-byte header of a file in payload layout; nothing when the
// file is shorter than 16 bytes, has another magic, or sizes of 2^31 or more.
std::optional<StagedEntryInfo> readStagedEntryInfo(const std::filesystem::path& path);
// The same for a whole file in payload layout held in memory (`bytes`).
std::optional<StagedEntryInfo> parseStagedEntryInfo(std::string_view bytes);

// Writes the stored form of the contents in `contentsPath` to `entryPath`
// (through entryPath + ".part", then renamed) in payload layout.
StagingStatus writeStagedEntry(const std::filesystem::path& contentsPath, const std::filesystem::path& entryPath,
                               vfile::CodecBuffers& buffers);

// The same for contents held in memory.
StagingStatus writeStagedEntryBytes(std::string_view contents, const std::filesystem::path& entryPath,
                                    vfile::CodecBuffers& buffers);

// True when the contents a staged stored entry holds (inflated in pieces)
// match `entry`; false too when it cannot be read or does not inflate to its
// original size.
bool stagedEntryContentsMatch(const std::filesystem::path& entryPath, const ManifestEntry& entry,
                              vfile::CodecBuffers& buffers);

// Checks a staged single-file payload: more than 16 bytes, the payload magic,
// and a body that inflates to exactly its original size (inflated in pieces
// and thrown away, so a payload claiming gigabytes costs no memory). When the
// body is exactly as long as the contents, an archive would read it as raw,
// so the contents are stored anew at `convertedPath` and `converted` is set.
StagingStatus checkStagedPayload(const std::filesystem::path& payloadPath, const std::filesystem::path& convertedPath,
                                 bool& converted, vfile::CodecBuffers& buffers);

// Moves a finished file into place under `finalPath` (replacing one there).
[[nodiscard]] bool commitStaged(const std::filesystem::path& from, const std::filesystem::path& finalPath);

// DiskFull when the volume holding `folder` has less than `wanted` bytes free.
StagingStatus classifyWriteFailure(const std::filesystem::path& folder, std::uint64_t wanted);

}  // namespace mendly
