#include "replacement_run.h"

#include "command_line.h"
#include "options.h"
#include "os.h"
#include "usage.h"

#include <ostream>
#include <thread>

namespace mendly::keelswap {

namespace {

// Suffix of the copy of keelswap's own executable, applied by the next start
// of launcher or tidewright.
constexpr const char* kSelfUpdateSuffix = ".new";

void pauseFor(const RunContext& context, std::chrono::milliseconds duration) {
    if (context.pause) {
        context.pause(duration);
    } else {
        std::this_thread::sleep_for(duration);
    }
}

void waitForCaller(std::uint32_t pid, const RunContext& context) {
    if (pid == 0 || pid == context.ownPid) return;
    // A caller still running after the limit is treated as ended: the copy
    // retries below wait out whatever it still holds.
    if (os::waitForProcessExit(pid, context.timings.processWaitLimit) == os::ProcessWait::NotOpened) {
        pauseFor(context, context.timings.unopenedProcessPause);
    }
}

bool copyWithRetries(const std::string& source, const std::string& destination, const RunContext& context) {
    for (int attempt = 0; attempt < context.timings.copyAttempts; ++attempt) {
        if (os::replaceWithCopy(source, destination)) return true;
        pauseFor(context, context.timings.copyRetryPause);
    }
    return false;
}

}  // namespace

int runKeelswap(const std::vector<std::string>& args, const RunContext& context, std::ostream& err) {
    const auto options = parseArguments(args);
    if (!options) {
        err << usageText() << std::flush;
        return kExitUsageError;
    }

    waitForCaller(options->waitPid, context);

    for (const CopyJob& job : options->jobs) {
        const bool ownFile = !context.ownExecutable.empty() && os::isSameFile(job.target, context.ownExecutable);
        const std::string destination = ownFile ? job.target + kSelfUpdateSuffix : job.target;
        if (!copyWithRetries(job.source, destination, context)) {
            if (ownFile) {
                err << "Failed to stage updater self-update.\n" << std::flush;
            } else {
                err << "Failed to copy " << job.source << " -> " << job.target << " after retries.\n" << std::flush;
            }
            return kExitFailure;
        }
    }

    if (!options->cleanupDir.empty() && !os::removeTree(options->cleanupDir)) {
        err << "Warning: could not remove staging directory: " << options->cleanupDir << "\n" << std::flush;
    }

    if (options->execLine.empty()) return kExitSuccess;
    const auto restart = splitCommandLine(options->execLine);
    const bool inPlace = options->waitPid != 0 && options->waitPid == context.ownPid;
    // In place, a successful start does not return: the restarted program is this process.
    if (!(inPlace ? os::replaceProcess(restart) : os::spawnDetached(restart))) {
        err << "CreateProcess failed: " << options->execLine << "\n" << std::flush;
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace mendly::keelswap
