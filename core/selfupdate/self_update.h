#pragma once
// The check of the suite's own files against latest.json on the launcher-update
// host, run by launcher and tidewright at every start before anything else of
// substance. Runs synchronously on the calling thread; the downloads cannot be
// cancelled. latest.json must be signed when the build has signing keys (see
// update_information.h); launcher files stream to the staging folder.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "selfupdate/handover.h"
#include "trust/trusted_keys.h"

namespace mendly {

enum class SelfUpdateSkipReason { None, SkipFlag, DebuggerAttached, RemoteDebuggerAttached };

// SkipFlag when an argument after the program name is exactly
// "--skip-self-update" (case-sensitive); else DebuggerAttached when a debugger
// is attached. Linux has no remote-debugger case.
SelfUpdateSkipReason selfUpdateSkipReason(const std::vector<std::string>& processArguments);
SelfUpdateSkipReason selfUpdateSkipReason();  // this process's arguments

// The built-in update host without trailing '/' or '\'.
std::u16string launcherUpdateBaseUrl();
std::u16string launcherManifestUrl(std::u16string_view baseUrl);
std::u16string launcherFileUrl(std::u16string_view baseUrl, std::string_view name);

// True with the file to replace in `target` when `name` is a safe updatable
// name whose target lies inside the program folder (a link pointing out of it
// is refused). The running program's own name resolves to its executable.
// Letter case of `name` does not matter: the target is the file under the
// name it has on disk ("KeelSwap" replaces programFolder/keelswap), while the
// caller still downloads and stages it under `name` as published.
[[nodiscard]] bool resolveLauncherTarget(const std::filesystem::path& programFolder, std::string_view name,
                                         std::filesystem::path& target);

// The file exists, is not a folder, and its SHA-256 equals `sha256` exactly.
bool localFileMatches(const std::filesystem::path& path, std::string_view sha256);

[[nodiscard]] bool writeStagedFile(const std::filesystem::path& path, std::string_view bytes, std::u16string& error);

// True when new files are staged and keelswap has been started: the caller
// must close the log and exit with code 0 at once. False in every other case.
[[nodiscard]] bool runLauncherSelfUpdate(const std::filesystem::path& programFolder);
// Where the launcher files come from and who must have signed latest.json.
struct SelfUpdateSource {
    std::u16string baseUrl;
    TrustedKeys trust;
    // The whole check (latest.json and its signature) ends after this; then it
    // counts as a failed check and the program goes on.
    std::chrono::seconds checkDeadline{20};
};

// The same against another update host (tests), with the build's keys.
[[nodiscard]] bool runLauncherSelfUpdate(const std::filesystem::path& programFolder, std::u16string_view baseUrl,
                                         SelfUpdateSkipReason skip);
[[nodiscard]] bool runLauncherSelfUpdate(const std::filesystem::path& programFolder, const SelfUpdateSource& source,
                                         SelfUpdateSkipReason skip);

// The two halves of runLauncherSelfUpdate, for a caller that checks in the
// background and hands over when it is idle (the launcher): everything up to
// the staged files (nothing when there is nothing to hand over, the reason
// logged and, where the check says so, shown), then starting keelswap (true:
// the caller must close the log and exit with code 0 at once).
struct StagedLauncherUpdate {
    std::filesystem::path stagingFolder;
    std::vector<FileReplacement> replacements;
};
std::optional<StagedLauncherUpdate> stageLauncherUpdate(const std::filesystem::path& programFolder,
                                                        const SelfUpdateSource& source, SelfUpdateSkipReason skip);
[[nodiscard]] bool handOverLauncherUpdate(const std::filesystem::path& programFolder,
                                          const StagedLauncherUpdate& staged);

}  // namespace mendly
