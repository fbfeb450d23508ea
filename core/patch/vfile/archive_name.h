#pragma once
// The canonical form of names inside archives. Entries read from a file, names
// written, removals and lookups all pass through normalizeArchiveName; two names
// are the same entry exactly when their archiveKey values are bytewise equal.
// Both work on bytes (UTF-8 as given) and never fail.
#include <string>
#include <string_view>

namespace mendly::vfile {

// '/' becomes '\', leading '\' go, runs of '\' collapse, "\.\" collapses to "\",
// one leading ".\" goes, and "x\y\..\z" resolves to "x\z" as long as the
// parent is not the first component ("a\..\b" stays as it is). An empty
// result is ".". The name is never turned into a file-system path, so a name
// such as "..\x" is simply a name.
std::string normalizeArchiveName(std::string_view name);

// Every byte 'A'..'Z' lowered, everything else unchanged (no locale, no Unicode).
std::string archiveKey(std::string_view name);

// Order of keys: bytewise as unsigned bytes, a prefix before the longer key.
bool archiveKeyLess(std::string_view a, std::string_view b);

}  // namespace mendly::vfile
