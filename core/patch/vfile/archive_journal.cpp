#include "patch/vfile/archive_journal.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <system_error>

#include "patch/vfile/byte_order.h"
#include "patch/vfile/format.h"
#include "platform/file_update.h"

namespace mendly::vfile {
namespace {

constexpr std::string_view kJournalMagic = "MNDJ";
constexpr std::uint32_t kJournalVersion = 1;
// Magic, version, two sizes, two lengths; the checksum follows the regions.
constexpr std::size_t kJournalHeaderSize = 4 + 4 + 8 + 8 + 4 + 4;
constexpr std::size_t kChecksumSize = 4;

void appendLe64(std::string& out, std::uint64_t value) {
    appendLe32(out, static_cast<std::uint32_t>(value));
    appendLe32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t readLe64(std::string_view bytes, std::size_t at) {
    return readLe32(bytes, at) | (static_cast<std::uint64_t>(readLe32(bytes, at + 4)) << 32);
}

std::uint32_t checksum(std::string_view bytes) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    while (!bytes.empty()) {
        const auto piece = std::min<std::size_t>(bytes.size(), 1u << 30);
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(piece));
        bytes.remove_prefix(piece);
    }
    return static_cast<std::uint32_t>(crc);
}

void removeJournal(const std::filesystem::path& journalPath, std::error_code& ec) {
    std::filesystem::remove(journalPath, ec);  // a link at that name goes, never what it points to
    if (!ec) platform::flushFolder(journalPath.parent_path());
}

// The bytes of the journal file at `journalPath`, or nothing when there is
// no journal file of ours: no file, or a folder or other thing that is not a
// file or a link (somebody else's; an update then finds the name taken and
// rewrites the archive whole). A link, or a file too large to be a journal,
// reads as no bytes: an invalid journal, removed as such.
std::optional<std::string> readJournalFile(const std::filesystem::path& journalPath) {
    std::error_code ec;
    const auto type = std::filesystem::symlink_status(journalPath, ec).type();
    if (ec || (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::symlink))
        return std::nullopt;
    constexpr std::uint64_t kLargest = kJournalHeaderSize + 2ull * kMaxStoredValue + kChecksumSize;
    const auto size = std::filesystem::file_size(journalPath, ec);
    if (type != std::filesystem::file_type::regular || ec || size > kLargest) return std::string();
    std::ifstream in(journalPath, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::string();
    return bytes;
}

// True when `archive` (open) is in a state the journaled update can have left
// it in: any moment of appending, writing the directory or undoing.
bool archiveFitsJournal(platform::FileUpdate& archive, const ArchiveJournal& journal) {
    const auto size = archive.size();
    if (!size || *size < journal.oldSize || *size > journal.newSize) return false;
    const auto checked = static_cast<std::size_t>(std::min<std::uint64_t>(*size, journal.newRegion.size()));
    std::string region;
    if (!archive.readAt(0, checked, region)) return false;
    for (std::size_t i = 0; i < checked; ++i) {
        if (region[i] == journal.newRegion[i]) continue;
        if (i < journal.oldRegion.size() && region[i] == journal.oldRegion[i]) continue;
        // Beyond the old end and before the appended bytes the file has a
        // hole until the directory is written there.
        if (i >= journal.oldSize && region[i] == '\0') continue;
        return false;
    }
    return true;
}

bool restoreOldRegion(platform::FileUpdate& archive, const ArchiveJournal& journal) {
    return archive.writeAt(0, journal.oldRegion) && archive.truncate(journal.oldSize) && archive.flush() &&
           archive.close();
}

}  // namespace

std::filesystem::path journalPathFor(const std::filesystem::path& archivePath) {
    std::filesystem::path journal = archivePath;
    journal += ".journal";
    return journal;
}

std::string encodeJournal(const ArchiveJournal& journal) {
    std::string out;
    out.reserve(kJournalHeaderSize + journal.oldRegion.size() + journal.newRegion.size() + kChecksumSize);
    out += kJournalMagic;
    appendLe32(out, kJournalVersion);
    appendLe64(out, journal.oldSize);
    appendLe64(out, journal.newSize);
    appendLe32(out, static_cast<std::uint32_t>(journal.oldRegion.size()));
    appendLe32(out, static_cast<std::uint32_t>(journal.newRegion.size()));
    out += journal.oldRegion;
    out += journal.newRegion;
    appendLe32(out, checksum(out));
    return out;
}

std::optional<ArchiveJournal> decodeJournal(std::string_view bytes) {
    if (bytes.size() < kJournalHeaderSize + kChecksumSize) return std::nullopt;
    if (bytes.substr(0, 4) != kJournalMagic || readLe32(bytes, 4) != kJournalVersion) return std::nullopt;
    const std::uint64_t oldLength = readLe32(bytes, 24);
    const std::uint64_t newLength = readLe32(bytes, 28);
    if (bytes.size() != kJournalHeaderSize + oldLength + newLength + kChecksumSize) return std::nullopt;
    const std::size_t body = bytes.size() - kChecksumSize;
    if (readLe32(bytes, body) != checksum(bytes.substr(0, body))) return std::nullopt;
    ArchiveJournal journal;
    journal.oldSize = readLe64(bytes, 8);
    journal.newSize = readLe64(bytes, 16);
    journal.oldRegion = bytes.substr(kJournalHeaderSize, static_cast<std::size_t>(oldLength));
    journal.newRegion = bytes.substr(kJournalHeaderSize + oldLength, static_cast<std::size_t>(newLength));
    // What a writer of this version makes; anything else is not to be acted on.
    if (journal.newSize < journal.oldSize || journal.newRegion.size() > journal.newSize ||
        journal.oldRegion.size() != std::min<std::uint64_t>(journal.newRegion.size(), journal.oldSize))
        return std::nullopt;
    return journal;
}

bool writeJournal(const std::filesystem::path& archivePath, const ArchiveJournal& journal,
                  std::uint64_t& bytesWritten) {
    const auto path = journalPathFor(archivePath);
    const std::string bytes = encodeJournal(journal);
    platform::FileUpdate out;
    const bool created = out.create(path);
    if (created && out.writeAt(0, bytes) && out.flush() && out.close()) {
        bytesWritten += bytes.size();
        // The journal's name must be on the disk before the archive changes.
        platform::flushFolder(path.parent_path());
        return true;
    }
    if (created) {
        bytesWritten += out.bytesWritten();
        (void)out.close();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    return false;
}

bool rollBackArchive(const std::filesystem::path& archivePath, const ArchiveJournal& journal) {
    platform::FileUpdate archive;
    if (!archive.open(archivePath) || !restoreOldRegion(archive, journal)) return false;
    std::error_code ec;
    removeJournal(journalPathFor(archivePath), ec);
    return !ec;
}

bool recoverInterruptedUpdate(const std::filesystem::path& archivePath) {
    const auto journalPath = journalPathFor(archivePath);
    const auto bytes = readJournalFile(journalPath);
    if (!bytes) return true;
    const auto journal = decodeJournal(*bytes);
    if (journal) {
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(archivePath, ec);
        if (!ec && status.type() == std::filesystem::file_type::regular) {
            platform::FileUpdate archive;
            // An archive that is there but cannot be opened now (in use) keeps
            // its journal for a later attempt.
            if (!archive.open(archivePath)) return false;
            if (archiveFitsJournal(archive, *journal)) {
                if (!restoreOldRegion(archive, *journal)) return false;
            }
        }
    }
    // Undone, torn, or not this archive's: the journal has nothing more to say.
    std::error_code ec;
    removeJournal(journalPath, ec);
    return !ec;
}

}  // namespace mendly::vfile
