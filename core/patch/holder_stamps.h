#pragma once
// The stamps of the files that hold a run's entries (a loose file, or the
// archive its members live in), each taken before the run first read that
// file. A file whose stamp is the same again when the run writes its record
// was not written in between, so what the run hashed is what the file holds.
//
// Keys are the holder's path relative to the installation folder, '/'
// separated (holderKeyFor). Threads: note() and find() may be called from any
// number of verification workers at once (one mutex, held only for the map).
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_stamp.h"

namespace mendly {

struct ManifestEntry;

// The file on disk that holds `entry`: the loose file, or its archive.
struct EntryHolder {
    std::string key;              // path relative to the installation folder, '/' separated
    std::filesystem::path path;   // full path
    bool isArchive = false;
};
EntryHolder holderFor(const std::filesystem::path& installDir, const ManifestEntry& entry);

class HolderStamps {
public:
    // Keeps the first stamp noted for `key`; later ones are ignored.
    void note(const std::string& key, const platform::FileStamp& stamp);
    // Stamps `path` now and notes it under `key` unless one is noted already;
    // the stamp noted for `key` (nothing when the file has none).
    std::optional<platform::FileStamp> noteNow(const std::string& key, const std::filesystem::path& path);
    std::optional<platform::FileStamp> find(const std::string& key) const;
    void forget(const std::string& key);

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::optional<platform::FileStamp>, std::less<>> stamps_;
};

}  // namespace mendly
