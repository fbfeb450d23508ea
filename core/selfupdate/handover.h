#pragma once
// Handing the replacement of the suite's own files over to keelswap, and the
// housekeeping every start of launcher and tidewright does first.
// Runs on the caller's start-up thread.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mendly {

struct FileReplacement {
    std::filesystem::path target;  // the file to replace
    std::filesystem::path staged;  // its verified new copy in the staging folder
};

// "" for an empty text; the text unchanged when it holds no space, tab or
// double quote; otherwise in double quotes with each '"' written as '\"'.
// Backslashes are never doubled.
std::string quoteCommandLineArgument(std::string_view text);

// The running program's full path, then every argument after the program
// name except exactly "--skip-self-update", each quoted, and last
// " --skip-self-update".
std::string restartCommandLine(const std::filesystem::path& executable,
                               const std::vector<std::string>& processArguments);

// keelswap's arguments after its own path: --wait-pid, the --replace/--with
// pairs in order, --cleanup-dir, --exec with the restart command line.
std::vector<std::string> keelswapArguments(std::uint32_t waitPid, const std::vector<FileReplacement>& files,
                                           const std::filesystem::path& stagingFolder,
                                           const std::string& restartLine);

// The same as one command line, every path quoted, as it is logged.
std::string keelswapCommandLine(const std::filesystem::path& keelswap, const std::vector<std::string>& arguments);

// Starts keelswap (working folder = programFolder) for this process. True when
// it was started: the caller must then close the log and exit at once. On
// failure the error is logged and shown, and the caller carries on.
[[nodiscard]] bool startKeelswap(const std::filesystem::path& programFolder,
                                 const std::filesystem::path& stagingFolder,
                                 const std::vector<FileReplacement>& files);

// Removes a staging folder left behind by an earlier run (a warning line when
// that fails), and the half-made copies ".<program>.keelswap-XXXXXX" of a
// keelswap that did not finish.
// The hand-over of a program run from a terminal (tidewright): keelswap
// replaces this process (same process number, terminal and process group),
// sees that the process to wait for is itself, replaces the files and runs
// the restarted program in this process in turn, so the shell waits for the
// restarted run, Ctrl+C reaches it and its exit code is the one the shell
// sees. `beforeReplacing` runs just before (the last console line, closing
// the log). Returns only when the hand-over could not start (false, logged
// and shown as startKeelswap does; after `beforeReplacing` only shown).
[[nodiscard]] bool replaceWithKeelswap(const std::filesystem::path& programFolder,
                                       const std::filesystem::path& stagingFolder,
                                       const std::vector<FileReplacement>& files,
                                       const std::function<void()>& beforeReplacing);

void removeLauncherStaging(const std::filesystem::path& programFolder);

// Moves a pending "keelswap.new" over keelswap: up to 40 tries, 250 ms apart.
void applyPendingKeelswap(const std::filesystem::path& programFolder);

}  // namespace mendly
