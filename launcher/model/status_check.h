#pragma once
// The work of the background status and version checks, one job at a time.
// Jobs are plain copies built on the UI thread and owned by the worker; the
// functions here block for one HTTP request each and touch no launcher state,
// so they run on any thread. Starting threads and posting the results is the
// engine layer's part.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/server_version.h"
#include "patch/patch_mode.h"
#include "trust/trusted_keys.h"

namespace mendly {

struct StatusCheckJob {
    std::int32_t index = 0;  // catalog index the result is for
    bool installed = false;  // isInstalled, evaluated when the check started
    std::u16string versionUrl;
    std::filesystem::path installFolder;
};

// One status check: every catalog entry, in catalog order, and the generation
// its results carry.
struct StatusCheck {
    std::int32_t generation = 0;
    std::vector<StatusCheckJob> jobs;
};

// The fetch of the selected entry's published version, and of its manifest
// for the size of the next run (an Install for a folder without a client,
// else an Update).
struct VersionFetchJob {
    std::int32_t index = 0;
    std::u16string versionUrl;
    std::u16string manifestUrl{};
    TrustedKeys trust{};
    std::filesystem::path installFolder{};
    PatchMode sizeMode = PatchMode::Install;
};

// The outcome of one entry's status check. `asked` says whether the host was
// asked at all (only installed entries are); `failure` is the HTTP client's
// sentence when it was asked and did not answer, empty otherwise.
struct EntryCheck {
    EntryStatus status = kStatusUndetermined;
    bool asked = false;
    std::u16string failure;
};

// Undetermined for an entry that is not installed or whose published version
// cannot be fetched or is empty; otherwise the installation's own _version._
// compared with the published text (entryStatusOf). No cancellation.
EntryCheck checkEntryStatus(const StatusCheckJob& job);

// The selected entry's published version as the header shows it.
struct VersionFetch {
    std::u16string text;     // formatServerVersion of the file, or "Unavailable"
    VersionShown shown = VersionShown::Unavailable;
    std::u16string failure;  // the HTTP client's sentence when the download failed
};

// formatServerVersion of the published _version._, or "Unavailable" and the
// failure when the download fails. No cancellation.
VersionFetch fetchVersionText(const std::u16string& versionUrl);

// The next run's download size as the play button shows it ("56.2 MB",
// formatDiskSize), from the manifest and what the installation's record
// vouches for (update_size.h); empty when the manifest cannot be had or a
// size is not declared. Blocks for at most kSizeFetchTime.
inline constexpr std::chrono::seconds kSizeFetchTime{20};
std::u16string nextRunSizeText(const VersionFetchJob& job);

}  // namespace mendly
