#pragma once
// Tests only: a GoogleTest suite whose tests share one private Xvfb display
// (virtual_display.h), started before the suite's first test and ended after
// its last. A suite derives from DisplaySuite and reads `display`.
#include <gtest/gtest.h>

#include "virtual_display.h"

namespace mendly::test {

class DisplaySuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        display = new VirtualDisplay;
        ASSERT_TRUE(display->start());
    }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }

    // Suites run one after another, so one pointer serves them all.
    inline static VirtualDisplay* display = nullptr;
};

}  // namespace mendly::test
