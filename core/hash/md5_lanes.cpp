#include "hash/md5_lanes.h"

#include <algorithm>
#include <cstring>

#include "hash/digest.h"
#include "hash/md5_rounds.h"

namespace mendly {
namespace {

struct WordOps {
    using V = std::uint32_t;
    static V add(V x, V y) { return x + y; }
    static V and_(V x, V y) { return x & y; }
    static V or_(V x, V y) { return x | y; }
    static V xor_(V x, V y) { return x ^ y; }
    static V not_(V x) { return ~x; }
    static V constant(std::uint32_t k) { return k; }
    template <int S>
    static V rotl(V x) {
        return (x << S) | (x >> (32 - S));
    }
};

std::uint32_t littleEndianWord(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void blocksOneWide(std::uint32_t (&v)[4], const unsigned char* data, std::size_t blocks) {
    for (std::size_t b = 0; b < blocks; ++b, data += 64) {
        std::uint32_t words[16];
        for (int w = 0; w < 16; ++w) words[w] = littleEndianWord(data + 4 * w);
        md5::Rounds<WordOps>::block(v[0], v[1], v[2], v[3], words);
    }
}

// Fewer lanes than this with whole blocks to hash go one by one: the vector
// code costs the same for one lane as for eight.
constexpr std::size_t kVectorFrom = 2;

// At most this many blocks per lane and call (64 KiB), so that a caller can
// put new messages into idle lanes while a long one goes on.
constexpr std::size_t kBlocksPerCall = 1024;

}  // namespace

Md5Lanes::Md5Lanes(bool useVectors) : useVectors_(useVectors && vectorsAvailable()) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) begin(lane);
}

void Md5Lanes::begin(std::size_t lane) {
    for (int w = 0; w < 4; ++w) state_[w][lane] = md5::kInit[w];
    lanes_[lane] = Lane{};
}

void Md5Lanes::give(std::size_t lane, std::string_view piece) {
    lanes_[lane].pending = piece;
    lanes_[lane].length += piece.size();
}

void Md5Lanes::blocksAlone(std::size_t lane, const unsigned char* data, std::size_t blocks) {
    std::uint32_t v[4] = {state_[0][lane], state_[1][lane], state_[2][lane], state_[3][lane]};
    blocksOneWide(v, data, blocks);
    for (int w = 0; w < 4; ++w) state_[w][lane] = v[w];
}

// Moves the lane's pending bytes into its partial block until the block is
// full (then hashes it) or the bytes run out.
void Md5Lanes::topUpTail(std::size_t lane) {
    Lane& l = lanes_[lane];
    const std::size_t take = std::min(l.pending.size(), l.tail.size() - l.tailSize);
    if (take == 0) return;  // (an empty piece may have no address)
    std::memcpy(l.tail.data() + l.tailSize, l.pending.data(), take);
    l.tailSize += take;
    l.pending.remove_prefix(take);
    if (l.tailSize == l.tail.size()) {
        blocksAlone(lane, l.tail.data(), 1);
        l.tailSize = 0;
    }
}

void Md5Lanes::hash() {
    std::size_t active[kLanes];
    std::size_t count = 0;
    std::size_t blocks = SIZE_MAX;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        Lane& l = lanes_[lane];
        if (l.tailSize > 0 && !l.pending.empty()) topUpTail(lane);
        if (l.pending.size() < 64) {
            topUpTail(lane);  // what is left of the piece waits for more
            continue;
        }
        active[count++] = lane;
        blocks = std::min(blocks, l.pending.size() / 64);
    }
    if (count == 0) return;
    blocks = std::min(blocks, kBlocksPerCall);
    const auto bytesOf = [this](std::size_t lane) {
        return reinterpret_cast<const unsigned char*>(lanes_[lane].pending.data());
    };
    if (useVectors_ && count >= kVectorFrom) {
        // Idle lanes hash a copy of an active lane's bytes into state that
        // is put back afterwards.
        alignas(32) std::uint32_t saved[4][kLanes];
        std::memcpy(saved, state_, sizeof saved);
        const unsigned char* data[kLanes];
        bool busy[kLanes] = {};
        for (std::size_t lane = 0; lane < kLanes; ++lane) data[lane] = bytesOf(active[0]);
        for (std::size_t k = 0; k < count; ++k) {
            data[active[k]] = bytesOf(active[k]);
            busy[active[k]] = true;
        }
        md5::blocksEightWide(state_, data, blocks);
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            if (busy[lane]) continue;
            for (int w = 0; w < 4; ++w) state_[w][lane] = saved[w][lane];
        }
    } else {
        for (std::size_t k = 0; k < count; ++k) blocksAlone(active[k], bytesOf(active[k]), blocks);
    }
    for (std::size_t k = 0; k < count; ++k) {
        Lane& l = lanes_[active[k]];
        l.pending.remove_prefix(blocks * 64);
        if (l.pending.size() < 64) topUpTail(active[k]);
    }
}

std::string Md5Lanes::finishHex(std::size_t lane) {
    Lane& l = lanes_[lane];
    unsigned char last[128] = {};
    std::memcpy(last, l.tail.data(), l.tailSize);
    last[l.tailSize] = 0x80;
    const std::size_t size = l.tailSize < 56 ? 64 : 128;
    const std::uint64_t bits = l.length * 8;
    for (int i = 0; i < 8; ++i) last[size - 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
    blocksAlone(lane, last, size / 64);
    unsigned char digest[16];
    for (int w = 0; w < 4; ++w) {
        for (int i = 0; i < 4; ++i) digest[4 * w + i] = static_cast<unsigned char>(state_[w][lane] >> (8 * i));
    }
    begin(lane);
    return toHexLower(digest, sizeof digest);
}

}  // namespace mendly
