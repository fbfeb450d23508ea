#pragma once
// Writer of the page archive format read by PageArchive (layout in
// page_archive.h), used by the build-time packer.
//
// Files are written in ascending order of their UTF-16 names (code unit
// order), which is also the order in which the names enter the search tree, so
// the same folder always gives the same bytes. Pages, style sheets, scripts
// and icons (".htm", ".css", ".js", ".ico", any letter case) are
// LZF-compressed; everything else is stored as is. An empty file is always
// stored.
#include <string>
#include <string_view>
#include <vector>

namespace mendly {

struct PageFile {
    std::u16string name;  // relative, sub-folders separated by '/'
    std::string contents;
};

bool isCompressedPageFile(std::u16string_view name);

// Builds the archive into `archive`. False, with one sentence in `error`, for
// an empty or duplicate name, a name holding a NUL character, or more files or
// tree nodes than the format's 16-bit indices can address.
[[nodiscard]] bool writePageArchive(std::vector<PageFile> files, std::string& archive, std::u16string& error);

}  // namespace mendly
