// Archive::open on arbitrary bytes, then every read the verification does.
// The reader never trusts the file: nothing it allocates may be out of
// proportion to the input, names must come out already normal, and the
// entries of an archive it accepts never share stored bytes.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_name.h"

namespace {

// The archive is read from a file, as the game's archives are. A memory-backed
// folder keeps that fast enough for fuzzing when there is one.
const std::filesystem::path& scratchFile() {
    static const std::filesystem::path path = [] {
        std::error_code ec;
        const std::filesystem::path shm = "/dev/shm";
        const auto folder = std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
        return folder / ("archive_fuzz-" + std::to_string(::getpid()) + ".pak");
    }();
    static const struct RemoveAtExit {
        ~RemoveAtExit() {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    } removeAtExit;
    return path;
}

// No byte of the file belongs to two entries, none lies in the header, and so
// all stored sizes together stay within the file's size.
bool storedBytesAreDisjoint(const mendly::vfile::Archive& archive, std::size_t size) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::uint64_t total = 0;
    for (const auto& entry : archive.entries()) {
        total += entry.storedSize;
        if (entry.storedSize > 0) ranges.emplace_back(entry.offset, entry.offset + std::uint64_t{entry.storedSize});
    }
    std::sort(ranges.begin(), ranges.end());
    std::uint64_t end = 8;
    for (const auto& [from, to] : ranges) {
        if (from < end || to > size) return false;
        end = to;
    }
    return total <= size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto archive = mendly::vfile::Archive::open(scratchFile());
    if (!archive) return 0;
    if (archive->entries().size() * 20 + 8 > size) std::abort();
    if (!storedBytesAreDisjoint(*archive, size)) std::abort();

    for (const auto& listed : archive->listEntries()) {
        if (mendly::vfile::normalizeArchiveName(listed.name) != listed.name) std::abort();
        const auto contents = archive->readEntry(listed.name);
        if (contents && contents->size() != archive->find(listed.name)->originalSize) std::abort();
        (void)archive->readStored(listed.name);
    }
    (void)archive->namesAreLowercase();
    return 0;
}
