#include "patch/archive_assembly.h"

#include <zlib.h>

#include <charconv>
#include <fstream>
#include <set>
#include <system_error>

#include "patch/archive_paths.h"
#include "patch/archive_update.h"
#include "patch/vfile/archive.h"
#include "patch/entry_digest.h"
#include "patch/vfile/archive_directory.h"
#include "patch/vfile/format.h"
#include "patch/vfile/single_file_payload.h"
#include "platform/file.h"

namespace mendly {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kJournalHeader = "mendly-assembly 1 ";

fs::path journalOf(const fs::path& file) {
    fs::path journal = file;
    journal += ".journal";
    return journal;
}

std::uint32_t lineChecksum(std::string_view text) {
    return static_cast<std::uint32_t>(
        ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// "<name length> <name> <md5> <offset> <stored> <original>", then " <crc32>\n".
std::string journalLine(const std::string& name, const AssembledMember& m) {
    std::string line = std::to_string(name.size()) + ' ' + name + ' ' + m.md5 + ' ' + std::to_string(m.offset) + ' ' +
                       std::to_string(m.storedSize) + ' ' + std::to_string(m.originalSize);
    return line + ' ' + std::to_string(lineChecksum(line)) + '\n';
}

// Reads one decimal number and the space or newline after it.
template <typename T>
bool readNumber(std::string_view& text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() + text.size()) return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
    return true;
}

// One line of the journal, or nothing when it is torn or damaged; `text`
// moves past it either way (a damaged line ends the usable journal).
std::optional<std::pair<std::string, AssembledMember>> parseLine(std::string_view& text) {
    const std::string_view start = text;
    std::size_t length = 0;
    if (!readNumber(text, length) || length > text.size()) return std::nullopt;
    std::pair<std::string, AssembledMember> item{std::string(text.substr(0, length)), {}};
    text.remove_prefix(length);
    if (text.size() < 34 || text[0] != ' ' || text[33] != ' ') return std::nullopt;
    item.second.md5 = std::string(text.substr(1, 32));
    text.remove_prefix(34);
    std::uint32_t checksum = 0;
    if (!readNumber(text, item.second.offset) || !readNumber(text, item.second.storedSize) ||
        !readNumber(text, item.second.originalSize))
        return std::nullopt;
    const std::string_view covered = start.substr(0, static_cast<std::size_t>(text.data() - start.data()) - 1);
    if (!readNumber(text, checksum) || checksum != lineChecksum(covered)) return std::nullopt;
    return item;
}

std::vector<vfile::EntrySource> sourcesFor(const std::vector<std::string>& names) {
    std::vector<vfile::EntrySource> sources(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) sources[i].name = names[i];
    return sources;
}

}  // namespace

ArchiveAssembly::ArchiveAssembly(fs::path file, fs::path archivePath, std::vector<std::string> names)
    : file_(std::move(file)), archivePath_(std::move(archivePath)), names_(std::move(names)) {}

ArchiveAssembly::~ArchiveAssembly() { (void)out_.close(); }

std::unique_ptr<ArchiveAssembly> ArchiveAssembly::open(const fs::path& file, const fs::path& archivePath,
                                                       std::vector<std::string> names, std::size_t legacyNames) {
    const auto records = vfile::directoryRecordsFor(sourcesFor(names));
    if (!records) return nullptr;
    std::unique_ptr<ArchiveAssembly> assembly(new ArchiveAssembly(file, archivePath, std::move(names)));
    assembly->legacyNames_ = legacyNames;
    const std::uint64_t directoryEnd = vfile::directoryEnd(*records);
    if (assembly->takeUp(directoryEnd) || assembly->start(directoryEnd)) return assembly;
    return nullptr;
}

bool ArchiveAssembly::start(std::uint64_t directoryEnd) {
    std::error_code ec;
    fs::remove(journalOf(file_), ec);
    members_.clear();
    if (!out_.create(file_)) return false;
    std::ofstream journal(journalOf(file_), std::ios::binary | std::ios::trunc);
    journal << kJournalHeader << directoryEnd << '\n';
    journal.close();
    dataStart_ = end_ = directoryEnd;
    return !journal.fail();
}

// An earlier run's assembly: its journal's intact lines name members whose
// bytes lie within the file; the first damaged line ends what is taken up.
bool ArchiveAssembly::takeUp(std::uint64_t directoryEnd) {
    std::string text;
    if (platform::readWholeFile(journalOf(file_), text) != platform::FileRead::Read) return false;
    std::string_view rest = text;
    if (!rest.starts_with(kJournalHeader)) return false;
    rest.remove_prefix(kJournalHeader.size());
    std::uint64_t reserved = 0;
    if (!readNumber(rest, reserved) || reserved < directoryEnd || !out_.open(file_)) return false;
    const std::uint64_t size = out_.size().value_or(0);
    dataStart_ = end_ = reserved;
    while (!rest.empty()) {
        auto item = parseLine(rest);
        if (!item) break;
        const AssembledMember& m = item->second;
        if (m.offset < reserved || m.storedSize > size || m.offset > size - m.storedSize) break;
        end_ = std::max(end_, m.offset + m.storedSize);
        members_[item->first] = m;
    }
    // Drops the torn tail, so that appending goes on after the last whole line.
    std::ofstream journal(journalOf(file_), std::ios::binary | std::ios::trunc);
    journal << kJournalHeader << reserved << '\n';
    for (const auto& [name, member] : members_) journal << journalLine(name, member);
    journal.close();
    return !journal.fail();
}

bool ArchiveAssembly::holds(const std::string& name, const ManifestEntry& entry, vfile::CodecBuffers& buffers) {
    AssembledMember member;
    {
        const std::lock_guard lock(mutex_);
        const auto it = members_.find(name);
        if (it == members_.end() || it->second.md5 != entry.md5) return false;
        member = it->second;
    }
    std::ifstream in(file_, std::ios::binary);
    if (!in.seekg(static_cast<std::streamoff>(member.offset))) return false;
    EntryDigest digest(entry);
    const auto ref = classifyArchivePath(entry.relative);
    if (ref && ref->hadPakPrefix) {
        // A payload's digests are of the file as served: header and body.
        digest.update(vfile::singleFilePayloadHeader(member.originalSize));
        if (!vfile::readPieces(in, member.storedSize, [&](std::string_view piece) { digest.update(piece); },
                               buffers.stored))
            return false;
    } else if (!vfile::expandStoredStream(in, member.storedSize, member.originalSize,
                                          [&](std::string_view piece) { digest.update(piece); }, buffers)) {
        return false;
    }
    return digest.matches(entry);
}

bool ArchiveAssembly::record(const std::string& name, const AssembledMember& member) {
    std::ofstream journal(journalOf(file_), std::ios::binary | std::ios::app);
    journal << journalLine(name, member);
    journal.close();
    if (journal.fail()) return false;
    members_[name] = member;
    return true;
}

// Every kWriteBackStep bytes appended are handed to the disk at once, so
// that finish() does not wait for the whole archive to be written out.
constexpr std::uint64_t kWriteBackStep = 8u << 20;

void ArchiveAssembly::writeBackEarly() {
    if (end_ < writtenBackTo_ + kWriteBackStep) return;
    out_.startWriteBack(writtenBackTo_, end_ - writtenBackTo_);
    writtenBackTo_ = end_;
}

bool ArchiveAssembly::append(const std::string& name, const std::string& md5, std::uint32_t originalSize,
                             std::string_view stored) {
    const std::lock_guard lock(mutex_);
    if (end_ + stored.size() > vfile::kMaxStoredValue) return false;
    const AssembledMember member{md5, end_, stored.size(), originalSize};
    if (!out_.writeAt(end_, stored)) return false;
    end_ += stored.size();
    written_ += stored.size();
    writeBackEarly();
    return record(name, member);
}

bool ArchiveAssembly::appendFrom(const std::string& name, const std::string& md5, std::uint32_t originalSize,
                                 const fs::path& source, std::uint64_t offset, std::uint64_t storedSize) {
    const std::lock_guard lock(mutex_);
    if (end_ + storedSize > vfile::kMaxStoredValue) return false;
    const AssembledMember member{md5, end_, storedSize, originalSize};
    if (!out_.copyFrom(source, offset, storedSize, end_)) return false;
    end_ += storedSize;
    written_ += storedSize;
    writeBackEarly();
    return record(name, member);
}

bool ArchiveAssembly::finish() {
    const std::lock_guard lock(mutex_);
    std::vector<vfile::EntrySource> sources = sourcesFor(names_);
    for (vfile::EntrySource& source : sources) {
        const auto it = members_.find(source.name);
        if (it == members_.end()) return false;
        source.storedSize = it->second.storedSize;
        source.originalSize = it->second.originalSize;
    }
    auto records = vfile::directoryRecordsFor(sources);
    if (!records || vfile::directoryEnd(*records) > dataStart_) return false;
    for (std::size_t i = 0; i < records->size(); ++i)
        (*records)[i].dataOffset = static_cast<std::uint32_t>(members_.at(names_[i]).offset);
    if (!out_.writeAt(0, vfile::encodeDirectory(*records)) || !out_.truncate(end_) || !out_.flush() ||
        !out_.close())
        return false;
    std::error_code ec;
    if (archivePath_.has_parent_path()) fs::create_directories(archivePath_.parent_path(), ec);
    fs::rename(file_, archivePath_, ec);
    if (ec) return false;
    platform::flushFolder(archivePath_.parent_path());
    fs::remove(journalOf(file_), ec);
    return true;
}

bool ArchiveAssembly::placed(const std::string& name, ArchiveCache& cache) const {
    AssembledMember member;
    {
        const std::lock_guard lock(mutex_);
        const auto it = members_.find(name);
        if (it == members_.end()) return false;
        member = it->second;
    }
    const auto archive = cache.get(archivePath_);
    const auto entry = archive ? archive->find(name) : std::nullopt;
    return entry && entry->offset == member.offset && entry->storedSize == member.storedSize &&
           entry->originalSize == member.originalSize;
}

std::uint64_t ArchiveAssembly::bytesWritten() const {
    const std::lock_guard lock(mutex_);
    return written_;
}

std::vector<std::string> assemblyStagedNames(std::string_view archiveName) {
    const std::string file = std::string(archiveName) + ".pak.assembly";
    return {file, file + ".journal"};
}

ArchiveAssemblies openAssemblies(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                 const fs::path& installDir, const StagingArea& staging) {
    std::map<std::string, std::vector<std::string>> listed;  // archive -> member paths of `list`, in order
    std::map<std::string, std::set<std::string>> keys;       // archive -> their keys
    std::map<std::string, std::size_t> payloads;             // archive -> members delivered as payloads
    for (const std::size_t index : list)
        if (const auto ref = classifyArchivePath(manifest.files[index].relative)) {
            listed[ref->archiveName].push_back(ref->memberPath);
            keys[ref->archiveName].insert(archiveKey(ref->memberPath));
            if (ref->hadPakPrefix) ++payloads[ref->archiveName];
        }
    const ManifestMemberSet members = buildManifestMemberSet(manifest);
    ArchiveAssemblies assemblies;
    for (auto& [archive, names] : listed) {
        const fs::path path = archivePathFor(installDir, archive);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(path, ec))) continue;  // (a missing name also sets ec)
        // Every member once, and all of the manifest's: else the archive is written as before.
        if (keys[archive].size() != names.size() || keys[archive] != members.at(archive)) continue;
        auto assembly =
            ArchiveAssembly::open(staging.pathFor(assemblyStagedNames(archive)[0]), path, names, payloads[archive]);
        if (assembly) assemblies.emplace(archive, std::move(assembly));
    }
    return assemblies;
}

}  // namespace mendly
