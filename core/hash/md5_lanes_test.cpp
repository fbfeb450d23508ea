#include "hash/md5_lanes.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "hash/digest.h"

namespace mendly {
namespace {

struct Message {
    std::string bytes;
    std::vector<std::size_t> cuts;  // piece ends, ascending, the last == bytes.size()
};

Message randomMessage(std::mt19937& rng, std::size_t size) {
    Message m;
    m.bytes.resize(size);
    for (auto& c : m.bytes) c = static_cast<char>(rng());
    std::size_t at = 0;
    while (at < size) {
        // Pieces of 1 byte to a few blocks, some not a multiple of 64.
        at = std::min(size, at + 1 + rng() % 300);
        m.cuts.push_back(at);
    }
    return m;
}

// Drives every lane through its own queue of messages, giving each message
// in its pieces as the lane wants them, and returns the digests in the
// order of each lane's queue.
std::vector<std::vector<std::string>> hashQueues(Md5Lanes& lanes, const std::vector<std::vector<Message>>& queues) {
    std::vector<std::vector<std::string>> digests(queues.size());
    std::vector<std::size_t> message(queues.size(), 0), piece(queues.size(), 0);
    for (bool busy = true; busy;) {
        busy = false;
        for (std::size_t lane = 0; lane < queues.size(); ++lane) {
            while (message[lane] < queues[lane].size() && lanes.wants(lane)) {
                const Message& m = queues[lane][message[lane]];
                if (piece[lane] == m.cuts.size()) {
                    digests[lane].push_back(lanes.finishHex(lane));
                    ++message[lane];
                    piece[lane] = 0;
                    continue;
                }
                const std::size_t from = piece[lane] == 0 ? 0 : m.cuts[piece[lane] - 1];
                lanes.give(lane, std::string_view(m.bytes).substr(from, m.cuts[piece[lane]] - from));
                ++piece[lane];
            }
            busy = busy || message[lane] < queues[lane].size();
        }
        lanes.hash();
    }
    return digests;
}

TEST(Md5Lanes, KnownDigestsInEveryLane) {
    Md5Lanes lanes;
    for (std::size_t lane = 0; lane < Md5Lanes::kLanes; ++lane) {
        if (lane != 3) lanes.give(lane, "abc");
    }
    lanes.hash();
    for (std::size_t lane = 0; lane < Md5Lanes::kLanes; ++lane) {
        const char* expected = lane == 3 ? "d41d8cd98f00b204e9800998ecf8427e" : "900150983cd24fb0d6963f7d28e17f72";
        EXPECT_EQ(lanes.finishHex(lane), expected);
    }
}

// Side by side and alone, lanes of different lengths in different pieces,
// refilled as they finish, give the digests of each message hashed whole.
class Md5LanesAgree : public testing::TestWithParam<bool> {};

TEST_P(Md5LanesAgree, WithTheDigestOfEachMessageWhole) {
    std::mt19937 rng(7);
    // Every length around the padding boundaries, then longer ones.
    std::vector<std::size_t> sizes;
    for (std::size_t s = 0; s <= 200; ++s) sizes.push_back(s);
    for (int k = 0; k < 40; ++k) sizes.push_back(rng() % 20000);
    sizes.push_back(1 << 20);
    std::vector<std::vector<Message>> queues(Md5Lanes::kLanes);
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        // Uneven queues, so that some lanes run alone at the end.
        const std::size_t lane = (k * k + k / 3) % (Md5Lanes::kLanes - k % 3);
        queues[lane].push_back(randomMessage(rng, sizes[k]));
    }
    Md5Lanes lanes(GetParam());
    const auto digests = hashQueues(lanes, queues);
    for (std::size_t lane = 0; lane < queues.size(); ++lane) {
        ASSERT_EQ(digests[lane].size(), queues[lane].size());
        for (std::size_t m = 0; m < queues[lane].size(); ++m) {
            EXPECT_EQ(digests[lane][m], md5Hex(queues[lane][m].bytes))
                << "lane " << lane << ", size " << queues[lane][m].bytes.size();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Both, Md5LanesAgree, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "SideBySide" : "Alone"; });

}  // namespace
}  // namespace mendly
