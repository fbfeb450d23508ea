// The server is cpp-httplib. Every translation unit that includes <httplib.h>
// must see the same configuration as the installed library was built with
// (its classes change layout with TLS support), so <httplib.h> is included
// here only and never from a header.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include "support/loopback_server.h"

#include "log/text.h"
#include "support/temp_dir.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace mendly::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// The self-signed certificate: one EC P-256 key and certificate for the whole
// process, valid for IP 127.0.0.1 and DNS localhost, kept in memory for the
// servers and written as PEM for clients that are told to trust it.

struct Certificate {
    TempDir folder{"mendly-loopback-cert"};
    fs::path pemFile;
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;

    Certificate() { make(); }
    ~Certificate() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    static void addExtension(X509* x, int nid, const char* value) {
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        if (ext == nullptr) throw std::runtime_error("certificate extension");
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }

    void make() {
        key = EVP_EC_gen("P-256");
        cert = X509_new();
        if (key == nullptr || cert == nullptr) throw std::runtime_error("certificate key");
        X509_set_version(cert, 2);
        unsigned char serial[8];
        RAND_bytes(serial, sizeof serial);
        serial[0] &= 0x7F;
        BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
        BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
        BN_free(bn);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 60L * 60 * 24 * 30);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("mendly loopback test server"), -1, -1,
                                   0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        addExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert, NID_key_usage, "critical,digitalSignature,keyCertSign");
        addExtension(cert, NID_subject_key_identifier, "hash");
        addExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
        if (X509_sign(cert, key, EVP_sha256()) == 0) throw std::runtime_error("certificate signature");

        pemFile = folder.path() / "loopback-cert.pem";
        BIO* out = BIO_new_file(pemFile.c_str(), "w");
        if (out == nullptr) throw std::runtime_error("certificate file");
        PEM_write_bio_X509(out, cert);
        BIO_free(out);
    }
};

const Certificate& certificate() {
    static const Certificate instance;
    return instance;
}

// ---------------------------------------------------------------------------
// Closing one accepted connection from inside its handler. cpp-httplib does
// not hand the socket to handlers, so it is found among the process's open
// descriptors by its address pair, which only that connection has.

std::uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

void shutDownConnection(const httplib::Request& req) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localLength = sizeof local;
        socklen_t peerLength = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) continue;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
        if (portOf(local) == req.local_port && portOf(peer) == req.remote_port) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}

// Requests to this server must never go through a proxy named in the
// environment. Set while the program is still single-threaded (static
// initialisation), before any client reads the environment.
const bool kLoopbackBypassesProxies = [] {
    for (const char* name : {"no_proxy", "NO_PROXY"}) ::setenv(name, "127.0.0.1,localhost,::1,.invalid", 1);
    return true;
}();

char patternByte(std::size_t offset) { return static_cast<char>('a' + offset % 26); }

using RawHandler = std::function<void(const httplib::Request&, httplib::Response&)>;

}  // namespace

// ---------------------------------------------------------------------------

struct LoopbackServer::Impl {
    Scheme scheme = Scheme::Http;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;  // a request arrived, or the server is stopping
    bool stopping = false;
    std::map<std::string, RawHandler, std::less<>> routes;
    std::vector<std::pair<std::string, fs::path>> folders;  // (URL prefix, folder)
    std::vector<LoopbackRequest> log;
    std::map<std::string, std::size_t, std::less<>> counts;
    std::map<std::string, std::size_t, std::less<>> sent;
    Clock::duration answerDelay{};
    std::size_t answering = 0;  // requests being answered now
    std::size_t mostAnswering = 0;

