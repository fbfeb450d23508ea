#pragma once
// Catalog entries stay inside their folders: an entry's installation folder
// (clients/<name> when it names no installPath) must lie below
// programFolder/clients, and its launchExecutable inside that installation.
// Entries pasted into customlist.json from elsewhere may name "../../x" or an
// executable such as "../../outside/evil.exe"; such an entry is left out of
// the catalog the programs use, and everything that opens, creates or starts
// something for an entry asks again here before it does.
//
// An explicit installPath is the player's own choice of folder and is taken
// as written (a delete still refuses the folders it must never remove).
// Runs on the calling thread; reads the file system (links are resolved),
// changes nothing.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/server_catalog.h"

namespace mendly {

// How far a check looks: at what the entry says (its texts), or also at what
// is on disk now (links in the installation followed).
enum class EscapeCheck { Texts, TextsAndLinks };

// Empty when `entry` stays inside its folders; else why not, as a phrase:
// "its name leads out of the clients folder" or "its launchExecutable leads
// out of its installation". The catalog is judged by Texts: a link planted
// in an installation is for an update to replace, not a reason to drop the
// entry; what opens or starts something judges TextsAndLinks.
std::u16string entryEscapeProblem(const std::filesystem::path& programFolder, const ServerEntry& entry,
                                  EscapeCheck check = EscapeCheck::TextsAndLinks);

// `launchExecutable` below `folder` (joined as text, so a leading separator
// stays below it), or nothing when it is empty or would lead out of it (a
// ".." component, and with TextsAndLinks a link that points out).
std::optional<std::filesystem::path> executableInside(const std::filesystem::path& folder,
                                                      std::string_view launchExecutable,
                                                      EscapeCheck check = EscapeCheck::TextsAndLinks);

// loadServerCatalog without the custom entries that do not stay inside their
// folders; each left out is logged once per process: "WARNING: Catalog entry
// "<name>" left out: <problem>".
ServerCatalog loadUsableCatalog(const std::filesystem::path& programFolder);

}  // namespace mendly
