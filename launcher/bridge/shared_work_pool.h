#pragma once
// Work that the UI thread hands to a small, bounded set of worker threads,
// with each result handed back to the UI thread.
//
// - At most Limits::threads workers exist at once. A worker is started when
//   work is queued and fewer than that run; it takes queued work in order and
//   ends when none is left, so an idle pool holds no thread.
// - At most Limits::queued pieces of work wait; more is refused (Busy).
// - Work given a non-empty key joins work of the same key that is still
//   waiting or running: the new `done` gets that work's result, and the new
//   `work` is dropped. So a page asking for one feed many times fetches it once.
// - A thread that cannot be started (std::system_error from the platform)
//   leaves the work queued when another worker is running, which takes it;
//   when none is, the work is dropped and submit() answers NoThread.
//
// Threads: submit() and the destructor on the UI thread; `work` on a worker;
// `done` on the UI thread, reached through the Deliver function. Ownership:
// the queue, the jobs by key and the worker count form one State behind one
// mutex, shared by the pool and its workers, because a worker may outlive the
// pool: its work finishes, and its `done` callbacks are destroyed on the UI
// thread without being called.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace mendly {

class SharedWorkPool {
public:
    using Work = std::function<nlohmann::json()>;
    using Done = std::function<void(nlohmann::json)>;
    // Runs `task` on the UI thread later; any thread may call it. A task that
    // is never run must be destroyed on the UI thread or not at all.
    using Deliver = std::function<void(std::function<void()> task)>;
    // Starts a detached thread running `body`; throws std::system_error when
    // none can be created. Empty: std::thread.
    using StartThread = std::function<void(std::function<void()> body)>;

    struct Limits {
        std::size_t threads = 4;
        std::size_t queued = 64;
    };
    enum class Submitted { Queued, Joined, Busy, NoThread };

    SharedWorkPool(Limits limits, Deliver deliver, StartThread startThread = {});
    // Waiting work is dropped (its `done` destroyed here, not called).
    ~SharedWorkPool();
    SharedWorkPool(const SharedWorkPool&) = delete;
    SharedWorkPool& operator=(const SharedWorkPool&) = delete;

    // Queued and Joined: `done` will be called once with the result (null when
    // `work` threw). Busy and NoThread: `done` is never called.
    Submitted submit(const std::string& key, Work work, Done done);

    // The workers running now, and the most that ever ran at once.
    std::size_t workers() const;
    std::size_t mostWorkers() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace mendly
