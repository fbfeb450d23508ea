#pragma once
// An archive entry as it is stored: either the contents themselves (when the
// stored length equals originalSize) or a zlib stream (RFC 1950) that inflates
// to exactly originalSize bytes.
#include <cstdint>
#include <string>

namespace mendly::vfile {

struct StoredEntry {
    std::string bytes;              // stored bytes, raw or zlib
    std::uint32_t originalSize = 0; // length of the contents

    bool isRaw() const { return bytes.size() == originalSize; }
    bool operator==(const StoredEntry&) const = default;
};

// One entry handed to the writer: its name (any form; the writer stores the
// archive key of the normalised name) and its stored form.
struct NamedEntry {
    std::string name;
    StoredEntry stored;
};

}  // namespace mendly::vfile
