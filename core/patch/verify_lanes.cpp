#include "patch/verify_lanes.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "hash/digest.h"
#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/vfile/entry_stream.h"

namespace mendly {

struct VerifyLanes::Lane {
    bool busy = false;
    std::size_t index = 0;
    const ManifestEntry* entry = nullptr;
    std::optional<Sha256Stream> sha256;
    std::ifstream file;                             // a loose file
    std::shared_ptr<const vfile::Archive> archive;  // a member stored raw: where its bytes are left
    std::uint64_t offset = 0;
    std::uint64_t remaining = 0;
    bool failed = false;
    std::string buffer;  // the piece being hashed
};

VerifyLanes::VerifyLanes(const std::filesystem::path& installDir, ArchiveCache& cache, Verdict verdict)
    : installDir_(installDir), cache_(cache), verdict_(std::move(verdict)), lanes_(new Lane[Md5Lanes::kLanes]) {}

VerifyLanes::~VerifyLanes() = default;

std::uint64_t VerifyLanes::piecesInUse() const {
    std::uint64_t bytes = 0;
    for (std::size_t k = 0; k < Md5Lanes::kLanes; ++k) {
        if (lanes_[k].busy) bytes += lanes_[k].buffer.size();
    }
    return bytes;
}

bool VerifyLanes::take(std::size_t index, const ManifestEntry& entry) noexcept {
    Lane* lane = nullptr;
    try {
        const auto freeLane = [this]() -> Lane* {
            for (std::size_t k = 0; k < Md5Lanes::kLanes; ++k) {
                if (!lanes_[k].busy) return &lanes_[k];
            }
            return nullptr;
        };
        while (!freeLane() || piecesInUse() >= kLaneBudget) hashOnce();
        lane = freeLane();
        const std::size_t slot = static_cast<std::size_t>(lane - lanes_.get());
        md5_.begin(slot);
        switch (start(*lane, index, entry)) {
            case Start::Refused: return false;
            case Start::Concluded: conclude(slot, false); return true;
            case Start::Started: return true;
        }
    } catch (...) {
    }
    if (lane) lane->busy = false;
    verdict_(index, false);
    return true;
}

void VerifyLanes::finishAll() noexcept {
    while (!isPatchCancelRequested()) {
        bool any = false;
        for (std::size_t k = 0; k < Md5Lanes::kLanes; ++k) any = any || lanes_[k].busy;
        if (!any) return;
        try {
            hashOnce();
        } catch (...) {
            for (std::size_t k = 0; k < Md5Lanes::kLanes; ++k) {
                if (lanes_[k].busy) conclude(k, false);
            }
        }
    }
}

// The entry's bytes opened for reading, or the reason it needs no reading
// (Concluded: it cannot match) or cannot be read in a lane (Refused).
VerifyLanes::Start VerifyLanes::start(Lane& lane, std::size_t index, const ManifestEntry& entry) {
    lane.index = index;
    lane.entry = &entry;
    lane.failed = false;
    lane.remaining = 0;
    lane.archive.reset();
    lane.sha256.reset();
    if (!entry.sha256.empty()) lane.sha256.emplace();
    lane.busy = true;
    const auto ref = classifyArchivePath(entry.relative);
    if (ref && ref->hadPakPrefix) {
        lane.busy = false;
        return Start::Refused;
    }
    if (ref) return startMember(lane, *ref);
    const std::filesystem::path path = looseFilePath(installDir_, entry.relative);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || ec) return Start::Concluded;
    lane.file = std::ifstream(path, std::ios::binary);
    return lane.file ? Start::Started : Start::Concluded;
}

VerifyLanes::Start VerifyLanes::startMember(Lane& lane, const ArchiveMemberRef& ref) {
    const auto archive = cache_.get(archivePathFor(installDir_, ref.archiveName));
    if (!archive || !archive->namesAreLowercase()) return Start::Concluded;
    const auto member = archive->find(ref.memberPath);
    if (!member) return Start::Concluded;
    if (member->storedSize == member->originalSize) {
        lane.archive = archive;
        lane.offset = member->offset;
        lane.remaining = member->storedSize;
        return Start::Started;
    }
    const auto inflated = reader_.inflateWhole(*archive, *member, stored_, lane.buffer);
    if (!inflated) {
        lane.busy = false;
        return Start::Refused;  // inflated in pieces, alone
    }
    if (!*inflated) return Start::Concluded;
    const std::size_t slot = static_cast<std::size_t>(&lane - lanes_.get());
    md5_.give(slot, lane.buffer);
    if (lane.sha256) lane.sha256->update(lane.buffer);
    return Start::Started;
}

// The lane's next piece handed to the digests: false when there is none
// (the bytes ended, or reading failed: `failed`).
bool VerifyLanes::refill(Lane& lane) {
    if (lane.failed) return false;
    if (lane.file.is_open()) {
        lane.buffer.resize(vfile::kStreamChunk);
        lane.file.read(lane.buffer.data(), static_cast<std::streamsize>(lane.buffer.size()));
        lane.buffer.resize(static_cast<std::size_t>(lane.file.gcount()));
        if (lane.file.bad()) lane.failed = true;
    } else if (lane.remaining > 0) {
        const std::uint64_t piece = std::min<std::uint64_t>(lane.remaining, vfile::kStreamChunk);
        if (!reader_.readAt(*lane.archive, lane.offset, piece, lane.buffer)) lane.failed = true;
        lane.offset += piece;
        lane.remaining -= piece;
    } else {
        lane.buffer.clear();
    }
    if (lane.failed || lane.buffer.empty()) return false;
    md5_.give(static_cast<std::size_t>(&lane - lanes_.get()), lane.buffer);
    if (lane.sha256) lane.sha256->update(lane.buffer);
    return true;
}

// Refills the lanes that want, then hashes; when an entry ended instead, it
// returns first, so that the caller can put the next entry into its lane
// before the others go on without it.
void VerifyLanes::hashOnce() {
    bool ended = false;
    for (std::size_t k = 0; k < Md5Lanes::kLanes; ++k) {
        Lane& lane = lanes_[k];
        if (!lane.busy || !md5_.wants(k)) continue;
        bool more = false;
        try {
            more = refill(lane);
        } catch (...) {
            lane.failed = true;
        }
        if (!more) {
            conclude(k, !lane.failed);
            ended = true;
        }
    }
    if (!ended) md5_.hash();
}

// Ends the lane's entry: its verdict from the digests when all its bytes
// were hashed, else a difference.
void VerifyLanes::conclude(std::size_t slot, bool hashed) {
    Lane& lane = lanes_[slot];
    const std::string md5 = md5_.finishHex(slot);
    bool matches = hashed && md5Matches(md5, lane.entry->md5);
    if (matches && lane.sha256) matches = equalsIgnoreAsciiCase(lane.sha256->finishHex(), lane.entry->sha256);
    lane.busy = false;
    lane.file = std::ifstream();
    lane.archive.reset();
    // Large pieces are not kept once the lanes hold twice the budget.
    std::uint64_t kept = 0;
    for (std::size_t k = 0; k < Md5Lanes::kLanes; ++k) kept += lanes_[k].buffer.capacity();
    if (kept > 2 * kLaneBudget && lane.buffer.capacity() > vfile::kStreamChunk) std::string().swap(lane.buffer);
    verdict_(lane.index, matches);
}

}  // namespace mendly
