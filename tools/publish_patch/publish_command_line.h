#pragma once
// publish_patch's command line:
//   publish_patch --client DIR --server NAME --root DIR
//                 [--payload PATTERN]... [--payload-all] [--force] [--strict] [--threads N]
//                 [--sign KEY.pem] [--release N] [--expires DAYS]
//   publish_patch --preview [--against HOSTDIR] --client DIR --server NAME [--root DIR]
//                 [--payload PATTERN]... [--payload-all] [--threads N]
//   publish_patch --help
#include <filesystem>
#include <string>

#include "publish.h"

namespace mendly::publish {

struct PublishCommand {
    std::filesystem::path client;
    std::string server;
    std::filesystem::path root;
    PublishOptions options;            // without the signing key, which main() loads
    std::filesystem::path signingKey;  // --sign: the private key's PEM file, empty = unsigned
    // --preview: compare with what `against` serves, write nothing. `against`
    // is --against, or --root when that is not given.
    bool preview = false;
    std::filesystem::path against;
    bool help = false;
};

extern const char* const kPublishUsage;

// False with a one-line reason in `error` when the command line is not usable.
[[nodiscard]] bool parsePublishCommand(int argc, const char* const* argv, PublishCommand& command,
                                       std::string& error);

}  // namespace mendly::publish
