#pragma once
// How the server's folder goes from one publication to the next without a
// file changing under a run that holds the manifest being replaced.
//
// Every file a publication lists is served twice below hostRoot/S: at its
// own path (for clients that know no other place) and as
//   S/by-sha256/<first two digits>/<SHA-256 of the served bytes>
// which the manifest names in the entry's "served" key, and which clients
// that read that key fetch instead. Such a copy never changes (its name is
// its content), so a new release only adds copies; the copies of the
// release it replaces stay until the release after it, which is how long a
// run that fetched the older manifest has to finish.
//
// Where the file system allows it a copy is a hard link to the file at its
// own path (no second set of bytes); otherwise it is a copy.
//
// Runs on the calling thread; nothing else may write below hostRoot/S
// meanwhile.
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "publish.h"

namespace mendly::publish {

// The top folder of the copies, below the server's folder.
inline constexpr std::string_view kContentFolder = "by-sha256";

// "by-sha256/<first two digits>/<sha256>" for a lowercase SHA-256.
std::string contentPathFor(std::string_view sha256);

// True when `relative` lies in the folder of the copies: a client file there
// could not be published beside them.
bool isInContentFolder(std::string_view relative);

// Adds staging/<contentPathFor(sha256)> for every file of `files`, already
// written to staging/<relative>. False with a sentence when one cannot be
// made.
[[nodiscard]] bool stageContentCopies(const std::filesystem::path& staging, const std::vector<ServedFile>& files,
                                      std::string& error);

// Moves the staged copies into folder/by-sha256 (which it creates), each
// over a copy of the same name already there (same name, same bytes; so the
// copy stays one file with the new plain file), or, where that copy cannot
// be replaced, keeping it. False
// with a sentence when one cannot be moved; the copies moved so far stay,
// harmless, since nothing names a copy that is not complete.
[[nodiscard]] bool moveContentIntoPlace(const std::filesystem::path& staging, const std::filesystem::path& folder,
                                        std::string& error);

// Replaces the files of `folder` outside by-sha256 with the ones staged
// (outside staging/by-sha256), one rename each, after removing what the new
// publication does not have there (and folders left empty). False with a
// sentence when a file cannot be moved; `folder` then holds some of each
// publication at the plain paths, while the copies stay complete.
[[nodiscard]] bool replacePlainFiles(const std::filesystem::path& staging, const std::filesystem::path& folder,
                                     std::string& error);

// Removes from folder/by-sha256 every copy whose content path is not in
// `keep`, and the folders that are then empty. Failures leave files behind,
// which the next publication tries again.
void pruneContent(const std::filesystem::path& folder, const std::set<std::string>& keep);

}  // namespace mendly::publish
