#include "patch/entry_digest.h"

#include <fstream>
#include <memory>

#include "hash/md5_gatherer.h"
#include "log/text.h"
#include "patch/manifest.h"

namespace mendly {

EntryDigest::EntryDigest(const ManifestEntry& entry) {
    if (!entry.sha256.empty()) sha256_.emplace();
}

void EntryDigest::update(std::string_view piece) {
    md5_.update(piece);
    if (sha256_) sha256_->update(piece);
}

bool EntryDigest::matches(const ManifestEntry& entry) {
    const bool md5 = md5Matches(md5_.finishHex(), entry.md5);
    if (entry.sha256.empty()) return md5;
    // Without its own SHA-256 this digest was not made for `entry`.
    return sha256_ && equalsIgnoreAsciiCase(sha256_->finishHex(), entry.sha256) && md5;
}

bool EntryDigest::wholeMatches(const ManifestEntry& entry, std::string_view bytes, Md5Gatherer& md5s) {
    if (!entry.sha256.empty() && !equalsIgnoreAsciiCase(sha256Hex(bytes), entry.sha256)) return false;
    return md5Matches(md5s.md5Hex(bytes), entry.md5);
}

bool fileMatchesEntry(const std::filesystem::path& path, const ManifestEntry& entry) noexcept {
    try {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec) || ec) return false;
        if (entry.sha256.empty()) return md5Matches(md5FileHex(path), entry.md5);
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        constexpr std::size_t kPiece = 1 << 20;
        const auto buffer = std::make_unique<char[]>(kPiece);
        EntryDigest digest(entry);
        while (in) {
            in.read(buffer.get(), kPiece);
            const auto got = in.gcount();
            if (got > 0) digest.update(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
        }
        if (in.bad()) return false;
        return digest.matches(entry);
    } catch (...) {
        return false;
    }
}

}  // namespace mendly
