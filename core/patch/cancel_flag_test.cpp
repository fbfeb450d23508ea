#include "patch/cancel_flag.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace mendly {
namespace {

class CancelFlagTest : public ::testing::Test {
protected:
    void SetUp() override { resetPatchCancel(); }
    void TearDown() override { resetPatchCancel(); }
};

TEST_F(CancelFlagTest, RequestSetsTheFlagUntilReset) {
    EXPECT_FALSE(isPatchCancelRequested());
    requestPatchCancel();
    EXPECT_TRUE(isPatchCancelRequested());
    EXPECT_TRUE(patchCancelFlag().load());
    requestPatchCancel();  // a second request changes nothing
    EXPECT_TRUE(isPatchCancelRequested());
    resetPatchCancel();
    EXPECT_FALSE(isPatchCancelRequested());
    EXPECT_FALSE(patchCancelFlag().load());
}

TEST_F(CancelFlagTest, RequestFromAnotherThreadIsSeenByAPollingThread) {
    std::thread poller([] {
        while (!patchCancelFlag().load()) std::this_thread::yield();
    });
    std::thread canceller([] { requestPatchCancel(); });
    canceller.join();
    poller.join();  // would hang if the request never became visible
    EXPECT_TRUE(isPatchCancelRequested());
}

extern "C" void cancelOnSignal(int) { requestPatchCancel(); }

TEST_F(CancelFlagTest, ASignalHandlerCanRequestCancellation) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = cancelOnSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::raise(SIGUSR1);
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(isPatchCancelRequested());
}

}  // namespace
}  // namespace mendly
