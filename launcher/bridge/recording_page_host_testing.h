#pragma once
// Test double of PageHost: records page calls, notices, questions, prompts,
// task bar changes and patch starts; queues posted messages instead of
// delivering them; runs detached work on a real SharedWorkPool (two threads,
// eight waiting) whose answers wait in a queue until the test "runs the UI
// thread" (deliverDetached); with threadsFail set no worker thread can be
// started. Posted payloads still queued at the end are freed.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <system_error>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/page_host.h"
#include "bridge/page_refresh.h"
#include "bridge/shared_work_pool.h"
#include "launcher_app_messages.h"
#include "model/fake_shell_opener.h"
#include "tasks/patch_worker.h"

namespace mendly::test {

class QueueMailbox : public PatchWindow {
public:
    bool open = true;
    ~QueueMailbox() override {
        for (const auto& message : messages) freeLauncherPayload(message);
    }
    bool post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) override {
        std::lock_guard lock(mutex);
        if (!open) return false;
        messages.push_back({message, wParam, lParam});
        return true;
    }
    std::vector<PostedMessage> take() {
        std::lock_guard lock(mutex);
        std::vector<PostedMessage> out(messages.begin(), messages.end());
        messages.clear();
        return out;
    }
    std::mutex mutex;
    std::deque<PostedMessage> messages;
};

class RecordingTaskbar : public TaskbarProgress {
public:
    void off() override { calls.push_back("off"); }
    void error() override { calls.push_back("error"); }
    void busy() override { calls.push_back("busy"); }
    void value(std::int64_t done, std::int64_t total) override {
        calls.push_back("value " + std::to_string(done) + "/" + std::to_string(total));
    }
    std::vector<std::string> calls;
};

// What startPatch does: keep the start for the test to look at, run the real
// worker thread, or fail as a system without threads would.
enum class PatchStarts { Record, Run, FailToStart };

struct DuplicatePromptCall {
    std::string defaultName;
    std::string defaultDescription;
};

class RecordingPageHost : public PageHost {
public:
    static constexpr SharedWorkPool::Limits kPoolLimits{2, 8};

    ~RecordingPageHost() override {
        std::unique_lock lock(mutex);
        ready.wait(lock, [this] { return runningThreads == 0; });
    }
    void callPage(std::string_view function, const nlohmann::json& args) override {
        pageCalls.push_back(std::string(function) + args.dump());
    }
    // Unpaced: every request pushes at once.
    void requestRefresh(const LauncherState* state) override { refreshPage(state, *this); }
    void showNotice(const Notice& notice) override { notices.push_back(notice); }
    std::shared_ptr<PatchWindow> mailbox() override { return box; }
    DetachedStart runDetached(const std::string& key, std::function<nlohmann::json()> work,
                              std::function<void(nlohmann::json)> done) override {
        switch (pool.submit(key, std::move(work), std::move(done))) {
            case SharedWorkPool::Submitted::Queued:
            case SharedWorkPool::Submitted::Joined: return DetachedStart::Accepted;
            case SharedWorkPool::Submitted::Busy: return DetachedStart::Busy;
            case SharedWorkPool::Submitted::NoThread: break;
        }
        return DetachedStart::NoThread;
    }
    bool askYesNo(const Notice& question) override {
        questions.push_back(question);
        return answerYes;
    }
    DuplicatePromptResult promptDuplicate(const std::string& defaultName, const std::string& defaultDescription,
                                          const ServerCatalog&) override {
        prompts.push_back({defaultName, defaultDescription});
        return promptAnswer;
    }
    ShellOpener& shell() override { return opener; }
    TaskbarProgress& taskbar() override { return taskbarRecord; }
    void startPatch(PatchStart start) override {
        switch (patchStarts) {
            case PatchStarts::Record: starts.push_back(std::move(start)); break;
            case PatchStarts::Run: startPatchAsync(box, std::move(start)); break;
            case PatchStarts::FailToStart:
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
    }
    // Waits until a message of kind `message` is queued (a real worker's end),
    // up to 60 s; false on time-out.
    bool waitForMessage(unsigned message) {
        for (int i = 0; i < 6000; ++i) {
            {
                std::lock_guard lock(box->mutex);
                for (const auto& queued : box->messages)
                    if (queued.message == message) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Waits for `count` detached results and runs their answers here.
    bool deliverDetached(std::size_t count) {
        std::unique_lock lock(mutex);
        if (!ready.wait_for(lock, std::chrono::seconds(20), [&] { return finished.size() >= count; })) return false;
        auto answers = std::move(finished);
        finished.clear();
        lock.unlock();
        for (auto& answer : answers) answer();
        return true;
    }

    std::shared_ptr<QueueMailbox> box = std::make_shared<QueueMailbox>();
    std::vector<std::string> pageCalls;
    std::vector<Notice> notices;
    std::vector<Notice> questions;
    bool answerYes = false;
    std::vector<DuplicatePromptCall> prompts;
    DuplicatePromptResult promptAnswer;
    FakeShellOpener opener;
    RecordingTaskbar taskbarRecord;
    PatchStarts patchStarts = PatchStarts::Record;
    std::vector<PatchStart> starts;
    std::atomic<bool> threadsFail{false};

private:
    void startThread(std::function<void()> body) {
        if (threadsFail) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        std::lock_guard lock(mutex);
        ++runningThreads;
        std::thread([this, body = std::move(body)] {
            body();
            std::lock_guard done(mutex);
            --runningThreads;
            ready.notify_all();
        }).detach();
    }

    std::mutex mutex;  // guards finished and runningThreads
    std::condition_variable ready;
    std::vector<std::function<void()>> finished;
    std::size_t runningThreads = 0;

public:
    SharedWorkPool pool{kPoolLimits,
                        [this](std::function<void()> task) {
                            std::lock_guard lock(mutex);
                            finished.push_back(std::move(task));
                            ready.notify_all();
                        },
                        [this](std::function<void()> body) { startThread(std::move(body)); }};
};

}  // namespace mendly::test
