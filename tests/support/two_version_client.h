#pragma once
// Two published versions of one game client, for tests that switch a patch
// host between them so that every run has real work: loose files in folders,
// the launch executable, kept and user INI files, three archives with plain
// members and single-file payloads, members that version 2 drops (orphans
// after an update) and big unchanged files that make verification take a
// while. The same options always give the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/patch_fixture.h"

namespace mendly::test {

struct TwoVersionClientOptions {
    std::size_t looseFiles = 24;           // "data/file_NN.bin"; version 2 changes every other one
    std::size_t maxLooseBytes = 512 << 10;  // each between 16 KiB and this
    std::size_t stableFiles = 2;           // "data/stable_N.bin", identical in both versions
    std::size_t stableBytes = 4 << 20;
    std::size_t gfxMembers = 30;           // version 2 changes every third and drops the last two
    std::size_t worldMembers = 16;         // plus 4 "pak_" payloads, two of them changed in version 2
    std::size_t soundMembers = 8;          // 256 KiB of noise each; version 2 changes the first
};

// Replaces the files of `folder` with version 1 or 2 (it does not publish).
void fillTwoVersionClient(PatchHostFolder& folder, int version, const TwoVersionClientOptions& options = {});

// The user INI files of the client (under "ini/", not updater.ini or hash.ini).
std::vector<std::string> twoVersionClientUserIniFiles();

// The name of the launch executable.
inline constexpr const char* kTwoVersionClientExecutable = "kaltrisclient.exe";

}  // namespace mendly::test
