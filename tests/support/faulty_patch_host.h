#pragma once
// A patch host on loopback for fault tests. It serves the manifest and the
// files of a PatchHostFolder from the folder on disk at request time (so
// publishing another version of the folder switches what is served), lets any
// path fail in a chosen way until the faults are cleared, paces every answer
// by a delay, and calls a hook as each request arrives (a test kills a
// process there when the Nth file is asked for). Pacing and the hook apply to
// the paths that answer normally, not to faulted ones.
//
// Threads: configure from the test's thread; the hook runs on the server's
// worker threads, several at once, and must be thread-safe.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "support/loopback_server.h"
#include "support/patch_fixture.h"

namespace mendly::test {

class FaultyPatchHost {
public:
    enum class Fault {
        None,
        DropConnection,      // closes the connection without any answer
        NotFound,            // 404
        ServerError,         // 500
        WrongBytes,          // 200 with the first half of the published bytes
        StallBeforeHeaders,  // reads the request and never answers
        StallMidBody,        // 200, the first half of the body, then nothing
        TruncatedBody,       // 200, the first half of the body, then the connection closes
    };
    // Called for every request with its path and the number of requests for
    // files (not the manifest) counted so far, this one included (0 for a
    // manifest request).
    using RequestHook = std::function<void(const std::string& path, std::size_t fileRequests)>;

    // `root` is the folder PatchHostFolder objects publish into.
    explicit FaultyPatchHost(std::filesystem::path root);
    ~FaultyPatchHost();
    FaultyPatchHost(const FaultyPatchHost&) = delete;
    FaultyPatchHost& operator=(const FaultyPatchHost&) = delete;

    LoopbackServer& server() { return *server_; }
    std::string baseUrl() const { return server_->baseUrl(); }

    // Answers the manifest path and every file path of `folder` (call again
    // after adding files to it). Paths keep any fault they have.
    void serve(const PatchHostFolder& folder);

    // `path` is a URL path such as folder.manifestUrlPath() or fileUrlPath(x).
    // The bytes a fault sends are taken from the folder on disk now.
    void setFault(const std::string& path, Fault fault);
    // Every path answers normally again.
    void clearFaults();

    void setDelay(std::chrono::milliseconds delay) { delayMs_.store(delay.count()); }
    void setRequestHook(RequestHook hook);
    std::size_t fileRequests() const { return fileRequests_.load(); }
    void resetFileRequests() { fileRequests_.store(0); }

private:
    void routeNormally(const std::string& path);
    std::string publishedBytes(const std::string& path) const;

    std::filesystem::path root_;
    std::unique_ptr<LoopbackServer> server_;
    std::atomic<long long> delayMs_{0};
    std::atomic<std::size_t> fileRequests_{0};
    std::mutex hookMutex_;
    std::shared_ptr<const RequestHook> hook_;
    std::set<std::string> faulted_;
};

}  // namespace mendly::test
