#pragma once
// The archives opened during one patch run's verification, by file path, and
// the installation's payload records (read once, on first use).
//
// Each archive is opened at most once per cache: the first get() for a path
// opens it, later calls for that path wait for it and share the result, while
// other archives open at the same time on other threads. A failed open is
// remembered as null and not retried. Created empty before verification
// starts and dropped with the run.
//
// Threads: get() may be called from any number of verification workers at
// once. The cache's mutex guards the map of slots; each slot's once_flag
// guards its archive. The returned archives are read-only and safe to share.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "patch/payload_records.h"
#include "patch/vfile/archive.h"

namespace mendly {

class ArchiveCache {
public:
    // The archive at `path`, or null when it could not be opened (missing,
    // unreadable or corrupt).
    std::shared_ptr<const vfile::Archive> get(const std::filesystem::path& path);
    // The payload records of `installDir` (the same folder on every call).
    const PayloadRecords& payloadRecords(const std::filesystem::path& installDir);

private:
    struct Slot {
        std::once_flag opened;
        std::shared_ptr<const vfile::Archive> archive;  // null when it could not be opened
    };
    std::mutex mutex_;
    std::once_flag recordsLoaded_;
    PayloadRecords records_;
    // By the path's text: the same path as given, not the same file by any name.
    std::map<std::filesystem::path::string_type, std::shared_ptr<Slot>, std::less<>> archives_;
};

}  // namespace mendly
