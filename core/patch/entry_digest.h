#pragma once
// The digests a manifest entry names for its bytes as served: the MD5
// always, the SHA-256 when the entry lists one. Bytes match the entry only
// when every named digest does, so two files that share an MD5 (a made
// collision) are told apart wherever the manifest gives a SHA-256.
//
// One owner, one thread at a time; fed piece by piece, finished once.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "hash/digest.h"

namespace mendly {

struct ManifestEntry;
class Md5Gatherer;

class EntryDigest {
public:
    // Hashes what `entry` names (a SHA-256 only when the entry has one).
    explicit EntryDigest(const ManifestEntry& entry);

    void update(std::string_view piece);
    // Finishes the digests: true when they match those of `entry`.
    [[nodiscard]] bool matches(const ManifestEntry& entry);

    // The same for a whole body in memory, its MD5 hashed by `md5s` beside
    // other threads' bodies (md5_gatherer.h) and its SHA-256, when the entry
    // names one, on the calling thread first.
    [[nodiscard]] static bool wholeMatches(const ManifestEntry& entry, std::string_view bytes, Md5Gatherer& md5s);

private:
    Md5Stream md5_;
    std::optional<Sha256Stream> sha256_;
};

// True when the file at `path` is a regular file (a link is followed) whose
// bytes match `entry`. Never throws.
bool fileMatchesEntry(const std::filesystem::path& path, const ManifestEntry& entry) noexcept;

}  // namespace mendly
