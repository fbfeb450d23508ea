#pragma once
// patch_host's command line:
//   patch_host --root DIR [--bind ADDRESS] [--port N] [--log] [--delay MS] [--rate BYTES]
//   patch_host --help
// --bind defaults to 127.0.0.1, --port to 8080; port 0 lets the system choose.
#include <filesystem>
#include <string>

namespace patch_host {

struct HostOptions {
    std::filesystem::path root;
    std::string bind = "127.0.0.1";
    int port = 8080;
    bool logRequests = false;
    int delayMs = 0;  // every answer waits this long first (a stand-in for a distant host)
    long long rate = 0;  // bytes per second of each answer's body (a slow mirror); 0: as fast as it goes
    bool help = false;
};

extern const char* const kUsage;

// False with a one-line reason in `error` when the command line is not usable.
[[nodiscard]] bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

}  // namespace patch_host
