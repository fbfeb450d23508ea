#include "patch/vfile/entry_codec.h"

#include <zlib.h>

#include "patch/vfile/format.h"

namespace mendly::vfile {

std::optional<std::string> zlibCompress(std::string_view contents) {
    if (contents.size() > kMaxStoredValue) return std::nullopt;
    const uLong sourceLen = static_cast<uLong>(contents.size());
    uLongf destLen = compressBound(sourceLen);
    std::string compressed(destLen, '\0');
    const int rc = compress2(reinterpret_cast<Bytef*>(compressed.data()), &destLen,
                             reinterpret_cast<const Bytef*>(contents.data()), sourceLen,
                             Z_DEFAULT_COMPRESSION);
    if (rc != Z_OK) return std::nullopt;
    const std::size_t bound = compressed.size();
    compressed.resize(destLen);
    // A well-compressed entry would otherwise keep the whole bound reserved:
    // a patch run holds many of these at once.
    if (destLen < bound - bound / 8) compressed.shrink_to_fit();
    return compressed;
}

std::optional<StoredEntry> compressEntry(std::string_view contents) {
    if (contents.size() > kMaxStoredValue) return std::nullopt;
    StoredEntry out;
    out.originalSize = static_cast<std::uint32_t>(contents.size());
    if (contents.empty()) return out;

    auto compressed = zlibCompress(contents);
    if (!compressed) return std::nullopt;
    if (compressed->size() == contents.size())
        out.bytes.assign(contents);
    else
        out.bytes = std::move(*compressed);
    return out;
}

std::optional<std::string> inflateExactly(std::string_view stream, std::uint32_t originalSize) {
    if (stream.empty()) return std::nullopt;
    if (static_cast<std::uint64_t>(originalSize) > kMaxInflateRatio * stream.size()) return std::nullopt;

    std::string out(originalSize, '\0');
    uLongf destLen = static_cast<uLongf>(originalSize);
    // zlib wants a non-null destination even for zero bytes; std::string gives one.
    const int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &destLen,
                              reinterpret_cast<const Bytef*>(stream.data()),
                              static_cast<uLong>(stream.size()));
    if (rc != Z_OK || destLen != originalSize) return std::nullopt;
    return out;
}

std::optional<std::string> expandStoredEntry(std::string_view storedBytes, std::uint32_t originalSize) {
    if (storedBytes.size() == originalSize) return std::string(storedBytes);
    return inflateExactly(storedBytes, originalSize);
}

}  // namespace mendly::vfile
