#pragma once
// The publisher's one way of spreading items over threads.
#include <cstddef>
#include <functional>
#include <string>

namespace mendly::publish {

// Calls work(i, error) for every i below `count` on up to `threads` threads
// (0 = hardware threads, the caller's among them), joined before it returns.
// After the first call that returns false no new item starts; false then,
// with that call's sentence in `error`. `work` must be safe to call
// concurrently for different items.
[[nodiscard]] bool forEachItem(std::size_t count, unsigned threads,
                               const std::function<bool(std::size_t, std::string&)>& work, std::string& error);

}  // namespace mendly::publish
