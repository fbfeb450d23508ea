#include "support/tidewright_sandbox.h"

#include <fstream>
#include <iterator>

namespace mendly::test {
namespace fs = std::filesystem;

TidewrightSandbox::TidewrightSandbox(const fs::path& builtProgram, fs::path folder)
    : folder_(folder.empty() ? own_.path() : std::move(folder)) {
    fs::copy_file(builtProgram, program(), fs::copy_options::overwrite_existing);
}

void TidewrightSandbox::writeCustomList(const std::vector<std::pair<std::string, std::string>>& entries) const {
    std::string json = "{\"servers\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) json += ",";
        json += "{\"name\":\"" + entries[i].first + "\",\"server\":\"" + entries[i].first +
                "\",\"patchBaseUrl\":\"" + entries[i].second + "\",\"launchExecutable\":\"kaltrisclient.exe\"}";
    }
    writeFile(folder_ / "customlist.json", json + "]}");
}

ProcessResult TidewrightSandbox::run(std::vector<std::string> args, std::chrono::milliseconds limit) const {
    args.push_back("--skip-self-update");
    ProcessOptions options;
    options.args = std::move(args);
    options.workingDirectory = folder_;
    options.timeLimit = limit;
    return runProcess(program(), options);
}

bool TidewrightSandbox::start(ChildProcess& child, std::vector<std::string> args) const {
    args.push_back("--skip-self-update");
    return child.start(program(), args, folder_, output());
}

std::string TidewrightSandbox::log() const {
    std::ifstream in(folder_ / "launcher.log", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace mendly::test
