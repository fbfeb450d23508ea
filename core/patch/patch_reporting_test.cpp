#include "patch/patch_reporting.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/text.h"

// Under AddressSanitizer a payload that a failed post did not free shows up
// as a leak as soon as the test asks; other builds only check the post itself.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define MENDLY_HAS_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define MENDLY_HAS_LEAK_CHECK 1
#endif
#endif

namespace mendly {
namespace {

struct Posted {
    unsigned message;
    std::intptr_t wParam;
    std::intptr_t lParam;
};

// Everything the callbacks and windows of a test saw, in arrival order.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> events;

    void add(std::string event) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex);
        return std::exchange(events, {});
    }
};
Journal g_journal;

void journalStatus(const std::u16string& text) { g_journal.add("callback status " + toUtf8(text)); }
void journalProgress(std::int32_t done, std::int32_t total) {
    g_journal.add("callback progress " + std::to_string(done) + "/" + std::to_string(total));
}

// A window that queues what it is sent; it owns the string payloads it
// accepted until a test adopts them.
class RecordingWindow : public PatchWindow {
public:
    ~RecordingWindow() override {
        for (const Posted& p : messages_)
            if (p.message != WM_PATCH_PROGRESS) adoptTextPayload(p.lParam);
    }

    bool post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) override {
        std::lock_guard lock(mutex_);
        std::string event = "post " + std::to_string(message);
        if (message == WM_PATCH_PROGRESS)
            event += " " + std::to_string(wParam) + "/" + std::to_string(lParam);
        else if (lParam != 0)
            event += " " + toUtf8(*reinterpret_cast<const std::u16string*>(lParam));
        g_journal.add(event);
        messages_.push_back({message, wParam, lParam});
        return true;
    }

    // Hands the queued messages to the caller, who then owns their payloads.
    std::vector<Posted> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(messages_, {});
    }

private:
    std::mutex mutex_;
    std::vector<Posted> messages_;
};

// A window that is already gone: every post fails.
class ClosedWindow : public PatchWindow {
public:
    bool post(unsigned message, std::intptr_t, std::intptr_t lParam) override {
        ++attempts;
        if (message != WM_PATCH_PROGRESS && lParam != 0)
            lastText = *reinterpret_cast<const std::u16string*>(lParam);  // readable during the call
        return false;
    }
    int attempts = 0;
    std::u16string lastText;
};

// Fails the test when heap memory nothing points to any more exists now.
void expectNothingLeaked() {
#ifdef MENDLY_HAS_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "memory was leaked (LeakSanitizer report above)";
#endif
}

// Posts from its own frame, so no stale copy of a payload pointer stays on
// the test's stack where the leak check would count it as still referenced.
[[gnu::noinline]] void reportStatusTo(PatchWindow* window, const std::u16string& text) { reportStatus(window, text); }
[[gnu::noinline]] bool postFinishedTo(PatchWindow* window, bool ok, const std::u16string& text) {
    return postPatchFinished(window, ok, text);
}

class PatchReportingTest : public ::testing::Test {
protected:
    void SetUp() override {
        setPatchCallbacks(nullptr, nullptr);
        g_journal.take();
    }
    void TearDown() override { setPatchCallbacks(nullptr, nullptr); }
};

TEST_F(PatchReportingTest, WithoutWindowOrCallbacksNothingIsReported) {
    reportStatus(nullptr, u"Downloading manifest...");
    reportProgress(nullptr, 1, 2);
    EXPECT_TRUE(g_journal.take().empty());
}

TEST_F(PatchReportingTest, CallbacksAloneReceiveEveryReport) {
    setPatchCallbacks(journalStatus, journalProgress);
    reportStatus(nullptr, u"Verifying local files...");
    reportProgress(nullptr, 0, 7);
    EXPECT_EQ(g_journal.take(), (std::vector<std::string>{"callback status Verifying local files...",
                                                          "callback progress 0/7"}));
}

TEST_F(PatchReportingTest, EitherCallbackMayBeLeftOut) {
    setPatchCallbacks(nullptr, journalProgress);
    reportStatus(nullptr, u"ignored");
    reportProgress(nullptr, 3, 4);
    setPatchCallbacks(journalStatus, nullptr);
    reportStatus(nullptr, u"seen");
    reportProgress(nullptr, 5, 6);
    EXPECT_EQ(g_journal.take(), (std::vector<std::string>{"callback progress 3/4", "callback status seen"}));
}

TEST_F(PatchReportingTest, CallbackRunsBeforeTheWindowIsPosted) {
    setPatchCallbacks(journalStatus, journalProgress);
    RecordingWindow window;
    reportStatus(&window, u"Applying patches...");
    reportProgress(&window, 0, 1);
    EXPECT_EQ(g_journal.take(), (std::vector<std::string>{
                                    "callback status Applying patches...",
                                    "post 32769 Applying patches...",
                                    "callback progress 0/1",
                                    "post 32770 0/1",
                                }));
}

