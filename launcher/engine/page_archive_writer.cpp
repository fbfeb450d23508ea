#include "page_archive_writer.h"

#include <lzf.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "log/text.h"
#include "page_archive.h"

namespace mendly {
namespace {

void putU32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xff));
}

void putU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

class NameTree {
public:
    // Adds `name` (non-empty, without NUL, not added before) as item
    // `itemNumber` (1-based). False when the tree would need more nodes than
    // 16-bit indices reach.
    bool insert(std::u16string_view name, int itemNumber) {
        const auto unitAt = [&](std::size_t pos) { return pos < name.size() ? name[pos] : u'\0'; };
        if (nodes_.empty() && !add(unitAt(0), itemNumber)) return false;
        std::size_t pos = 0;
        std::int16_t at = 0;
        for (;;) {
            const char16_t c = unitAt(pos);
            if (c == nodes_[at].unit) {
                if (c == u'\0') return false;  // duplicate name
                ++pos;
                if (nodes_[at].equal < 0) {
                    if (!add(unitAt(pos), itemNumber)) return false;
                    nodes_[at].equal = last();
                    if (unitAt(pos) == u'\0') return true;
                }
                at = nodes_[at].equal;
                continue;
            }
            std::int16_t PageArchiveNode::*link = c < nodes_[at].unit ? &PageArchiveNode::lower : &PageArchiveNode::higher;
            if (nodes_[at].*link < 0) {
                if (!add(c, itemNumber)) return false;
                nodes_[at].*link = last();
                if (c == u'\0') return true;
            }
            at = nodes_[at].*link;
        }
    }

    const std::vector<PageArchiveNode>& nodes() const { return nodes_; }

private:
    bool add(char16_t unit, int itemNumber) {
        if (nodes_.size() >= 32768) return false;
        PageArchiveNode node;
        node.unit = unit;
        node.equal = unit == u'\0' ? static_cast<std::int16_t>(itemNumber) : std::int16_t{-1};
        nodes_.push_back(node);
        return true;
    }

    std::int16_t last() const { return static_cast<std::int16_t>(nodes_.size() - 1); }

    std::vector<PageArchiveNode> nodes_;
};

bool compressLzf(const std::string& in, std::string& out) {
    // LZF output never exceeds 104% of its input; the slack covers short inputs.
    const std::size_t room = in.size() + in.size() / 16 + 64;
    if (room > std::numeric_limits<unsigned int>::max()) return false;
    out.resize(room);
    const unsigned int written = lzf_compress(in.data(), static_cast<unsigned int>(in.size()), out.data(),
                                              static_cast<unsigned int>(room));
    if (written == 0) return false;
    out.resize(written);
    return true;
}

// The search tree of the sorted files' names; false with the sentence in
// `error` for an empty name, a name with a NUL, a name listed twice, or
// more nodes than the format holds.
bool buildNameTree(const std::vector<PageFile>& files, NameTree& tree, std::u16string& error) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::u16string& name = files[i].name;
        if (name.empty() || name.find(u'\0') != std::u16string::npos) {
            error = u"A page file has an empty name or a name with a NUL character.";
            return false;
        }
        if (i > 0 && files[i - 1].name == name) {
            error = u"The page file " + name + u" is listed twice.";
            return false;
        }
        if (!tree.insert(name, static_cast<int>(i + 1))) {
            error = u"The file names need more search-tree nodes than a page archive can hold.";
            return false;
        }
    }
    return true;
}

// The files' contents as stored (compressed or not) and their items.
struct StoredFiles {
    std::vector<std::string> contents;
    std::vector<PageArchiveItem> items;
    std::uint64_t end = 0;  // the archive's size
};

// Each file's stored bytes, the first placed at `offset`; false with the
// sentence in `error` when one cannot be compressed or the archive would
// outgrow 32-bit offsets.
bool storeFiles(const std::vector<PageFile>& files, std::uint64_t offset, StoredFiles& stored,
                std::u16string& error) {
    stored.contents.assign(files.size(), std::string());
    stored.items.assign(files.size(), PageArchiveItem{});
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& contents = files[i].contents;
        std::string& kept = stored.contents[i];
        PageArchiveItem& item = stored.items[i];
        if (!contents.empty() && isCompressedPageFile(files[i].name)) {
            if (contents.size() > kPageArchiveMaxUnpacked || !compressLzf(contents, kept)) {
                error = u"The page file " + files[i].name + u" could not be compressed.";
                return false;
            }
            item.unpackedSize = static_cast<std::uint32_t>(contents.size());
        } else {
            kept = contents;
        }
        if (offset + kept.size() > std::numeric_limits<std::uint32_t>::max()) {
            error = u"The page files are too large for a page archive.";
            return false;
        }
        item.offset = static_cast<std::uint32_t>(offset);
        item.storedSize = static_cast<std::uint32_t>(kept.size());
        offset += kept.size();
    }
    stored.end = offset;
    return true;
}

// The header, the name tree, the items and the stored contents.
void appendArchive(std::string& archive, const NameTree& tree, const StoredFiles& stored) {
    archive.reserve(stored.end);
    archive.append(kPageArchiveMagic, 4);
    putU32(archive, static_cast<std::uint32_t>(tree.nodes().size()));
    for (const PageArchiveNode& node : tree.nodes()) {
        putU16(archive, node.unit);
        putU16(archive, static_cast<std::uint16_t>(node.lower));
        putU16(archive, static_cast<std::uint16_t>(node.equal));
        putU16(archive, static_cast<std::uint16_t>(node.higher));
    }
    putU32(archive, static_cast<std::uint32_t>(stored.items.size()));
    for (const PageArchiveItem& item : stored.items) {
        putU32(archive, item.offset);
        putU32(archive, item.storedSize);
        putU32(archive, item.unpackedSize);
    }
    for (const std::string& data : stored.contents) archive += data;
}

}  // namespace

bool isCompressedPageFile(std::u16string_view name) {
    const std::u16string lowered = asciiLowered(name);
    for (std::u16string_view ext : {u".htm", u".css", u".js", u".ico"}) {
        if (lowered.size() > ext.size() && lowered.ends_with(ext)) return true;
    }
    return false;
}

bool writePageArchive(std::vector<PageFile> files, std::string& archive, std::u16string& error) {
    archive.clear();
    std::sort(files.begin(), files.end(), [](const PageFile& a, const PageFile& b) { return a.name < b.name; });
    if (files.size() > 32767) {
        error = u"Too many files for a page archive.";
        return false;
    }
    NameTree tree;
    if (!buildNameTree(files, tree, error)) return false;
    StoredFiles stored;
    if (!storeFiles(files, 8 + tree.nodes().size() * 8 + 4 + files.size() * 12, stored, error)) return false;
    appendArchive(archive, tree, stored);
    error.clear();
    return true;
}

}  // namespace mendly
