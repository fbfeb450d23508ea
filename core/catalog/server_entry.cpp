#include "catalog/server_entry.h"

namespace mendly {

const std::string& displayName(const ServerEntry& entry) {
    return entry.desc.empty() ? entry.name : entry.desc;
}

}  // namespace mendly
