#pragma once
// A new archive built where its members arrive: when a run installs an
// archive that is not there yet, each member's stored bytes are written once,
// straight into the archive's file as the download workers finish them,
// instead of being staged and copied.
//
// The file is assembled in the staging folder ("<archive>.pak.assembly") and
// laid out as the archive will be: the header and a directory region sized
// for every member the manifest lists for the archive (the format reads the
// directory at offset 8), then the members' stored bytes in the order they
// arrive. A journal beside it ("<archive>.pak.assembly.journal") gets one line
// per member once its bytes are written: key, MD5, offset and sizes, and a
// checksum of the line, so that a run killed part-way resumes from what it
// wrote (a member is reused only once its bytes give the manifest's digests
// again). finish() writes the directory, flushes the file to the disk and
// renames it over the archive's name, which nothing held until then: a kill
// at any moment leaves either no archive or the whole new one.
//
// Threads: every member function may be called from any thread; one mutex
// per assembly guards its file, its journal and its records.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/archive_cache.h"
#include "patch/manifest.h"
#include "patch/staging_area.h"
#include "patch/vfile/entry_stream.h"
#include "platform/file_update.h"

namespace mendly {

// Where one member's stored bytes are in the assembly (offsets in bytes).
struct AssembledMember {
    std::string md5;  // the manifest's MD5 of the download
    std::uint64_t offset = 0;
    std::uint64_t storedSize = 0;
    std::uint32_t originalSize = 0;
};

class ArchiveAssembly {
public:
    // The assembly of the archive at `archivePath` in `file`, for members
    // `names` (ArchiveMemberRef::memberPath, in the order the directory will
    // list them). An earlier run's assembly is taken up when its journal is
    // intact and its directory region is large enough; otherwise it is
    // started anew. Nothing when the file cannot be created or the format
    // cannot hold the names.
    // `legacyNames` counts the members that arrive as single-file payloads
    // (their old "pak_" names are what an update would remove: the log says so).
    static std::unique_ptr<ArchiveAssembly> open(const std::filesystem::path& file,
                                                 const std::filesystem::path& archivePath,
                                                 std::vector<std::string> names, std::size_t legacyNames = 0);
    ~ArchiveAssembly();
    ArchiveAssembly(const ArchiveAssembly&) = delete;
    ArchiveAssembly& operator=(const ArchiveAssembly&) = delete;

    // True when an earlier run already wrote member `name` as `entry` (same
    // MD5) and its stored bytes still expand to contents whose size matches.
    // For a payload the bytes are its stored body, checked like the rest.
    [[nodiscard]] bool holds(const std::string& name, const ManifestEntry& entry, vfile::CodecBuffers& buffers);

    // Writes member `name`'s stored bytes at the end of the file and records
    // it. False when writing failed or an offset would pass the format's
    // limit (the member then is not recorded).
    [[nodiscard]] bool append(const std::string& name, const std::string& md5, std::uint32_t originalSize,
                              std::string_view stored);
    // The same for stored bytes in a file (a staged entry too large for memory).
    [[nodiscard]] bool appendFrom(const std::string& name, const std::string& md5, std::uint32_t originalSize,
                                  const std::filesystem::path& source, std::uint64_t offset,
                                  std::uint64_t storedSize);

    // Writes the header and directory, flushes, and renames the file over the
    // archive. False when a member is missing or anything fails (the
    // assembly then stays for the next run).
    [[nodiscard]] bool finish();

    // After finish(): true when the archive, opened through `cache` (its
    // reader's checks included), lists member `name` at the offset and with
    // the sizes this assembly wrote.
    [[nodiscard]] bool placed(const std::string& name, ArchiveCache& cache) const;

    const std::filesystem::path& archivePath() const { return archivePath_; }
    std::size_t memberCount() const { return names_.size(); }
    std::size_t legacyNames() const { return legacyNames_; }
    // Bytes of stored members written by this run (not counting reuse).
    std::uint64_t bytesWritten() const;

private:
    ArchiveAssembly(std::filesystem::path file, std::filesystem::path archivePath, std::vector<std::string> names);
    bool start(std::uint64_t directoryEnd);
    bool takeUp(std::uint64_t directoryEnd);
    bool record(const std::string& name, const AssembledMember& member);  // mutex held
    void writeBackEarly();                                                 // mutex held

    const std::filesystem::path file_;
    const std::filesystem::path archivePath_;
    const std::vector<std::string> names_;
    std::size_t legacyNames_ = 0;
    mutable std::mutex mutex_;
    platform::FileUpdate out_;
    std::uint64_t dataStart_ = 0;
    std::uint64_t end_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t writtenBackTo_ = 0;  // what startWriteBack was asked for so far
    std::map<std::string, AssembledMember> members_;  // by name
};

// The assemblies of one run, by archive name (archiveNameTable). Filled
// before the download stage; the map itself is read-only while workers run.
using ArchiveAssemblies = std::map<std::string, std::unique_ptr<ArchiveAssembly>>;

// The staged names an assembly of archive `archiveName` uses (file and journal).
std::vector<std::string> assemblyStagedNames(std::string_view archiveName);

// Opens an assembly for every archive of installDir that `list` fills from
// nothing: the archive file is not there and `list` holds every member the
// manifest names for it. Archives that already exist are updated as before.
ArchiveAssemblies openAssemblies(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                 const std::filesystem::path& installDir, const StagingArea& staging);

}  // namespace mendly
