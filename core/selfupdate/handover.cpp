#include "selfupdate/handover.h"

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "catalog/path_text.h"
#include "log/log_file.h"
#include "log/text.h"
#include "platform/process.h"
#include "selfupdate/launcher_files.h"
#include "selfupdate/update_notice.h"

namespace mendly {
namespace {

// keelswap copies each replacement to ".<name>.keelswap-XXXXXX" beside its
// target and renames it into place; a keelswap that was killed in between
// leaves that copy (as large as the program) behind.
bool isKeelswapLeftover(const std::string& fileName) {
    auto matches = [&fileName](std::string_view name) {
        const std::string prefix = "." + std::string(name) + ".keelswap-";
        return fileName.size() == prefix.size() + 6 && fileName.rfind(prefix, 0) == 0;
    };
    for (auto name : kUpdatableLauncherFiles)
        if (matches(name)) return true;
    // keelswap stages its own new copy as "keelswap.new" and copies it the same way.
    return matches(kPendingKeelswapName);
}

void removeKeelswapLeftovers(const std::filesystem::path& programFolder) {
    std::error_code ec;
    std::vector<std::filesystem::path> leftovers;
    for (std::filesystem::directory_iterator it(programFolder, ec), end; !ec && it != end; it.increment(ec))
        if (isKeelswapLeftover(it->path().filename().string())) leftovers.push_back(it->path());
    for (const auto& leftover : leftovers) {
        std::error_code removeError;
        std::filesystem::remove(leftover, removeError);  // a link goes as a link
    }
}

}  // namespace

std::string quoteCommandLineArgument(std::string_view text) {
    if (text.empty()) return "\"\"";
    if (text.find_first_of(" \t\"") == std::string_view::npos) return std::string(text);
    // Backslashes stay as they are, except a run that stands before a double
    // quote (an escaped one, or the closing one): that run is doubled, or the
    // splitter would read the last backslash as escaping the quote.
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
            out += '"';
        } else {
            out.append(backslashes, '\\');
            out += c;
        }
        backslashes = 0;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

std::string restartCommandLine(const std::filesystem::path& executable,
                               const std::vector<std::string>& processArguments) {
    std::string line = quoteCommandLineArgument(executable.string());
    for (std::size_t i = 1; i < processArguments.size(); ++i) {
        if (processArguments[i] == kSkipSelfUpdateOption) continue;
        line += ' ';
        line += quoteCommandLineArgument(processArguments[i]);
    }
    line += ' ';
    line += kSkipSelfUpdateOption;
    return line;
}

std::vector<std::string> keelswapArguments(std::uint32_t waitPid, const std::vector<FileReplacement>& files,
                                           const std::filesystem::path& stagingFolder,
                                           const std::string& restartLine) {
    std::vector<std::string> args{"--wait-pid", std::to_string(waitPid)};
    for (const auto& f : files) {
        args.insert(args.end(), {"--replace", f.target.string(), "--with", f.staged.string()});
    }
    args.insert(args.end(), {"--cleanup-dir", stagingFolder.string(), "--exec", restartLine});
    return args;
}

std::string keelswapCommandLine(const std::filesystem::path& keelswap, const std::vector<std::string>& arguments) {
    std::string line = quoteCommandLineArgument(keelswap.string());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        line += ' ';
        // Option words and the process number stand bare; every value is quoted.
        const bool optionWord = arguments[i].rfind("--", 0) == 0 && (i == 0 || arguments[i - 1] != "--exec");
        line += optionWord ? arguments[i] : quoteCommandLineArgument(arguments[i]);
    }
    return line;
}

// keelswap's whole command line for the hand-over from this process; nothing
// (logged and shown) when keelswap is missing.
std::optional<std::vector<std::string>> keelswapCommand(const std::filesystem::path& programFolder,
                                                        const std::filesystem::path& stagingFolder,
                                                        const std::vector<FileReplacement>& files) {
    const auto helper = keelswapPath(programFolder);
    std::error_code ec;
    if (!std::filesystem::exists(helper, ec)) {
        LogFile::write(u"ERROR: Missing " + pathText(helper));
        showUpdateNotice(UpdateNoticeIcon::Error, u"Could not find " + pathText(helper) + u" for launcher update.");
        return std::nullopt;
    }
    const auto restart = restartCommandLine(platform::executablePath(), platform::processArguments());
    std::vector<std::string> argv{helper.string()};
    for (auto& arg : keelswapArguments(platform::currentProcessId(), files, stagingFolder, restart))
        argv.push_back(std::move(arg));
    return argv;
}

bool startKeelswap(const std::filesystem::path& programFolder, const std::filesystem::path& stagingFolder,
                   const std::vector<FileReplacement>& files) {
    const auto argv = keelswapCommand(programFolder, stagingFolder, files);
    if (!argv) return false;
    if (!platform::spawnDetached(*argv, programFolder)) {
        LogFile::write(u"ERROR: CreateProcess failed for keelswap");
        showUpdateNotice(UpdateNoticeIcon::Error, u"Could not start keelswap.");
        return false;
    }
    return true;
}

bool replaceWithKeelswap(const std::filesystem::path& programFolder, const std::filesystem::path& stagingFolder,
                         const std::vector<FileReplacement>& files, const std::function<void()>& beforeReplacing) {
    const auto argv = keelswapCommand(programFolder, stagingFolder, files);
    if (!argv) return false;
    beforeReplacing();
    (void)platform::replaceProcess(*argv);
    showUpdateNotice(UpdateNoticeIcon::Error, u"Could not start keelswap.");
    return false;
}

void removeLauncherStaging(const std::filesystem::path& programFolder) {
    removeKeelswapLeftovers(programFolder);
    const auto staging = launcherStagingFolder(programFolder);
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(staging, ec);
    if (ec || !std::filesystem::exists(status)) return;
    // remove_all removes links as links, never what they point to.
    std::filesystem::remove_all(staging, ec);
    if (ec) LogFile::write(u"WARNING: Could not remove .launcher_update staging folder.");
}

void applyPendingKeelswap(const std::filesystem::path& programFolder) {
    const auto pending = pendingKeelswapPath(programFolder);
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(pending, ec);
    if (ec || !std::filesystem::exists(status)) return;
    const auto helper = keelswapPath(programFolder);
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (platform::replaceFile(pending, helper)) {
            LogFile::write(u"Applied pending keelswap");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    LogFile::write(u"WARNING: Could not apply pending keelswap.new");
}

}  // namespace mendly
