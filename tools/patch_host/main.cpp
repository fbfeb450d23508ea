// patch_host: a static patch host for local runs. Serves the files below a
// folder over HTTP GET/HEAD with Content-Length, streams them from disk, lists
// no folders and refuses paths that leave the folder. Stops cleanly on SIGINT
// or SIGTERM (exit code 0); bad arguments give exit code 2, a folder or
// address that cannot be used exit code 1.
//
// Threads: main runs the accept loop; cpp-httplib's pool answers requests;
// one thread waits for the stop signals, which are blocked everywhere else.
#include "host_options.h"
#include "static_root.h"

#include <httplib.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using patch_host::HostOptions;
using patch_host::StaticRoot;

constexpr std::size_t kChunk = 256 * 1024;

// Holds a body back to `rate` bytes per second (0: no limit): each piece
// waits until the bytes sent so far are due. One per answer.
class BodyPace {
public:
    explicit BodyPace(long long rate) : rate_(rate), start_(std::chrono::steady_clock::now()) {}
    // The most to send in one piece: an eighth of a second's worth.
    std::size_t pieceLimit(std::size_t wanted) const {
        return rate_ > 0 ? std::min<std::size_t>(wanted, static_cast<std::size_t>(std::max(1LL, rate_ / 8))) : wanted;
    }
    void waitFor(std::size_t sentBefore) const {
        if (rate_ <= 0) return;
        std::this_thread::sleep_until(start_ + std::chrono::microseconds(static_cast<long long>(sentBefore) *
                                                                         1000000 / rate_));
    }

private:
    long long rate_;
    std::chrono::steady_clock::time_point start_;
};

void answerFile(const StaticRoot& root, const httplib::Request& req, httplib::Response& res, long long rate) {
    const auto file = root.resolve(req.path);
    std::error_code ec;
    const auto size = file ? std::filesystem::file_size(*file, ec) : 0;
    auto in = file && !ec ? std::make_shared<std::ifstream>(*file, std::ios::binary) : nullptr;
    if (!in || !*in) {
        res.status = 404;
        res.set_content("Not Found\n", "text/plain");
        return;
    }
    res.status = 200;
    auto pace = std::make_shared<BodyPace>(rate);
    res.set_content_provider(
        static_cast<std::size_t>(size), "application/octet-stream",
        [in, pace, buffer = std::make_shared<std::string>(kChunk, '\0')](std::size_t offset, std::size_t length,
                                                                         httplib::DataSink& sink) {
            pace->waitFor(offset);
            // A file that shrank while being sent ends the connection short.
            in->seekg(static_cast<std::streamoff>(offset));
            in->read(buffer->data(), static_cast<std::streamsize>(pace->pieceLimit(std::min(length, buffer->size()))));
            const auto got = in->gcount();
            if (got <= 0) return false;
            return sink.write(buffer->data(), static_cast<std::size_t>(got));
        });
}

std::string baseAddress(const std::string& bind, int port) {
    const bool ipv6 = bind.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + bind + "]" : bind) + ":" + std::to_string(port);
}

// Keep-alive, backlog, worker pool, delay, file answers and request log as
// `options` say. The socket being listened on is stored in `listening` once
// bound; `root` must outlive the server.
void configureServer(httplib::Server& server, const HostOptions& options, const StaticRoot& root,
                     std::atomic<int>& listening) {
    server.set_keep_alive_timeout(2);
    // Clients reuse connections for many small files: keep them for many
    // requests, and send each answer at once (no waiting for an ACK).
    server.set_keep_alive_max_count(1000);
    server.set_tcp_nodelay(true);
    // The library listens with a backlog of 5, so clients that open many
    // connections at once would see some dropped and retried a second later.
    // Listening again on the bound socket raises the backlog.
    server.set_socket_options([&listening](socket_t sock) {
        httplib::default_socket_options(sock);
        listening = sock;
    });
    // Enough workers for clients that keep many transfers in flight.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    if (options.delayMs > 0) {
        const auto delay = std::chrono::milliseconds(options.delayMs);
        server.set_pre_routing_handler([delay](const httplib::Request&, httplib::Response&) {
            std::this_thread::sleep_for(delay);
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    server.Get(".*", [&root, rate = options.rate](const httplib::Request& req, httplib::Response& res) {
        answerFile(root, req, res, rate);
    });
    if (options.logRequests) {
        auto logMutex = std::make_shared<std::mutex>();
        server.set_logger([logMutex](const httplib::Request& req, const httplib::Response& res) {
            const std::lock_guard lock(*logMutex);
            std::fprintf(stderr, "%s %s %s %d\n", req.remote_addr.c_str(), req.method.c_str(), req.target.c_str(),
                         res.status);
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    std::string error;
    if (!patch_host::parseHostOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "patch_host: %s\n%s", error.c_str(), patch_host::kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(patch_host::kUsage, stdout);
        return 0;
    }
    StaticRoot root;
    if (!root.open(options.root)) {
        std::fprintf(stderr, "patch_host: \"%s\" is not a folder\n", options.root.c_str());
        return 1;
    }

    // Before any thread exists, so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    std::atomic<int> listening{-1};
    configureServer(server, options, root, listening);

    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.bind);
    } else if (!server.bind_to_port(options.bind, port)) {
        port = -1;
    }
    if (port > 0 && listening >= 0) ::listen(listening, SOMAXCONN);
    if (port <= 0) {
        std::fprintf(stderr, "patch_host: cannot listen on %s port %d\n", options.bind.c_str(), options.port);
        return 1;
    }
    std::printf("%s\n", baseAddress(options.bind, port).c_str());
    std::fflush(stdout);

    std::atomic<bool> listeningDone{false};
    std::atomic<bool> stoppedBySignal{false};
    std::thread waiter([&] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        if (listeningDone) return;
        stoppedBySignal = true;
        // stop() only takes effect once the accept loop runs; repeat until it has ended.
        while (!listeningDone) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    server.listen_after_bind();
    listeningDone = true;
    if (!stoppedBySignal) pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    if (!stoppedBySignal) {
        std::fprintf(stderr, "patch_host: the server stopped unexpectedly\n");
        return 1;
    }
    return 0;
}