    // Sleeps up to `limit`; true when the server started stopping meanwhile.
    bool waitUntilStopping(Clock::duration limit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [this] { return stopping; });
    }

    void addRoute(std::string path, RawHandler handler) {
        const std::lock_guard lock(mutex);
        routes.insert_or_assign(std::move(path), std::move(handler));
    }

    void countSent(const std::string& path, std::size_t bytes) {
        const std::lock_guard lock(mutex);
        sent[path] += bytes;
    }

    static LoopbackRequest describe(const httplib::Request& req) {
        LoopbackRequest r;
        r.method = req.method;
        r.path = req.path;
        r.target = req.target;
        r.userAgent = req.get_header_value("User-Agent");
        for (const auto& [name, value] : req.headers) r.headers.emplace(name, value);
        return r;
    }

    // Counts a request as being answered for its lifetime.
    struct Answering {
        Impl& impl;
        explicit Answering(Impl& i) : impl(i) {
            const std::lock_guard lock(impl.mutex);
            impl.mostAnswering = std::max(impl.mostAnswering, ++impl.answering);
        }
        ~Answering() {
            const std::lock_guard lock(impl.mutex);
            --impl.answering;
        }
        Answering(const Answering&) = delete;
        Answering& operator=(const Answering&) = delete;
    };

    void dispatch(const httplib::Request& req, httplib::Response& res) {
        const Answering answering(*this);
        RawHandler handler;
        std::vector<std::pair<std::string, fs::path>> served;
        Clock::duration delay{};
        {
            const std::lock_guard lock(mutex);
            log.push_back(describe(req));
            ++counts[req.path];
            if (const auto it = routes.find(req.path); it != routes.end()) handler = it->second;
            served = folders;
            delay = answerDelay;
        }
        changed.notify_all();
        if (delay > Clock::duration::zero() && waitUntilStopping(delay)) {
            res.status = 503;
            return;
        }
        if (handler) {
            handler(req, res);
            return;
        }
        for (const auto& [prefix, folder] : served) {
            if (serveFile(prefix, folder, req.path, res)) return;
        }
        res.status = 404;
        res.set_content("Not Found", "text/plain");
    }

    static bool serveFile(const std::string& prefix, const fs::path& folder, const std::string& path,
                          httplib::Response& res) {
        if (path.compare(0, prefix.size(), prefix) != 0) return false;
        fs::path file = folder;
        std::string_view rest(path);
        rest.remove_prefix(prefix.size());
        while (!rest.empty()) {
            const auto slash = rest.find('/');
            const auto part = rest.substr(0, slash);
            if (part == "..") return false;
            if (!part.empty() && part != ".") file /= part;
            if (slash == std::string_view::npos) break;
            rest.remove_prefix(slash + 1);
        }
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) return false;
        std::ifstream in(file, std::ios::binary);
        if (!in) return false;
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        res.status = 200;
        res.set_content(std::move(bytes), "application/octet-stream");
        return true;
    }
};

LoopbackServer::LoopbackServer(Scheme scheme, KeepAlive keepAlive, std::uint16_t port)
    : impl_(std::make_unique<Impl>()) {
    impl_->scheme = scheme;
    if (scheme == Scheme::Https) {
        const Certificate& c = certificate();
        impl_->server = std::make_unique<httplib::SSLServer>(c.cert, c.key);
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    httplib::Server& s = *impl_->server;
    s.new_task_queue = [] { return new httplib::ThreadPool(32); };
    s.set_keep_alive_max_count(keepAlive == KeepAlive::On ? 100 : 1);
    s.set_keep_alive_timeout(1);
    s.set_read_timeout(5);
    s.set_write_timeout(5);
    Impl* impl = impl_.get();
    s.Get(".*", [impl](const httplib::Request& req, httplib::Response& res) { impl->dispatch(req, res); });

    // The library listens with a backlog of 5; a client with 16 transfers in
    // flight (and no keep-alive) would see connections dropped and retried a
    // second later. Listening again on the bound socket raises the backlog.
    std::atomic<int> listening{-1};
    s.set_socket_options([&listening](socket_t sock) {
        httplib::default_socket_options(sock);
        listening = sock;
    });
    impl_->port = port == 0 ? s.bind_to_any_port("127.0.0.1") : (s.bind_to_port("127.0.0.1", port) ? port : -1);
    if (impl_->port <= 0) throw std::runtime_error("the loopback server could not bind to 127.0.0.1");
    if (listening >= 0) ::listen(listening, SOMAXCONN);
    s.set_socket_options(httplib::default_socket_options);
    impl_->listener = std::thread([impl] { impl->server->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs, so wait for it.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!s.is_running() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() {
    {
        const std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    impl_->server->stop();
    if (impl_->listener.joinable()) impl_->listener.join();
}

void LoopbackServer::setAnswerDelay(std::chrono::milliseconds delay) {
    const std::lock_guard lock(impl_->mutex);
    impl_->answerDelay = delay;
}

std::size_t LoopbackServer::mostRequestsAtOnce() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->mostAnswering;
}

std::uint16_t LoopbackServer::port() const { return static_cast<std::uint16_t>(impl_->port); }

std::string LoopbackServer::baseUrl() const {
    return std::string(impl_->scheme == Scheme::Https ? "https" : "http") + "://127.0.0.1:" +
           std::to_string(impl_->port);
}

std::string LoopbackServer::url(std::string_view path) const { return baseUrl() + std::string(path); }

std::u16string LoopbackServer::wideUrl(std::string_view path) const { return toWide(url(path)); }

fs::path LoopbackServer::certificateFile() { return certificate().pemFile; }

void LoopbackServer::route(std::string path, Handler handler) {
    impl_->addRoute(std::move(path), [handler = std::move(handler)](const httplib::Request& req,
                                                                    httplib::Response& res) {
        LoopbackReply reply;
        handler(Impl::describe(req), reply);
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers) res.set_header(name, value);
        res.set_content(std::move(reply.body), reply.contentType);
    });
}

void LoopbackServer::respond(std::string path, int status, std::string body, std::string contentType) {
    impl_->addRoute(std::move(path), [=](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, contentType);
    });
}

void LoopbackServer::redirect(std::string path, std::string location, int status) {
    impl_->addRoute(std::move(path), [=](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_header("Location", location);
    });
}

void LoopbackServer::stallBeforeHeaders(std::string path) {
    Impl* impl = impl_.get();
    impl_->addRoute(std::move(path), [impl](const httplib::Request& req, httplib::Response& res) {
        impl->waitUntilStopping(kMaxWait);
        // Whatever happens to the connection now, no answer may reach the client.
        shutDownConnection(req);
        res.status = 503;
    });
}

void LoopbackServer::stallMidBody(std::string path, std::string sentPart, std::size_t declaredLength) {
    Impl* impl = impl_.get();
    impl_->addRoute(std::move(path), [impl, sentPart, declaredLength](const httplib::Request&,
                                                                      httplib::Response& res) {
        res.status = 200;
        res.set_content_provider(
            declaredLength, "application/octet-stream",
            [impl, sentPart](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset < sentPart.size()) return sink.write(sentPart.data() + offset, sentPart.size() - offset);
                impl->waitUntilStopping(kMaxWait);
                return false;
            });
    });
}

void LoopbackServer::truncateBody(std::string path, std::string sentPart, std::size_t declaredLength) {
    impl_->addRoute(std::move(path), [sentPart, declaredLength](const httplib::Request&, httplib::Response& res) {
        res.status = 200;
        res.set_content_provider(declaredLength, "application/octet-stream",
                                 [sentPart](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset < sentPart.size()) {
                                         return sink.write(sentPart.data() + offset, sentPart.size() - offset);
                                     }
                                     return false;  // cpp-httplib closes the connection
                                 });
    });
}

