#include <gtest/gtest.h>

#include <glib.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "post_channel.h"

namespace mendly {
namespace {

// The test thread plays the UI thread: it iterates the default main context.
class PostChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        channel = PostChannel::create([this](const PostedMessage& m) { received.push_back({m, std::this_thread::get_id()}); },
                                      [this](const PostedMessage& m) { discarded.push_back(m); });
    }

    // Runs the main loop until `count` messages arrived or 10 s passed.
    void pumpUntil(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (received.size() < count && std::chrono::steady_clock::now() < deadline)
            g_main_context_iteration(nullptr, FALSE);
    }
    void pumpPending() {
        while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    }

    struct Delivery {
        PostedMessage message;
        std::thread::id thread;
    };
    std::shared_ptr<PostChannel> channel;
    std::vector<Delivery> received;
    std::vector<PostedMessage> discarded;
};

TEST_F(PostChannelTest, TheReceiverNeverRunsInsidePost) {
    ASSERT_TRUE(channel->post(0x8005, 0, 0));
    EXPECT_TRUE(received.empty());
    pumpUntil(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message.message, 0x8005u);
}

TEST_F(PostChannelTest, WorkerPostsArriveOnTheLoopThreadInTheirOrder) {
    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([this, t] {
            for (int i = 0; i < kEach; ++i) ASSERT_TRUE(channel->post(0x8002, t, i));
        });
    }
    for (auto& w : workers) w.join();
    pumpUntil(kThreads * kEach);
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kThreads * kEach));
    std::map<std::intptr_t, std::intptr_t> next;
    for (const Delivery& d : received) {
        EXPECT_EQ(d.thread, std::this_thread::get_id());
        EXPECT_EQ(d.message.lParam, next[d.message.wParam]++);
    }
}

TEST_F(PostChannelTest, PostingToAClosedChannelFailsAndLeavesThePayloadToTheSender) {
    channel->close();
    EXPECT_FALSE(channel->post(0x8001, 0, 0));
    auto* text = new std::u16string(u"still mine");
    EXPECT_FALSE(channel->post(0x8001, 0, reinterpret_cast<std::intptr_t>(text)));
    EXPECT_EQ(*text, u"still mine");  // not freed by the channel
    delete text;
    EXPECT_FALSE(postTextMessage(*channel, WM_PATCH_STATUS, 0, u"freed by postTextMessage"));
    EXPECT_TRUE(discarded.empty());
}

TEST_F(PostChannelTest, ClosingHandsQueuedMessagesToTheDiscardFunctionInOrder) {
    ASSERT_TRUE(channel->post(0x8001, 0, 11));
    ASSERT_TRUE(channel->post(0x8003, 1, 12));
    channel->close();
    channel->close();  // a second close does nothing
    pumpPending();
    EXPECT_TRUE(received.empty());
    ASSERT_EQ(discarded.size(), 2u);
    EXPECT_EQ(discarded[0].lParam, 11);
    EXPECT_EQ(discarded[1].message, 0x8003u);
    EXPECT_EQ(discarded[1].wParam, 1);
}

TEST_F(PostChannelTest, PendingDeliveriesKeepTheChannelAliveAfterItsOwnerLetGo) {
    ASSERT_TRUE(channel->post(0x8007, 0, 0));
    std::weak_ptr<PostChannel> weak = channel;
    channel.reset();
    EXPECT_FALSE(weak.expired());
    pumpUntil(1);
    EXPECT_EQ(received.size(), 1u);
    pumpPending();
    EXPECT_TRUE(weak.expired());
}

TEST_F(PostChannelTest, PatchTextMessagesCarryTheirTextToTheReceiver) {
    ASSERT_TRUE(postTextMessage(*channel, WM_PATCH_STATUS, 0, u"Verifying files..."));
    ASSERT_TRUE(postPatchFinished(channel.get(), false, u"Cancelled"));
    ASSERT_TRUE(postPatchFinished(channel.get(), true, u""));
    pumpUntil(3);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(*adoptTextPayload(received[0].message.lParam), u"Verifying files...");
    EXPECT_EQ(received[1].message.wParam, 0);
    EXPECT_EQ(*adoptTextPayload(received[1].message.lParam), u"Cancelled");
    EXPECT_EQ(received[2].message.wParam, 1);
    EXPECT_EQ(received[2].message.lParam, 0);
}

}  // namespace
}  // namespace mendly
