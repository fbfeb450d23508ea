#include "patch/archive_cache.h"

namespace mendly {

std::shared_ptr<const vfile::Archive> ArchiveCache::get(const std::filesystem::path& path) {
    const std::lock_guard lock(mutex_);
    if (const auto found = archives_.find(path); found != archives_.end()) return found->second;
    std::shared_ptr<const vfile::Archive> archive;
    if (auto opened = vfile::Archive::open(path)) archive = std::make_shared<const vfile::Archive>(std::move(*opened));
    archives_.emplace(path, archive);
    return archive;
}

const PayloadRecords& ArchiveCache::payloadRecords(const std::filesystem::path& installDir) {
    std::call_once(recordsLoaded_, [&] { records_ = PayloadRecords::load(installDir); });
    return records_;
}

}  // namespace mendly