void LoopbackServer::dropConnection(std::string path) {
    impl_->addRoute(std::move(path), [](const httplib::Request& req, httplib::Response& res) {
        shutDownConnection(req);
        res.status = 500;
    });
}

void LoopbackServer::streamBody(std::string path, std::size_t chunkSize, std::chrono::milliseconds interval,
                                std::size_t total) {
    Impl* impl = impl_.get();
    const std::string key = path;
    impl_->addRoute(std::move(path), [impl, key, chunkSize, interval, total](const httplib::Request&,
                                                                              httplib::Response& res) {
        const auto deadline = Clock::now() + kMaxWait;
        auto writeChunk = [impl, key, chunkSize, interval, deadline](std::size_t offset, std::size_t room,
                                                                     httplib::DataSink& sink) {
            if (impl->waitUntilStopping(interval) || Clock::now() > deadline) return false;
            const std::size_t n = std::min(chunkSize, room);
            std::string chunk(n, '\0');
            for (std::size_t i = 0; i < n; ++i) chunk[i] = patternByte(offset + i);
            if (!sink.write(chunk.data(), chunk.size())) return false;
            impl->countSent(key, n);
            return true;
        };
        res.status = 200;
        if (total == 0) {
            res.set_chunked_content_provider(
                "application/octet-stream", [writeChunk](std::size_t offset, httplib::DataSink& sink) {
                    return writeChunk(offset, static_cast<std::size_t>(-1), sink);
                });
        } else {
            res.set_content_provider(total, "application/octet-stream",
                                     [writeChunk](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                         return writeChunk(offset, length, sink);
                                     });
        }
    });
}

void LoopbackServer::serveFolder(fs::path folder, std::string urlPrefix) {
    if (urlPrefix.empty() || urlPrefix.back() != '/') urlPrefix += '/';
    const std::lock_guard lock(impl_->mutex);
    impl_->folders.emplace_back(std::move(urlPrefix), std::move(folder));
}

std::vector<LoopbackRequest> LoopbackServer::requests() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::size_t LoopbackServer::requestCount(std::string_view path) const {
    const std::lock_guard lock(impl_->mutex);
    const auto it = impl_->counts.find(path);
    return it == impl_->counts.end() ? 0 : it->second;
}

std::size_t LoopbackServer::totalRequests() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->log.size();
}

std::size_t LoopbackServer::bytesSent(std::string_view path) const {
    const std::lock_guard lock(impl_->mutex);
    const auto it = impl_->sent.find(path);
    return it == impl_->sent.end() ? 0 : it->second;
}

bool LoopbackServer::waitForRequests(std::string_view path, std::size_t count,
                                     std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] {
        const auto it = impl_->counts.find(path);
        return impl_->stopping || (it != impl_->counts.end() && it->second >= count);
    }) && !impl_->stopping;
}

std::uint16_t unusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace mendly::test
