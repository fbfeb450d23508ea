#pragma once
// The folders a delete must never remove: the root, the program folder and its
// parents, programFolder/clients and the folders of the built-in entries; and
// the test that what it removes is a game installation at all. Runs on the
// calling thread; reads the file system, changes nothing.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "catalog/server_catalog.h"

namespace mendly {

// True when `folder` may be removed. Otherwise false with "Refusing to delete
// that folder." or "Built-in installations cannot be deleted." in `error`.
//
// The rules are checked twice: on the lexical forms (absolute, ".." and
// repeated or trailing separators resolved as text) and on the forms with
// every link in the parent folders resolved (removalTarget), so that a path
// running through a link to a protected folder is refused as well. A folder
// text holding a NUL, or one whose "." or ".." components lead through a link
// (so that the text and the system disagree on the folder), is refused too.
[[nodiscard]] bool isSafeToDelete(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                                  std::size_t builtInCount, const std::filesystem::path& folder,
                                  std::u16string& error);

// True when `folder` lies strictly below programFolder/clients, both as text
// (absolute and lexically normal, letter case kept) and with the links in its
// parent folders resolved. The folder of an entry without installPath is
// clients/<name>; a name such as "../x", or a link inside clients/ in front
// of the last component, would lead elsewhere.
bool staysInClients(const std::filesystem::path& programFolder, const std::filesystem::path& folder);

// True when what is at `target` (a removalTarget) looks like something a
// delete of an installation may remove: a game installation (isInstalled with
// the entry's `launchExecutable`), an empty folder, or a link that leads
// nowhere. A link is judged by the folder it leads to, although only the link
// would go. Anything else (a file, a folder of other things) may be somebody's
// documents and must stay.
bool looksLikeAnInstallation(const std::filesystem::path& target, std::string_view launchExecutable);

// What removing `folder` acts on: absolute, links in its parent folders
// resolved, no trailing separator, the last component kept as it is (when it
// is a link, the link itself is what goes). When the parent cannot be
// resolved, the lexically normal form.
std::filesystem::path removalTarget(const std::filesystem::path& folder);

}  // namespace mendly
