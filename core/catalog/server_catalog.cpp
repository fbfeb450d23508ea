#include "catalog/server_catalog.h"

#include "log/text.h"

namespace mendly {

ServerCatalog loadServerCatalog(const std::filesystem::path& programFolder) {
    return loadServerCatalog(programFolder, embeddedCatalogDocument());
}

ServerCatalog loadServerCatalog(const std::filesystem::path& programFolder, std::string_view embedded) {
    ServerCatalog catalog;
    if (!embedded.empty()) {
        if (auto builtIn = parseServerList(embedded)) catalog.entries = std::move(*builtIn);
    }
    catalog.builtInCount = catalog.entries.size();
    if (auto custom = readCustomList(customListPath(programFolder))) {
        for (auto& entry : *custom) catalog.entries.push_back(std::move(entry));
    }
    return catalog;
}

std::optional<std::size_t> findServer(const ServerCatalog& catalog, std::string_view name) {
    for (std::size_t i = 0; i < catalog.entries.size(); ++i)
        if (equalsIgnoreAsciiCase(catalog.entries[i].name, name)) return i;
    return std::nullopt;
}

}  // namespace mendly
