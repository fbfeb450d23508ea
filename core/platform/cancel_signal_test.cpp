#include "platform/cancel_signal.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>

namespace mendly::platform {
namespace {

void (*currentHandler(int signal))(int) {
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

class CancelSignalTest : public ::testing::Test {
protected:
    void TearDown() override {
        removeCancelHandler();
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGQUIT, SIG_DFL);
    }
    std::atomic<bool> cancel_{false};
};

TEST_F(CancelSignalTest, InterruptAndBreakSetTheFlagAndTheProcessGoesOn) {
    for (int signal : {SIGINT, SIGQUIT}) {
        cancel_ = false;
        ASSERT_TRUE(installCancelHandler(cancel_));
        ASSERT_EQ(raise(signal), 0);
        EXPECT_TRUE(cancel_.load()) << signal;
    }
}


TEST_F(CancelSignalTest, RemovingRestoresTheDefaultDisposition) {
    ASSERT_TRUE(installCancelHandler(cancel_));
    EXPECT_NE(currentHandler(SIGINT), SIG_DFL);
    removeCancelHandler();
    EXPECT_EQ(currentHandler(SIGINT), SIG_DFL);
    EXPECT_EQ(currentHandler(SIGQUIT), SIG_DFL);
}

TEST_F(CancelSignalTest, IgnoredSignalsStayIgnoredAfterRemoval) {
    // A process started in the background with SIGINT ignored keeps it so.
    std::signal(SIGINT, SIG_IGN);
    ASSERT_TRUE(installCancelHandler(cancel_));
    removeCancelHandler();
    EXPECT_EQ(currentHandler(SIGINT), SIG_IGN);
    EXPECT_EQ(currentHandler(SIGQUIT), SIG_DFL);
}

TEST_F(CancelSignalTest, InstallingAgainRepointsTheHandlerAndOneRemoveUndoesIt) {
    std::atomic<bool> other{false};
    ASSERT_TRUE(installCancelHandler(cancel_));
    ASSERT_TRUE(installCancelHandler(other));
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_FALSE(cancel_.load());
    EXPECT_TRUE(other.load());
    removeCancelHandler();
    EXPECT_EQ(currentHandler(SIGINT), SIG_DFL);
}


}  // namespace
}  // namespace mendly::platform
