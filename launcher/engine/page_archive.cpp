#include "page_archive.h"

#include <lzf.h>

#include <cstring>

namespace mendly {
namespace {

// One LZF back reference of 3 bytes expands to at most 264 bytes, so no valid
// stream unpacks to more than 88 times its stored size.
constexpr std::uint64_t kLzfMaxRatio = 88;

constexpr std::size_t kNodeSize = 8;
constexpr std::size_t kItemSize = 12;

std::uint32_t readU32(std::string_view bytes, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::uint16_t readU16(std::string_view bytes, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::int16_t readI16(std::string_view bytes, std::size_t at) { return static_cast<std::int16_t>(readU16(bytes, at)); }

bool validChild(std::int16_t index, std::size_t nodeCount) {
    return index == -1 || (index >= 0 && static_cast<std::size_t>(index) < nodeCount);
}

}  // namespace

bool PageArchive::open(std::string_view bytes, std::u16string& error) {
    *this = PageArchive{};
    const auto fail = [&](const char16_t* sentence) {
        *this = PageArchive{};
        error = sentence;
        return false;
    };

    if (bytes.size() < 8 || std::memcmp(bytes.data(), kPageArchiveMagic, 4) != 0)
        return fail(u"The page archive does not start with the archive signature.");
    const std::uint64_t nodeCount = readU32(bytes, 4);
    // Node indices are signed 16-bit: more nodes could not be reached.
    if (nodeCount > 32768) return fail(u"The page archive has too many name nodes.");
    const std::uint64_t nodesEnd = 8 + nodeCount * kNodeSize;
    if (nodesEnd + 4 > bytes.size()) return fail(u"The page archive is truncated in its name table.");
    const std::uint64_t itemCount = readU32(bytes, nodesEnd);
    // Item numbers are stored 1-based in a signed 16-bit field.
    if (itemCount > 32767) return fail(u"The page archive has too many files.");
    const std::uint64_t dataStart = nodesEnd + 4 + itemCount * kItemSize;
    if (dataStart > bytes.size()) return fail(u"The page archive is truncated in its file table.");

    nodes_.reserve(nodeCount);
    for (std::uint64_t i = 0; i < nodeCount; ++i) {
        const std::size_t at = 8 + i * kNodeSize;
        PageArchiveNode node{static_cast<char16_t>(readU16(bytes, at)), readI16(bytes, at + 2),
                             readI16(bytes, at + 4), readI16(bytes, at + 6)};
        if (!validChild(node.lower, nodeCount) || !validChild(node.higher, nodeCount))
            return fail(u"The page archive's name table points outside itself.");
        if (node.unit == 0 ? (node.equal < 1 || static_cast<std::uint64_t>(node.equal) > itemCount)
                           : !validChild(node.equal, nodeCount))
            return fail(u"The page archive's name table points outside itself.");
        nodes_.push_back(node);
    }

    items_.reserve(itemCount);
    for (std::uint64_t i = 0; i < itemCount; ++i) {
        const std::size_t at = nodesEnd + 4 + i * kItemSize;
        PageArchiveItem item{readU32(bytes, at), readU32(bytes, at + 4), readU32(bytes, at + 8)};
        const std::uint64_t end = std::uint64_t{item.offset} + item.storedSize;
        if (item.offset < dataStart || end > bytes.size())
            return fail(u"A file of the page archive lies outside the archive.");
        if (item.unpackedSize != 0 &&
            (item.unpackedSize > kPageArchiveMaxUnpacked ||
             item.unpackedSize > std::uint64_t{item.storedSize} * kLzfMaxRatio))
            return fail(u"A file of the page archive has an impossible unpacked size.");
        items_.push_back(item);
    }

    bytes_ = bytes;
    open_ = true;
    error.clear();
    return true;
}

int PageArchive::findItem(std::u16string_view name) const {
    if (!open_ || nodes_.empty() || name.empty()) return -1;
    std::size_t pos = 0;  // position in name; name.size() stands for the terminating 0
    std::int32_t node = 0;
    // In a well-formed tree a search visits each node at most once; a hostile
    // table with a cycle ends here instead of looping.
    for (std::size_t steps = 0; steps <= nodes_.size() && node >= 0; ++steps) {
        const PageArchiveNode& n = nodes_[static_cast<std::size_t>(node)];
        const char16_t c = pos < name.size() ? name[pos] : u'\0';
        if (pos < name.size() && c == u'\0') return -1;  // names never hold NUL
        if (c < n.unit) {
            node = n.lower;
        } else if (c > n.unit) {
            node = n.higher;
        } else if (c == u'\0') {
            return n.equal - 1;
        } else {
            ++pos;
            node = n.equal;
        }
    }
    return -1;
}

bool PageArchive::readItem(int index, std::string& contents) const {
    contents.clear();
    if (!open_ || index < 0 || static_cast<std::size_t>(index) >= items_.size()) return false;
    const PageArchiveItem& item = items_[static_cast<std::size_t>(index)];
    const std::string_view stored = bytes_.substr(item.offset, item.storedSize);
    if (item.unpackedSize == 0) {
        contents.assign(stored);
        return true;
    }
    contents.resize(item.unpackedSize);
    const unsigned int produced = lzf_decompress(stored.data(), static_cast<unsigned int>(stored.size()),
                                                 contents.data(), item.unpackedSize);
    if (produced != item.unpackedSize) {
        contents.clear();
        return false;
    }
    return true;
}

bool PageArchive::read(std::u16string_view name, std::string& contents) const {
    return readItem(findItem(name), contents);
}

}  // namespace mendly
