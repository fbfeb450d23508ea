#pragma once
// MD5 of up to eight messages at once on one thread. MD5 is sequential
// within a message, so one message cannot go faster than one core's scalar
// rate (about 0.7 GB/s); eight messages in the eight 32-bit lanes of a
// 256-bit vector go about four times as fast together. Where the processor
// has no such vectors, the lanes are hashed one after another with the
// same results.
//
// Use: begin(lane), then give(lane, piece) whenever wants(lane), calling
// hash() in between; finish(lane) once its message is all given. A given
// piece is read in place: it must stay valid and unchanged until the lane
// wants again. hash() works on every lane with bytes and returns once at
// least one of them has used up its piece, or after 64 KiB of each.
//
// One owner, one thread at a time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mendly {

class Md5Lanes {
public:
    static constexpr std::size_t kLanes = 8;

    // True when this processor can hash lanes side by side.
    static bool vectorsAvailable();
    // `useVectors` false hashes every lane alone (the check of both ways).
    explicit Md5Lanes(bool useVectors = vectorsAvailable());

    void begin(std::size_t lane);
    void give(std::size_t lane, std::string_view piece);
    [[nodiscard]] bool wants(std::size_t lane) const { return lanes_[lane].pending.empty(); }
    void hash();
    // The digest of everything given to `lane` since begin(), as lowercase
    // hexadecimal text. The lane must want (its last piece hashed).
    std::string finishHex(std::size_t lane);

private:
    struct Lane {
        std::string_view pending;
        std::uint64_t length = 0;  // bytes given since begin()
        std::array<unsigned char, 64> tail{};
        std::size_t tailSize = 0;
    };
    void blocksAlone(std::size_t lane, const unsigned char* data, std::size_t blocks);
    void topUpTail(std::size_t lane);

    bool useVectors_;
    // The chaining values, word by word across the lanes, as the vector
    // code loads them.
    alignas(32) std::uint32_t state_[4][kLanes] = {};
    std::array<Lane, kLanes> lanes_{};
};

namespace md5 {
// Hashes `blocks` 64-byte blocks of each of the eight messages at data[lane]
// into state[word][lane]. Only where vectorsAvailable().
void blocksEightWide(std::uint32_t (*state)[Md5Lanes::kLanes], const unsigned char* const* data, std::size_t blocks);
}  // namespace md5

}  // namespace mendly
