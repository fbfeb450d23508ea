#pragma once
// Compares an installation folder with what a patch host publishes, without
// using the patch engine's own reader: archives are parsed here from their
// bytes and their entries inflated with zlib, so a fault in the engine's
// reader cannot hide a fault in its writer.
//
// Threads: the caller's thread only.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/patch_fixture.h"

namespace mendly::test {

// Which INI files of the host the installation must match: all of them (after
// an install), or only "ini/updater.ini" and "ini/hash.ini" (an update leaves
// the user's INI files alone).
enum class IniScope { All, KeptOnly };

// The entries of a game archive as (lowercase stored name -> contents), or
// nothing when the file is missing or breaks the format anywhere (bad magic,
// counts, bounds, or an entry that does not inflate to its size).
std::optional<std::map<std::string, std::string>> readArchiveIndependently(const std::filesystem::path& path);

// Every way the installation differs from `host`, one line each; empty when
// every selected manifest file has the published contents (loose files byte
// for byte; archive members by their decoded contents, payloads decoded
// first), no archive holds an entry the manifest does not list, and no
// ".part" file is left anywhere in the folder.
std::vector<std::string> clientDifferences(const std::filesystem::path& installDir, const PatchHostFolder& host,
                                           IniScope scope);

// Relative paths of the ".part" files below `folder`, sorted.
std::vector<std::string> leftoverPartFiles(const std::filesystem::path& folder);

// The folder of an installation where a run's downloads wait until they are
// applied; a failed or interrupted run leaves it for the next run.
inline constexpr const char* kStagingFolder = ".mendly-staging";

// The host files whose download a run left complete in the installation's
// staging folder, sorted: "<md5>" for a loose file as served, "<md5>.payload"
// for a single-file payload as served, "<md5>.entry" for another archive
// member in its stored form, where <md5> is the manifest's digest in
// lowercase. Files still in progress (".part") do not count.
std::vector<std::string> stagedHostFiles(const std::filesystem::path& installDir, const PatchHostFolder& host);

}  // namespace mendly::test
