#pragma once
// publish_launcher's command line:
//   publish_launcher --programs DIR --root HOSTDIR --version V [--release N] [--sign KEY.pem [--expires DAYS]]
//   publish_launcher --help
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace mendly::publish {

inline constexpr int kDefaultExpiryDays = 30;

struct PublishLauncherCommand {
    std::filesystem::path programs;
    std::filesystem::path root;
    std::string version;
    std::filesystem::path signingKey;  // --sign; empty = unsigned
    int expiresDays = 0;               // when signing: --expires, else kDefaultExpiryDays
    std::optional<std::uint64_t> release;  // --release; empty = one more than the host serves
    bool help = false;
};

extern const char* const kPublishLauncherUsage;

// False with a one-line reason in `error` when the command line is not usable.
[[nodiscard]] bool parsePublishLauncherCommand(int argc, const char* const* argv, PublishLauncherCommand& command,
                                               std::string& error);

}  // namespace mendly::publish
