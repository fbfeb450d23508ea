#pragma once
// Release numbers: the rising number a signed document (latest.json, a patch
// manifest) carries under "release", and the highest one a program accepted,
// kept in a small file so that an older document, however validly signed, is
// refused afterwards (no rollback by a mirror or a stolen old file).
//
// The file holds the number in decimal and a line feed, written whole
// (temporary file, flush, rename). A missing or unreadable file means no
// release was accepted yet. Runs on the caller's thread; one program updates
// a given file at a time (the caller holds what serialises it).
#include <cstdint>
#include <filesystem>
#include <optional>

namespace mendly {

// The number in `file`, or nothing when there is none to read.
std::optional<std::uint64_t> loadReleaseNumber(const std::filesystem::path& file);

// Writes `release` to `file`. False when it cannot.
[[nodiscard]] bool saveReleaseNumber(const std::filesystem::path& file, std::uint64_t release);

// Remembers `release` in `file` unless a higher one is there already. False
// only when a higher number had to be written and could not be.
[[nodiscard]] bool raiseReleaseNumber(const std::filesystem::path& file, std::uint64_t release);

}  // namespace mendly
