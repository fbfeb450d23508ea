#pragma once
// The update loop behind --update-all and --update-single, and the callbacks
// through which the patch engine reports to the console.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "catalog/server_catalog.h"
#include "console_output.h"

namespace mendly {

// How an installed client is checked: from the installation's record where
// it vouches for a file (what --update-* do), or every file hashed (--verify).
enum class UpdateDepth { TrustRecord, VerifyEverything };

// Updates every installed entry (chosen empty: installed entries only, the
// rest skipped) or every entry named like `chosen` (installing it when it is
// not installed). Returns the exit code: 0 all succeeded, 1 any failed,
// 2 cancelled with Ctrl+C / the break key. Runs on the main thread.
int runUpdates(ConsoleOutput& console, const std::filesystem::path& programFolder, const ServerCatalog& catalog,
               const std::optional<ServerEntry>& chosen, UpdateDepth depth = UpdateDepth::TrustRecord,
               std::uint64_t rateLimit = 0);

// The engine's status and progress callbacks: called from the run's thread and
// its workers at the same time; they only print and log.
void cliStatusCallback(const std::u16string& text);
void cliProgressCallback(std::int32_t done, std::int32_t total);
void cliSpeedStatusCallback(const std::u16string& text);
void cliStageCallback(PatchStage stage);
void cliTransferCallback(const PatchTransfer& transfer);

}  // namespace mendly
