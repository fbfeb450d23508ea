#include "pak_commands.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <system_error>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_name.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/format.h"
#include "patch/vfile/single_file_payload.h"

namespace pakinspect {
namespace {

namespace fs = std::filesystem;
using namespace mendly::vfile;

constexpr const char* kUsage =
    "usage: pak_tool list FILE                 entries with stored and original sizes\n"
    "       pak_tool extract FILE MEMBER OUT   write one member's contents to OUT\n"
    "       pak_tool check FILE                every entry inflates to its original size\n"
    "       pak_tool pack FOLDER OUT           pack a folder's files into a new archive\n"
    "       pak_tool payload FILE OUT          write FILE as a single-file payload\n";

std::optional<Archive> openOrComplain(const fs::path& path, std::ostream& err) {
    auto archive = Archive::open(path);
    if (!archive)
        err << "pak_tool: cannot open " << path.string()
            << ": missing, unreadable or not a valid archive\n";
    return archive;
}

// Whole file, or nothing with a complaint; refuses files an archive cannot hold.
std::optional<std::string> readWholeFile(const fs::path& path, std::ostream& err) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) {
        err << "pak_tool: cannot read " << path.string() << ": " << ec.message() << "\n";
        return std::nullopt;
    }
    if (size > kMaxStoredValue) {
        err << "pak_tool: " << path.string() << " is too large for an archive entry (" << size
            << " bytes)\n";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!in || in.gcount() != static_cast<std::streamsize>(bytes.size())) {
        err << "pak_tool: cannot read " << path.string() << "\n";
        return std::nullopt;
    }
    return bytes;
}

bool writeWholeFile(const fs::path& path, const std::string& bytes, std::ostream& err) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        err << "pak_tool: cannot write " << path.string() << "\n";
        return false;
    }
    return true;
}

// Why an entry does not read, or nothing when it reads fine.
std::optional<std::string> entryFault(const Archive& archive, const ArchiveEntry& entry) {
    const auto stored = archive.readStored(entry);
    if (!stored) return "stored bytes cannot be read";
    if (!expandStoredEntry(stored->bytes, stored->originalSize))
        return "does not inflate to " + std::to_string(entry.originalSize) + " bytes";
    return std::nullopt;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ecA, ecB;
    const fs::path canonicalA = fs::weakly_canonical(a, ecA);
    const fs::path canonicalB = fs::weakly_canonical(b, ecB);
    return !ecA && !ecB && canonicalA == canonicalB;
}

}  // namespace

int listArchive(const fs::path& path, std::ostream& out, std::ostream& err) {
    const auto archive = openOrComplain(path, err);
    if (!archive) return 1;
    std::uint64_t storedTotal = 0;
    std::uint64_t originalTotal = 0;
    out << std::setw(10) << "stored" << ' ' << std::setw(10) << "original" << "  name\n";
    for (const auto& entry : archive->listEntries()) {
        out << std::setw(10) << entry.storedSize << ' ' << std::setw(10) << entry.originalSize << "  "
            << entry.name << '\n';
        storedTotal += entry.storedSize;
        originalTotal += entry.originalSize;
    }
    out << archive->entries().size() << " entries, " << storedTotal << " bytes stored, " << originalTotal
        << " bytes original\n";
    return 0;
}

int extractMember(const fs::path& path, const std::string& member, const fs::path& target, std::ostream& out,
                  std::ostream& err) {
    const auto archive = openOrComplain(path, err);
    if (!archive) return 1;
    const auto entry = archive->find(member);
    if (!entry) {
        err << "pak_tool: no member " << member << " in " << path.string() << "\n";
        return 1;
    }
    const auto contents = archive->readEntry(*entry);
    if (!contents) {
        err << "pak_tool: member " << entry->name << " is damaged: " << entryFault(*archive, *entry).value_or("")
            << "\n";
        return 1;
    }
    if (!writeWholeFile(target, *contents, err)) return 1;
    out << "extracted " << entry->name << " (" << contents->size() << " bytes) to " << target.string() << "\n";
    return 0;
}

