// The hand-over's quoting against keelswap's splitter: whatever the program's
// path and arguments are, the restart command line must split back into that
// path, the same arguments (without "--skip-self-update") and one
// "--skip-self-update" at the end; quoted once more as the value of --exec it
// must split back into itself; and the keelswap command line that is logged
// must split back into the arguments keelswap is given.
//
// Input: NUL-separated texts (argv can hold no NUL): the executable's path
// (made absolute), then the process's arguments, program name first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "selfupdate/handover.h"

namespace {

std::vector<std::string> splitOnNul(std::string_view bytes) {
    std::vector<std::string> parts{std::string()};
    for (const char c : bytes) {
        if (c == '\0')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mendly;
    const auto parts = splitOnNul(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string executable = "/" + parts.front();
    const std::vector<std::string> processArguments(parts.begin() + 1, parts.end());

    const std::string line = restartCommandLine(executable, processArguments);
    std::vector<std::string> expected{executable};
    for (std::size_t i = 1; i < processArguments.size(); ++i)
        if (processArguments[i] != "--skip-self-update") expected.push_back(processArguments[i]);
    expected.emplace_back("--skip-self-update");
    if (keelswap::splitCommandLine(line) != expected) std::abort();

    const auto nested = keelswap::splitCommandLine("keelswap --exec " + quoteCommandLineArgument(line));
    if (nested != std::vector<std::string>{"keelswap", "--exec", line}) std::abort();

    // Every text doubles as a file path here, made absolute as real paths are.
    std::vector<FileReplacement> files;
    for (std::size_t i = 0; i + 1 < processArguments.size(); i += 2)
        files.push_back({"/" + processArguments[i], "/" + processArguments[i + 1]});
    if (files.empty()) return 0;
    const auto args = keelswapArguments(4242, files, executable + "/.launcher_update", line);
    std::vector<std::string> argv{executable + "/keelswap"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (keelswap::splitCommandLine(keelswapCommandLine(argv.front(), args)) != argv) std::abort();
    return 0;
}
