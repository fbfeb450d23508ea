#pragma once
// What a client folder holds, as the patch host must publish it.
//
// A client folder has loose files (anything outside the archives, "ini/" and
// "_version._" included) and the game's nine archives, each either as a
// top-level folder ("gfx/...") or already packed ("gfx.pak"); names of both
// forms are recognised with ASCII case ignored. Archive members are published
// under their archive key (lowercase, '\' turned into '/'), whatever the case
// of the file or stored name.
//
// Runs on the calling thread; the packed archives it opens are shared
// read-only with the items that come from them, so the items may be read
// from several threads at once.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "patch/vfile/archive.h"

namespace mendly::publish {

struct ClientItem {
    // Published path relative to the server folder, '/' separated: a loose
    // file as it lies in the client folder, a member as "<archive>/<key>".
    std::string relative;
    bool member = false;
    std::string archiveName;  // members only: one of the archive table, lowercase
    std::string memberKey;    // members only: archive key, '\' separated
    // The file to read: the loose file, the folder-form member, or the ".pak".
    std::filesystem::path source;
    // Packed members only: the archive they are read from.
    std::shared_ptr<const mendly::vfile::Archive> archive;
};

// Every file of the client, sorted by `relative` (bytewise). False with a
// sentence in `error` when the folder cannot be listed, a ".pak" cannot be
// read, an archive exists both as a folder and packed, two members of one
// archive have the same name once case is ignored, or a name holds '\' or
// components no address can carry. The published paths are checked by the
// publisher once it knows how each member is delivered.
[[nodiscard]] bool collectClientItems(const std::filesystem::path& clientFolder, std::vector<ClientItem>& items,
                                      std::string& error);

// Why `relative` cannot be published, or empty. Besides the client's own
// path rules, a path must travel in an address unescaped: no spaces or
// control characters, no '%', '#' or '?', and no '\' inside a file name.
std::string publishedPathProblem(const std::string& relative);

}  // namespace mendly::publish
