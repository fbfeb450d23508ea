#include "support/faulty_patch_host.h"

#include <fstream>
#include <iterator>
#include <thread>

namespace mendly::test {
namespace fs = std::filesystem;

FaultyPatchHost::FaultyPatchHost(fs::path root)
    : root_(std::move(root)), server_(std::make_unique<LoopbackServer>()) {}

// The server goes first: its handlers use this object.
FaultyPatchHost::~FaultyPatchHost() { server_.reset(); }

std::string FaultyPatchHost::publishedBytes(const std::string& path) const {
    std::ifstream in(root_ / fs::path(path).relative_path(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void FaultyPatchHost::routeNormally(const std::string& path) {
    server_->route(path, [this](const LoopbackRequest& request, LoopbackReply& reply) {
        const bool manifest = request.path.ends_with(".manifest");
        const std::size_t count = manifest ? 0 : fileRequests_.fetch_add(1) + 1;
        std::shared_ptr<const RequestHook> hook;
        {
            const std::lock_guard lock(hookMutex_);
            hook = hook_;
        }
        if (hook && *hook) (*hook)(request.path, count);
        if (const long long delay = delayMs_.load(); delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        const fs::path file = root_ / fs::path(request.path).relative_path();
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            reply.status = 404;
            reply.body = "Not Found";
            return;
        }
        reply.status = 200;
        reply.body = publishedBytes(request.path);
    });
}

void FaultyPatchHost::serve(const PatchHostFolder& folder) {
    std::set<std::string> paths{folder.manifestUrlPath()};
    for (const auto& file : folder.files()) paths.insert(folder.fileUrlPath(file.relative));
    for (const std::string& path : paths)
        if (!faulted_.contains(path)) routeNormally(path);
}

void FaultyPatchHost::setFault(const std::string& path, Fault fault) {
    const std::string bytes = publishedBytes(path);
    const std::string half = bytes.substr(0, bytes.size() / 2);
    faulted_.insert(path);
    switch (fault) {
        case Fault::None:
            faulted_.erase(path);
            routeNormally(path);
            break;
        case Fault::DropConnection: server_->dropConnection(path); break;
        case Fault::NotFound: server_->respond(path, 404, "Not Found", "text/plain"); break;
        case Fault::ServerError: server_->respond(path, 500, "Internal Server Error", "text/plain"); break;
        case Fault::WrongBytes: server_->respond(path, 200, half); break;
        case Fault::StallBeforeHeaders: server_->stallBeforeHeaders(path); break;
        case Fault::StallMidBody: server_->stallMidBody(path, half, bytes.size()); break;
        case Fault::TruncatedBody: server_->truncateBody(path, half, bytes.size()); break;
    }
}

void FaultyPatchHost::clearFaults() {
    for (const std::string& path : faulted_) routeNormally(path);
    faulted_.clear();
}

void FaultyPatchHost::setRequestHook(RequestHook hook) {
    auto shared = std::make_shared<const RequestHook>(std::move(hook));
    const std::lock_guard lock(hookMutex_);
    hook_ = std::move(shared);
}

}  // namespace mendly::test
