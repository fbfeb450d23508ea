#include "catalog/server_catalog.h"

// Defined by the catalog object each program links (mendly_catalog_builtin, or
// mendly_catalog_empty in a test build).
extern const unsigned char kEmbeddedCatalog[];
extern const std::size_t kEmbeddedCatalogSize;

namespace mendly {

std::string_view embeddedCatalogDocument() {
    return {reinterpret_cast<const char*>(kEmbeddedCatalog), kEmbeddedCatalogSize};
}

}  // namespace mendly