int checkArchive(const fs::path& path, std::ostream& out, std::ostream& err) {
    const auto archive = openOrComplain(path, err);
    if (!archive) return 1;
    std::size_t damaged = 0;
    for (const auto& entry : archive->entries()) {
        if (const auto fault = entryFault(*archive, entry)) {
            err << "damaged: " << entry.name << ": " << *fault << "\n";
            ++damaged;
        }
    }
    const std::size_t total = archive->entries().size();
    if (damaged != 0) {
        err << "FAILED: " << damaged << " of " << total << " entries are damaged\n";
        return 1;
    }
    out << "OK: " << total << " entries\n";
    return 0;
}

int packFolder(const fs::path& folder, const fs::path& target, std::ostream& out, std::ostream& err) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        err << "pak_tool: " << folder.string() << " is not a folder\n";
        return 1;
    }
    fs::path staging = target;
    staging += ".part";

    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        if (sameFile(it->path(), target) || sameFile(it->path(), staging)) continue;
        files.push_back(it->path());
    }
    if (ec) {
        err << "pak_tool: cannot list " << folder.string() << ": " << ec.message() << "\n";
        return 1;
    }
    if (files.empty()) {
        err << "pak_tool: " << folder.string() << " holds no files; an archive needs at least one entry\n";
        return 1;
    }

    std::vector<NamedEntry> entries;
    entries.reserve(files.size());
    for (const auto& file : files) {
        const auto contents = readWholeFile(file, err);
        if (!contents) return 1;
        auto stored = compressEntry(*contents);
        if (!stored) {
            err << "pak_tool: cannot compress " << file.string() << "\n";
            return 1;
        }
        entries.push_back({fs::relative(file, folder).generic_string(), std::move(*stored)});
    }
    auto keyOf = [](const NamedEntry& e) { return archiveKey(normalizeArchiveName(e.name)); };
    std::sort(entries.begin(), entries.end(),
              [&](const NamedEntry& a, const NamedEntry& b) { return archiveKeyLess(keyOf(a), keyOf(b)); });
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (keyOf(entries[i - 1]) == keyOf(entries[i])) {
            err << "pak_tool: " << entries[i - 1].name << " and " << entries[i].name
                << " differ only in letter case; an archive can hold only one of them\n";
            return 1;
        }
    }
    if (!writeArchiveFile(target, entries)) {
        err << "pak_tool: cannot write archive " << target.string() << "\n";
        return 1;
    }
    out << "packed " << entries.size() << " files into " << target.string() << "\n";
    return 0;
}

int makePayload(const fs::path& source, const fs::path& target, std::ostream& out, std::ostream& err) {
    const auto contents = readWholeFile(source, err);
    if (!contents) return 1;
    if (contents->empty()) {
        err << "pak_tool: " << source.string() << " is empty; a single-file payload cannot carry nothing\n";
        return 1;
    }
    const auto stream = zlibCompress(*contents);
    const auto payload =
        stream ? buildSingleFilePayload({*stream, static_cast<std::uint32_t>(contents->size())}) : std::nullopt;
    if (!payload) {
        err << "pak_tool: cannot compress " << source.string() << "\n";
        return 1;
    }
    if (!writeWholeFile(target, *payload, err)) return 1;
    out << "wrote payload of " << contents->size() << " bytes (" << payload->size() << " bytes) to "
        << target.string() << "\n";
    return 0;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "help" || args[0] == "-h" || args[0] == "--help")) {
        out << kUsage;
        return 0;
    }
    const std::string command = args.empty() ? std::string() : args[0];
    const std::size_t operands = args.empty() ? 0 : args.size() - 1;
    if (command == "list" && operands == 1) return listArchive(args[1], out, err);
    if (command == "extract" && operands == 3) return extractMember(args[1], args[2], args[3], out, err);
    if (command == "check" && operands == 1) return checkArchive(args[1], out, err);
    if (command == "pack" && operands == 2) return packFolder(args[1], args[2], out, err);
    if (command == "payload" && operands == 2) return makePayload(args[1], args[2], out, err);

    if (command.empty())
        err << "pak_tool: no command given\n";
    else if (command == "list" || command == "extract" || command == "check" || command == "pack" ||
             command == "payload")
        err << "pak_tool: wrong number of operands for " << command << "\n";
    else
        err << "pak_tool: unknown command " << command << "\n";
    err << kUsage;
    return 2;
}

}  // namespace pakinspect
