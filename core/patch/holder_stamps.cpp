#include "patch/holder_stamps.h"

#include "patch/archive_paths.h"
#include "patch/manifest.h"

namespace mendly {

EntryHolder holderFor(const std::filesystem::path& installDir, const ManifestEntry& entry) {
    EntryHolder holder;
    if (const auto archive = archiveNameOf(entry.relative)) {
        holder.path = archivePathFor(installDir, *archive);
        holder.key = holder.path.filename().generic_string();  // the archive lies in installDir itself
        holder.isArchive = true;
        return holder;
    }
    holder.path = looseFilePath(installDir, entry.relative);
    holder.key = holder.path.lexically_relative(installDir).generic_string();
    return holder;
}

void HolderStamps::note(const std::string& key, const platform::FileStamp& stamp) {
    const std::lock_guard lock(mutex_);
    stamps_.emplace(key, stamp);
}

std::optional<platform::FileStamp> HolderStamps::noteNow(const std::string& key, const std::filesystem::path& path) {
    {
        const std::lock_guard lock(mutex_);
        if (const auto found = stamps_.find(key); found != stamps_.end()) return found->second;
    }
    // Stamped outside the lock: a second worker on the same holder may stamp
    // too, and the first one noted stays.
    const auto stamp = platform::fileStamp(path);
    const std::lock_guard lock(mutex_);
    return stamps_.emplace(key, stamp).first->second;
}

std::optional<platform::FileStamp> HolderStamps::find(const std::string& key) const {
    const std::lock_guard lock(mutex_);
    const auto found = stamps_.find(key);
    if (found == stamps_.end()) return std::nullopt;
    return found->second;
}

void HolderStamps::forget(const std::string& key) {
    const std::lock_guard lock(mutex_);
    stamps_.erase(key);
}

}  // namespace mendly
