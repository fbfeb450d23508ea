#pragma once
// Deterministic game clients for tests and benchmarks.
//
// makeSampleClient writes a complete client folder: the launch executable
// "kaltrisclient.exe", "_version._" ("Kaltris Nexum-2.5.<seed>"), loose files in
// a few sub-folders, "ini/" with user INI files plus "ini/updater.ini" and
// "ini/hash.ini", and archives: some packed as "<name>.pak", some (on request)
// left as plain folders. Archive members are a mix of text-like (compressible,
// stored compressed) and random (incompressible, stored raw) bytes. The same options always give the same
// bytes, whatever the number of threads used.
//
// mutateClient damages or changes such a client deterministically (change,
// delete or truncate a share of the loose files and archive members), for
// update tests and benchmarks.
//
// Both run on the calling thread and start their own worker threads for
// generating and compressing members; they join them before returning.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mendly::test {

struct SampleClientOptions {
    std::uint64_t totalBytes = 4u << 20;  // contents of all files together, roughly (within a few %)
    std::uint32_t members = 0;            // archive members in all archives; 0 = one per 256 KiB (at least 24)
    std::uint64_t seed = 1;
    // Archives written as "<name>.pak"; empty = the default set (gfx, models,
    // sound, terrain, worlds, definitions).
    std::vector<std::string> packedArchives;
    // Archives left as folders "<name>/..." (member names keep some capitals).
    std::vector<std::string> folderArchives;
    unsigned threads = 0;  // 0 = hardware threads
};

struct SampleClientSummary {
    std::uint64_t looseFiles = 0;
    std::uint64_t looseBytes = 0;
    std::uint64_t members = 0;
    std::uint64_t memberBytes = 0;    // contents, before compression
    std::uint64_t archiveBytes = 0;   // size of the written ".pak" files
};

// Writes the client into `folder` (created; existing files with the same
// names are overwritten, others are left). False with a sentence in `error`.
[[nodiscard]] bool makeSampleClient(const std::filesystem::path& folder, const SampleClientOptions& options,
                                    SampleClientSummary& summary, std::string& error);

// The version text a sample client of this seed carries in "_version._".
std::string sampleClientVersion(std::uint64_t seed);

struct MutationOptions {
    double loosePercent = 0;   // share of loose files touched (outside ini/ and "_version._")
    double memberPercent = 0;  // share of the members of each archive touched
    std::uint64_t seed = 7;
    // Edit every file or member touched instead: about 2% of its bytes
    // changed in place, a run inserted and a run removed, as a rebuilt
    // table or executable differs from the last one. Nothing is deleted.
    bool edit = false;
};

struct MutationSummary {
    std::uint64_t changed = 0;    // contents replaced (same length, other bytes)
    std::uint64_t deleted = 0;
    std::uint64_t truncated = 0;  // cut to half their length
    std::uint64_t edited = 0;
    std::uint64_t archivesRewritten = 0;
};

// Touches ceil(percent of the candidates) files or members of `folder`
// (never fewer than one when the percentage is above 0 and there are
// candidates), cycling through change, delete and truncate (or editing
// each, with `edit`). Packed archives
// are rewritten once each; folder-form members are files like loose ones.
[[nodiscard]] bool mutateClient(const std::filesystem::path& folder, const MutationOptions& options,
                                MutationSummary& summary, std::string& error);

// Parses sizes such as "4096", "64K", "300M", "1G" (powers of 1024); false
// for anything else or zero.
[[nodiscard]] bool parseByteSize(const std::string& text, std::uint64_t& bytes);

}  // namespace mendly::test
