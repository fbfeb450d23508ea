#include "update_command.h"

#include <algorithm>
#include <string_view>

#include "platform/cancel_signal.h"
#include "catalog/install_layout.h"
#include "catalog/path_text.h"
#include "catalog/manifest_trust.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/rate_limit.h"
#include "patch/cancel_flag.h"
#include "patch/interrupted_install.h"
#include "patch/patch_reporting.h"
#include "patch/patch_run.h"

namespace mendly {
namespace {

// The console the callbacks print to: set for the duration of runUpdates,
// before the engine can call them, and not changed while a run is going.
ConsoleOutput* g_console = nullptr;

// Registers the callbacks and the cancel handler for the loop and removes both
// on every way out.
class UpdateSession {
public:
    explicit UpdateSession(ConsoleOutput& console) {
        g_console = &console;
        resetPatchCancel();
        setPatchCallbacks(&cliStatusCallback, &cliProgressCallback);
        setPatchDetailCallbacks({&cliStageCallback, &cliSpeedStatusCallback, &cliTransferCallback});
        handlerInstalled_ = platform::installCancelHandler(patchCancelFlagForSignalHandler());
    }
    ~UpdateSession() {
        if (handlerInstalled_) platform::removeCancelHandler();
        setPatchCallbacks(nullptr, nullptr);
        setPatchDetailCallbacks({});
        g_console = nullptr;
    }
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

private:
    bool handlerInstalled_ = false;
};

// "ERROR: " + name + " — " + the message's first line; each further line of
// it (what was being fetched, and from where) as a log line of its own.
void logFailure(const std::u16string& name, std::u16string_view message) {
    std::size_t start = 0;
    for (bool first = true; start <= message.size(); first = false) {
        const std::size_t end = std::min(message.find(u'\n', start), message.size());
        const std::u16string_view line = message.substr(start, end - start);
        LogFile::write(first ? u"ERROR: " + name + u" \u2014 " + std::u16string(line) : std::u16string(line));
        start = end + 1;
    }
}

}  // namespace

void cliStatusCallback(const std::u16string& text) {
    if (g_console) g_console->printStatus(text);
    LogFile::write(text);
}

void cliProgressCallback(std::int32_t done, std::int32_t total) {
    if (g_console) g_console->printProgress(done, total);
}

void cliSpeedStatusCallback(const std::u16string& text) {
    if (g_console) g_console->printSpeedStatus(text);
    LogFile::write(text);
}

void cliStageCallback(PatchStage stage) {
    if (g_console) g_console->beginStage(stage);
}

void cliTransferCallback(const PatchTransfer& transfer) {
    if (g_console) g_console->printTransfer(transfer);
}

int runUpdates(ConsoleOutput& console, const std::filesystem::path& programFolder, const ServerCatalog& catalog,
               const std::optional<ServerEntry>& chosen, UpdateDepth depth, std::uint64_t rateLimit) {
    const bool verifying = depth == UpdateDepth::VerifyEverything;
    int updated = 0, skipped = 0, failed = 0;
    {
    UpdateSession session(console);
    for (std::size_t index = 0; index < catalog.entries.size(); ++index) {
        const ServerEntry& entry = catalog.entries[index];
        if (chosen && !equalsIgnoreAsciiCase(entry.name, chosen->name)) continue;
        if (isPatchCancelRequested()) return 2;

        const std::filesystem::path folder = installFolder(programFolder, entry);
        const bool installed = isInstalled(folder, entry.launchExecutable);
        const std::u16string name = toWide(entry.name);
        std::u16string announcement;
        if (installed) {
            announcement = (verifying ? u"Verifying " : u"Updating ") + name;
        } else if (!chosen && !isInterruptedInstall(folder, entry.launchExecutable)) {
            console.printLine(u"Skipping " + name + u" (not installed).");
            LogFile::write(u"CLI skip (not installed): " + name);
            ++skipped;
            continue;
        } else {
            std::error_code ec;
            std::filesystem::create_directories(folder, ec);
            if (ec || !std::filesystem::is_directory(folder, ec)) {
                console.printResult(u"Error: Could not create " + pathText(folder));
                LogFile::write(u"ERROR: Could not create " + pathText(folder));
                ++failed;
                continue;
            }
            announcement = u"Installing " + name;
        }

        console.printLine(announcement);
        LogFile::write(!installed ? u"--- CLI install ---" : verifying ? u"--- CLI verify ---" : u"--- CLI update ---");
        LogFile::write(u"Server: " + name + u" (" + toWide(entry.server) + u")");
        if (rateLimit > 0) LogFile::write(u"Download limit: " + formatRateLimit(rateLimit) + u" per second");

        std::u16string error;
        PatchRunOptions options;
        options.rateLimit = rateLimit;
        options.mirrors = mirrorAddresses(entry);
        options.serverName = toWide(displayName(entry));
        const PatchOutcome outcome =
            runPatchWithOutcome(nullptr, manifestUrl(entry), filesBaseUrl(entry), manifestTrust(catalog, index), folder,
                                !installed ? PatchMode::Install : verifying ? PatchMode::Verify : PatchMode::Update,
                                options, error);
        const bool ok = outcome == PatchOutcome::Ok;
        console.endProgressLine();

        if (isPatchCancelRequested() || outcome == PatchOutcome::Cancelled) {
            console.printResult(u"Cancelled.");
            LogFile::write(u"CLI update cancelled");
            return 2;
        }
        if (ok) {
            console.printLine(u"Finished " + name + u".");
            LogFile::write(u"CLI finished: " + name);
            ++updated;
        } else {
            const std::u16string message = error.empty() ? u"Update failed." : error;
            console.printResult(u"Error: " + message);
            logFailure(name, message);
            ++failed;
        }
    }
    }  // the handler and the callbacks are gone before the summary

    console.printResult(u"Updated " + toDecimal(updated) + u", skipped " + toDecimal(skipped) + u", failed " +
                      toDecimal(failed) + u".");
    return failed != 0 ? 1 : 0;
}

}  // namespace mendly