TEST_F(PatchReportingTest, EachStatusArrivesWithItsOwnStringObject) {
    RecordingWindow window;
    const std::u16string text = u"Verify done: 3 file(s) need patching";
    reportStatus(&window, text);
    reportStatus(&window, text);
    auto messages = window.take();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].lParam, messages[1].lParam);
    for (const Posted& p : messages) {
        EXPECT_EQ(p.message, WM_PATCH_STATUS);
        EXPECT_EQ(p.wParam, 0);
        const auto payload = adoptTextPayload(p.lParam);
        ASSERT_NE(payload, nullptr);
        EXPECT_EQ(*payload, text);
    }
}

TEST_F(PatchReportingTest, ProgressCarriesDoneAndTotalSignExtended) {
    RecordingWindow window;
    reportProgress(&window, 42, 100);
    reportProgress(&window, -1, INT32_MIN);
    const auto messages = window.take();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].message, WM_PATCH_PROGRESS);
    EXPECT_EQ(messages[0].wParam, 42);
    EXPECT_EQ(messages[0].lParam, 100);
    EXPECT_EQ(messages[1].wParam, std::intptr_t{-1});
    EXPECT_EQ(messages[1].lParam, std::intptr_t{INT32_MIN});
}

TEST_F(PatchReportingTest, StatusToAClosedWindowFreesItsPayloadAtOnce) {
    ClosedWindow window;
    // Long enough that the text has its own heap buffer besides the object.
    const std::u16string text = u"Downloading files (12.5 MB/s) and a little more";
    reportStatusTo(&window, text);
    EXPECT_EQ(window.attempts, 1);
    EXPECT_EQ(window.lastText, text);
    expectNothingLeaked();
}

TEST_F(PatchReportingTest, ClosedWindowStillLetsTheCallbackSeeTheReport) {
    setPatchCallbacks(journalStatus, journalProgress);
    ClosedWindow window;
    reportStatus(&window, u"Verifying local files...");
    reportProgress(&window, 1, 2);
    EXPECT_EQ(window.attempts, 2);
    EXPECT_EQ(g_journal.take(), (std::vector<std::string>{"callback status Verifying local files...",
                                                          "callback progress 1/2"}));
}

TEST_F(PatchReportingTest, ReportsFromManyThreadsAllArrive) {
    setPatchCallbacks(journalStatus, journalProgress);
    RecordingWindow window;
    constexpr int kThreads = 8;
    constexpr int kPerThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&window, t] {
            for (int i = 0; i < kPerThread; ++i) {
                reportStatus(&window, u"worker " + toWide(std::to_string(t)) + u" item " + toWide(std::to_string(i)));
                reportProgress(&window, i, kPerThread);
            }
        });
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(g_journal.take().size(), 4u * kThreads * kPerThread);
    std::set<std::u16string> texts;
    int progress = 0;
    for (const Posted& p : window.take()) {
        if (p.message == WM_PATCH_PROGRESS) {
            ++progress;
            continue;
        }
        texts.insert(*adoptTextPayload(p.lParam));
    }
    EXPECT_EQ(progress, kThreads * kPerThread);
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_TRUE(texts.count(u"worker 7 item 199"));
}

class PatchFinishedTest : public ::testing::Test {};

TEST_F(PatchFinishedTest, SuccessWithoutErrorPostsNoPayload) {
    RecordingWindow window;
    EXPECT_TRUE(postPatchFinished(&window, true, u""));
    const auto messages = window.take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_PATCH_FINISHED);
    EXPECT_EQ(messages[0].wParam, 1);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(adoptTextPayload(messages[0].lParam), nullptr);
}

TEST_F(PatchFinishedTest, FailureCarriesTheErrorText) {
    RecordingWindow window;
    EXPECT_TRUE(postPatchFinished(&window, false, u"Manifest contains no files"));
    const auto messages = window.take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].wParam, 0);
    const auto payload = adoptTextPayload(messages[0].lParam);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(*payload, u"Manifest contains no files");
}

TEST_F(PatchFinishedTest, NoWindowOrAClosedOneReportsFailureAndLeaksNothing) {
    EXPECT_FALSE(postPatchFinished(nullptr, false, u"Cancelled"));
    ClosedWindow window;
    const bool posted = postFinishedTo(&window, false, u"Failed to write archive: /x/worlds.pak");
    EXPECT_FALSE(posted);
    EXPECT_EQ(window.lastText, u"Failed to write archive: /x/worlds.pak");
    expectNothingLeaked();
}

}  // namespace
}  // namespace mendly
