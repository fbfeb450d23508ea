#include "bridge/shared_work_pool.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace mendly {

struct SharedWorkPool::State {
    struct Job {
        std::string key;
        Work work;
        std::vector<Done> waiters;
    };

    Limits limits;
    Deliver deliver;
    StartThread startThread;

    std::mutex mutex;  // guards everything below
    std::deque<std::shared_ptr<Job>> queue;
    std::map<std::string, std::shared_ptr<Job>> byKey;  // waiting and running jobs with a key
    std::size_t workers = 0;
    std::size_t mostWorkers = 0;
    bool closed = false;

    // The body of one worker thread; `self` keeps the state alive.
    static void runWorker(const std::shared_ptr<State>& self) {
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::lock_guard lock(self->mutex);
                if (self->queue.empty() || self->closed) {
                    --self->workers;
                    return;
                }
                job = std::move(self->queue.front());
                self->queue.pop_front();
            }
            nlohmann::json result;
            try {
                result = job->work();
            } catch (...) {
                result = nlohmann::json();  // the caller sees null rather than waiting forever
            }
            std::vector<Done> waiters;
            {
                std::lock_guard lock(self->mutex);
                if (!job->key.empty()) self->byKey.erase(job->key);
                waiters = std::move(job->waiters);
            }
            self->deliver([self, waiters = std::move(waiters), result = std::move(result)] {
                if (self->closed) return;  // read on the UI thread, which alone writes it
                for (const auto& done : waiters) done(result);
            });
        }
    }
};

SharedWorkPool::SharedWorkPool(Limits limits, Deliver deliver, StartThread startThread)
    : state_(std::make_shared<State>()) {
    state_->limits = limits;
    state_->deliver = std::move(deliver);
    state_->startThread = startThread ? std::move(startThread) : [](std::function<void()> body) {
        std::thread(std::move(body)).detach();
    };
}

SharedWorkPool::~SharedWorkPool() {
    std::deque<std::shared_ptr<State::Job>> dropped;
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    dropped.swap(state_->queue);
    state_->byKey.clear();
}

SharedWorkPool::Submitted SharedWorkPool::submit(const std::string& key, Work work, Done done) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    if (!key.empty()) {
        if (const auto found = s.byKey.find(key); found != s.byKey.end()) {
            found->second->waiters.push_back(std::move(done));
            return Submitted::Joined;
        }
    }
    if (s.queue.size() >= s.limits.queued) return Submitted::Busy;
    auto job = std::make_shared<State::Job>(State::Job{key, std::move(work), {}});
    job->waiters.push_back(std::move(done));
    s.queue.push_back(job);
    if (!key.empty()) s.byKey.emplace(key, job);
    if (s.workers >= s.limits.threads) return Submitted::Queued;

    ++s.workers;
    s.mostWorkers = std::max(s.mostWorkers, s.workers);
    lock.unlock();
    try {
        s.startThread([self = state_] { State::runWorker(self); });
        return Submitted::Queued;
    } catch (const std::system_error&) {
    }
    lock.lock();
    --s.workers;
    if (s.workers > 0) return Submitted::Queued;  // a running worker takes it
    // Nothing will run it: take it back, unless a worker that was just ending
    // took it already.
    const auto at = std::find(s.queue.begin(), s.queue.end(), job);
    if (at == s.queue.end()) return Submitted::Queued;
    s.queue.erase(at);
    if (!key.empty()) s.byKey.erase(key);
    return Submitted::NoThread;
}

std::size_t SharedWorkPool::workers() const {
    std::lock_guard lock(state_->mutex);
    return state_->workers;
}

std::size_t SharedWorkPool::mostWorkers() const {
    std::lock_guard lock(state_->mutex);
    return state_->mostWorkers;
}

}  // namespace mendly
