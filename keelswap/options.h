#pragma once
// The command line of keelswap: what to wait for, which files to replace,
// which folder to remove and which command line to start afterwards.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mendly::keelswap {

// One "--replace <target> --with <source>" job. Both texts are kept exactly
// as they were given on the command line (UTF-8 bytes).
struct CopyJob {
    std::string target;
    std::string source;
};

struct Options {
    std::uint32_t waitPid = 0;     // 0: do not wait at all
    std::vector<CopyJob> jobs;     // in command-line order, never empty after parsing
    std::string cleanupDir;        // empty: nothing to remove
    std::string execLine;          // empty: nothing to start
};

// Reads a process identifier the way the option is documented: leading white
// space and one sign are skipped, then decimal digits are read up to the first
// character that is not a digit. Returns nothing when there is no digit, when
// the value is negative, or when it does not fit an unsigned 32-bit number.
[[nodiscard]] std::optional<std::uint32_t> parseProcessId(std::string_view text);

// Parses the arguments that follow the program name. Option words match
// exactly (case-sensitive); "--wait-pid", "--cleanup-dir" and "--exec" may be
// repeated and the last one wins. Returns nothing for a usage error: an
// unknown word, an option without its value, a "--replace" whose third word is
// not exactly "--with", an unreadable process identifier, a path or command
// line that is not valid UTF-8, or no copy job at all.
[[nodiscard]] std::optional<Options> parseArguments(const std::vector<std::string>& args);

}  // namespace mendly::keelswap
