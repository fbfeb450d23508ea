#pragma once
// Test double of PageHost: records page calls and notices, queues posted
// messages instead of delivering them, and runs detached work on a real
// thread whose answer waits in a queue until the test "runs the UI thread"
// (deliverDetached). Posted payloads still queued at the end are freed.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/page_host.h"
#include "launcher_app_messages.h"

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

class RecordingPageHost : public PageHost {
public:
    ~RecordingPageHost() override {
        for (auto& worker : workers) worker.join();
    }
    void callPage(std::string_view function, const nlohmann::json& args) override {
        pageCalls.push_back(std::string(function) + args.dump());
    }
    void showNotice(const Notice& notice) override { notices.push_back(notice); }
    std::shared_ptr<PatchWindow> mailbox() override { return box; }
    void runDetached(std::function<nlohmann::json()> work, std::function<void(nlohmann::json)> done) override {
        workers.emplace_back([this, work = std::move(work), done = std::move(done)] {
            nlohmann::json result = work();
            std::lock_guard lock(mutex);
            finished.push_back([done, result] { done(result); });
            ready.notify_all();
        });
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

private:
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::function<void()>> finished;
};

}  // namespace mendly::test
