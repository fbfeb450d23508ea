#include "hash/md5_gatherer.h"

#include <algorithm>
#include <array>

#include "hash/md5_lanes.h"

namespace mendly {

Md5Gatherer::Md5Gatherer(unsigned hashers) : hashers_(std::max(1u, hashers)) {}

std::string Md5Gatherer::md5Hex(std::string_view bytes) {
    Request request{bytes, {}, false};
    std::unique_lock lock(mutex_);
    waiting_.push_back(&request);
    while (!request.done) {
        if (hashing_ < hashers_ && !waiting_.empty()) {
            hashWaiting(lock, request);
        } else {
            finished_.wait(lock);
        }
    }
    return std::move(request.md5);
}

// Hashes waiting messages, refilling each lane from the queue as its message
// ends while `own` is not done, then finishes those in the lanes: a thread
// hashes for others only as long as it waits for its own message anyway.
// Called and returns with the lock held; hashes with it released.
void Md5Gatherer::hashWaiting(std::unique_lock<std::mutex>& lock, const Request& own) {
    ++hashing_;
    Md5Lanes lanes;
    std::array<Request*, Md5Lanes::kLanes> inLane{};
    for (;;) {
        bool busy = false;
        for (std::size_t k = 0; k < inLane.size(); ++k) {
            if (!inLane[k] && !own.done && !waiting_.empty()) {
                inLane[k] = waiting_.front();
                waiting_.pop_front();
                lanes.give(k, inLane[k]->bytes);
            }
            busy = busy || inLane[k];
        }
        if (!busy) break;
        lock.unlock();
        lanes.hash();
        lock.lock();
        bool ended = false;
        for (std::size_t k = 0; k < inLane.size(); ++k) {
            if (!inLane[k] || !lanes.wants(k)) continue;
            inLane[k]->md5 = lanes.finishHex(k);
            inLane[k]->done = true;
            inLane[k] = nullptr;
            ended = true;
        }
        if (ended) finished_.notify_all();
    }
    --hashing_;
    finished_.notify_all();  // a waiting thread may hash now
}

}  // namespace mendly
