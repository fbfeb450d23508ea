#include "patch/archive_cache.h"

namespace mendly {

std::shared_ptr<const vfile::Archive> ArchiveCache::get(const std::filesystem::path& path) {
    std::shared_ptr<Slot> slot;
    {
        const std::lock_guard lock(mutex_);
        auto found = archives_.find(path.native());
        if (found == archives_.end()) found = archives_.emplace(path.native(), std::make_shared<Slot>()).first;
        slot = found->second;
    }
    std::call_once(slot->opened, [&] {
        if (auto opened = vfile::Archive::open(path))
            slot->archive = std::make_shared<const vfile::Archive>(std::move(*opened));
    });
    return slot->archive;
}

const PayloadRecords& ArchiveCache::payloadRecords(const std::filesystem::path& installDir) {
    std::call_once(recordsLoaded_, [&] { records_ = PayloadRecords::load(installDir); });
    return records_;
}

}  // namespace mendly
