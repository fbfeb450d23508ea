#pragma once
// Publishing the suite's own programs for the launcher-update host.
//
// Layout written in hostRoot:
//   launcher, keelswap, tidewright   each program found in the programs folder
//   latest.json                      {"expires": "<UTC time>" (when signed),
//                                     "files": [{"name", "sha256", "size"}, ...],
//                                     "release": <whole number>,
//                                     "version": "<8 lowercase hex digits>"},
//                                    two-space indented, a line feed at the end
//   latest.json.sig                  when signed: the signature text of
//                                    latest.json's exact bytes and a line feed
// A program that is not in the programs folder is neither listed nor touched
// on the host. An unsigned publication removes a latest.json.sig left by an
// earlier signed one.
//
// Runs on the calling thread. Nothing else may write in hostRoot meanwhile.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mendly::signing {
class SigningKey;
}

namespace mendly::publish {

struct LauncherPublishOptions {
    std::filesystem::path programs;                   // where the built programs are
    std::filesystem::path hostRoot;                   // the folder the update host serves
    std::string version;                              // the programs' build identifier
    const signing::SigningKey* signingKey = nullptr;  // signs latest.json when set
    std::chrono::sys_seconds expires{};               // latest.json's "expires" when signed
    // latest.json's "release": programs that require signatures refuse a
    // lower one than they accepted before. Default: one more than the
    // latest.json hostRoot holds (1 when it holds none with a release).
    std::optional<std::uint64_t> release;
};

struct PublishedProgram {
    std::string name;
    std::string sha256;
    std::uint64_t size = 0;
};

struct LauncherPublishSummary {
    std::vector<PublishedProgram> programs;  // in latest.json's order
    std::uint64_t release = 0;
    std::filesystem::path manifestPath;
    std::filesystem::path signaturePath;  // empty when unsigned
};

// Eight lowercase hexadecimal digits, as build identifiers are written.
bool isLauncherVersion(std::string_view text);

// False with one sentence in `error` when the version is not a build
// identifier, the release is lower than the one hostRoot serves, the
// programs folder holds none of the programs (nothing is written then), or
// reading, signing or writing fails.
[[nodiscard]] bool publishLauncher(const LauncherPublishOptions& options, LauncherPublishSummary& summary,
                                   std::string& error);

}  // namespace mendly::publish
