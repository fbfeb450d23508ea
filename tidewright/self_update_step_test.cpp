#include "self_update_step.h"

#include <gtest/gtest.h>

#include "platform/process.h"

namespace mendly {
namespace {

class SelfUpdateSkipTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (platform::isDebuggerAttached()) GTEST_SKIP() << "a debugger always skips the self-update";
    }
};

TEST_F(SelfUpdateSkipTest, ExactLowerCaseOptionAnywhereSkips) {
    EXPECT_TRUE(selfUpdateSkipped({u"tidewright", u"--skip-self-update"}));
    EXPECT_TRUE(selfUpdateSkipped({u"tidewright", u"--update-all", u"--skip-self-update"}));
}

TEST_F(SelfUpdateSkipTest, OtherSpellingsDoNotSkip) {
    EXPECT_FALSE(selfUpdateSkipped({u"--skip-self-update"}));  // the program name does not count
    EXPECT_FALSE(selfUpdateSkipped({u"tidewright", u"--SKIP-SELF-UPDATE", u"--update-all"}));
    EXPECT_FALSE(selfUpdateSkipped({u"tidewright", u"--skip-self-update "}));
    EXPECT_FALSE(selfUpdateSkipped({u"tidewright", u"--update-single", u"--skip-self-updates"}));
}


}  // namespace
}  // namespace mendly
