#pragma once
// MD5s of whole messages handed in by many threads, hashed eight at a time
// in the lanes of an Md5Lanes (md5_lanes.h). A thread that hands in a
// message either waits while another thread hashes it beside others, or,
// when fewer than `hashers` threads are hashing, hashes waiting messages
// itself, its own among them, refilling the lanes from the queue until its
// own is done. Under load the lanes fill as their messages end; alone, a
// message is hashed as fast as one MD5 goes.
//
// Threads: md5Hex() from any number of threads at once. One mutex guards the
// queue, the count of hashing threads and every request's result; a
// request's bytes are read by the hashing thread while their owner waits.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace mendly {

class Md5Gatherer {
public:
    // `hashers`: at most this many threads hash at once (at least one).
    explicit Md5Gatherer(unsigned hashers);
    Md5Gatherer(const Md5Gatherer&) = delete;
    Md5Gatherer& operator=(const Md5Gatherer&) = delete;

    // The MD5 of `bytes`, lowercase hexadecimal. Blocks until it is known;
    // `bytes` must stay unchanged until then.
    std::string md5Hex(std::string_view bytes);

private:
    struct Request {
        std::string_view bytes;
        std::string md5;
        bool done = false;
    };
    void hashWaiting(std::unique_lock<std::mutex>& lock, const Request& own);

    const unsigned hashers_;
    std::mutex mutex_;
    std::condition_variable finished_;
    std::deque<Request*> waiting_;
    unsigned hashing_ = 0;
};

}  // namespace mendly
