#pragma once
// The commands of pak_tool. Each writes its report to `out` and its
// complaints to `err`, and returns the exit code: 0 done, 1 failed (the
// archive is missing, invalid or damaged, a member is absent, a file cannot be
// written), 2 wrong command line.
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace pakinspect {

// Dispatches a command line without the program name.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Every entry with its stored and original size, in directory order.
int listArchive(const std::filesystem::path& archive, std::ostream& out, std::ostream& err);
// Writes the contents of `member` to `target`.
int extractMember(const std::filesystem::path& archive, const std::string& member,
                  const std::filesystem::path& target, std::ostream& out, std::ostream& err);
// Reads every entry; 1 when any of them does not yield its original size.
int checkArchive(const std::filesystem::path& archive, std::ostream& out, std::ostream& err);
// Packs every regular file below `folder` as a member named by its relative
// path, sorted by key, into a new archive at `target`.
int packFolder(const std::filesystem::path& folder, const std::filesystem::path& target, std::ostream& out,
               std::ostream& err);
// Writes the single-file payload ("pak_" file) of `source` to `target`.
int makePayload(const std::filesystem::path& source, const std::filesystem::path& target, std::ostream& out,
                std::ostream& err);

}  // namespace pakinspect
