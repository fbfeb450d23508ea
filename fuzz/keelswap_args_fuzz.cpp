// keelswap's command line on arbitrary text: the splitter that turns the
// --exec line into a program and its arguments, and the option parser run on
// the split words (as if they were keelswap's own arguments). Nothing may
// crash, hang or throw. The splitter never invents bytes and agrees with a
// plain split on white space when the text has no quotes or backslashes; an
// accepted option set has a copy job, takes every job and value from the
// words given, and reads the process number as the C library does.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "options.h"

namespace {

using namespace mendly::keelswap;

std::vector<std::string> splitOnBlanks(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

// The process number as strtoul reads it (64-bit unsigned long); an accepted
// value always has digits and fits 32 bits.
unsigned long libcNumber(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE) std::abort();
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> words = splitCommandLine(line);

    std::size_t total = 0;
    for (const std::string& word : words) total += word.size();
    if (total > line.size()) std::abort();
    if (line.find_first_of("\"\\") == std::string_view::npos && words != splitOnBlanks(line)) std::abort();

    if (words.empty()) return 0;
    const std::vector<std::string> args(words.begin() + 1, words.end());
    const auto options = parseArguments(args);
    if (!options) return 0;
    if (options->jobs.empty()) std::abort();

    // Every job is one "--replace <target> --with <source>" group of the words.
    std::size_t job = 0;
    for (std::size_t i = 0; i + 3 < args.size() && job < options->jobs.size(); ++i) {
        if (args[i] == "--replace" && args[i + 1] == options->jobs[job].target && args[i + 2] == "--with" &&
            args[i + 3] == options->jobs[job].source) {
            ++job;
            i += 3;
        }
    }
    if (job != options->jobs.size()) std::abort();

    // Every word is an option word or its value; the last value of each
    // repeatable option wins.
    std::optional<std::string> pid, cleanup, exec;
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] == "--replace") {
            i += 4;
            continue;
        }
        if (args[i] == "--wait-pid") pid = args[i + 1];
        else if (args[i] == "--cleanup-dir") cleanup = args[i + 1];
        else if (args[i] == "--exec") exec = args[i + 1];
        else std::abort();
        i += 2;
    }
    if (options->waitPid != (pid ? libcNumber(*pid) : 0)) std::abort();
    if (options->cleanupDir != cleanup.value_or("") || options->execLine != exec.value_or("")) std::abort();

    // What keelswap finally starts: never crashes the splitter either.
    (void)splitCommandLine(options->execLine);
    return 0;
}
