#include "host_options.h"

#include <charconv>
#include <string_view>

namespace patch_host {

const char* const kUsage =
    "Usage: patch_host --root DIR [--bind ADDRESS] [--port N] [--log] [--delay MS] [--rate BYTES]\n"
    "Serves the files below DIR over HTTP GET (and HEAD) until SIGINT or SIGTERM.\n"
    "  --root DIR       folder to serve (required); folders are never listed\n"
    "  --bind ADDRESS   address to listen on (default 127.0.0.1)\n"
    "  --port N         port to listen on (default 8080; 0 lets the system choose)\n"
    "  --log            write one line per request to stderr\n"
    "  --delay MS       answer every request MS milliseconds late, as a distant host does (0 to 60000)\n"
    "  --rate BYTES     send each body at BYTES per second at most, as a slow host does (64 to 1e9)\n"
    "Once listening, prints the base address (for example http://127.0.0.1:8080) on stdout.\n";

bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view& out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string_view v;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--log") {
            options.logRequests = true;
        } else if (arg == "--root") {
            if (!value(v)) return false;
            options.root = std::filesystem::path(v);
        } else if (arg == "--bind") {
            if (!value(v)) return false;
            if (v.empty()) {
                error = "--bind needs an address";
                return false;
            }
            options.bind = std::string(v);
        } else if (arg == "--delay") {
            if (!value(v)) return false;
            int delay = -1;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), delay);
            if (ec != std::errc() || end != v.data() + v.size() || delay < 0 || delay > 60000) {
                error = "--delay needs milliseconds from 0 to 60000, not \"" + std::string(v) + "\"";
                return false;
            }
            options.delayMs = delay;
        } else if (arg == "--rate") {
            if (!value(v)) return false;
            long long rate = -1;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), rate);
            if (ec != std::errc() || end != v.data() + v.size() || rate < 64 || rate > 1000000000) {
                error = "--rate needs bytes per second from 64 to 1000000000, not \"" + std::string(v) + "\"";
                return false;
            }
            options.rate = rate;
        } else if (arg == "--port") {
            if (!value(v)) return false;
            int port = -1;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), port);
            if (ec != std::errc() || end != v.data() + v.size() || port < 0 || port > 65535) {
                error = "--port needs a number from 0 to 65535, not \"" + std::string(v) + "\"";
                return false;
            }
            options.port = port;
        } else {
            error = "unknown argument \"" + std::string(arg) + "\"";
            return false;
        }
    }
    if (!options.help && options.root.empty()) {
        error = "--root is required";
        return false;
    }
    return true;
}

}  // namespace patch_host
