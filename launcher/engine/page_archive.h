#pragma once
// Reader of the launcher's embedded page archive ("SAr" format).
//
// Layout, all integers little-endian:
//   "SAr\0"                      magic
//   u32 N, N x node              ternary search tree over the UTF-16 file names;
//                                node = {u16 code unit, i16 lower, i16 equal, i16 higher},
//                                -1 for "no node"; when the code unit is 0 the equal
//                                field is the 1-based item number; node 0 is the root
//   u32 M, M x item              item = {u32 offset from the archive start,
//                                        u32 stored size,
//                                        u32 unpacked size (0: stored as is, else the
//                                            stored bytes are LZF-compressed)}
//   data                         the file contents
//
// open() checks every count, index, offset and size against the bytes it was
// given before anything is read; nothing in the archive is trusted. The reader
// keeps a view of the bytes: they must outlive it (the embedded archive is
// static). Lookups are const and may run on any thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mendly {

inline constexpr char kPageArchiveMagic[4] = {'S', 'A', 'r', '\0'};

// Largest unpacked size the reader accepts for one file: a hostile item cannot
// make the launcher allocate more than this.
inline constexpr std::uint32_t kPageArchiveMaxUnpacked = 256u * 1024u * 1024u;

struct PageArchiveNode {
    char16_t unit = 0;
    std::int16_t lower = -1;
    std::int16_t equal = -1;  // item number (1-based) when unit is 0
    std::int16_t higher = -1;
};

struct PageArchiveItem {
    std::uint32_t offset = 0;
    std::uint32_t storedSize = 0;
    std::uint32_t unpackedSize = 0;  // 0: stored as is
};

class PageArchive {
public:
    // Reads the header and tables of `bytes`. False, with `error` set to one
    // sentence, when the bytes are not a well-formed archive; the reader is then
    // empty.
    [[nodiscard]] bool open(std::string_view bytes, std::u16string& error);
    bool isOpen() const { return open_; }

    // The 0-based item index of the file called `name` (exact, case-sensitive
    // UTF-16 comparison; sub-folders are separated by '/'), or -1.
    int findItem(std::u16string_view name) const;

    // The contents of file `name`, decompressed into exactly its unpacked size.
    // False when there is no such file or its data is corrupt.
    [[nodiscard]] bool read(std::u16string_view name, std::string& contents) const;
    [[nodiscard]] bool readItem(int item, std::string& contents) const;

    const std::vector<PageArchiveNode>& nodes() const { return nodes_; }
    const std::vector<PageArchiveItem>& items() const { return items_; }

private:
    std::string_view bytes_;
    std::vector<PageArchiveNode> nodes_;
    std::vector<PageArchiveItem> items_;
    bool open_ = false;
};

}  // namespace mendly
