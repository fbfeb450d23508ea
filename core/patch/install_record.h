#pragma once
// The installation's record of what it holds: for every file a successful
// run left verified, the file's stamp (size, modification time, file number)
// and the digests of the entries it holds. An update run takes an entry whose
// holder still has the recorded stamp, and whose recorded digest is the one
// the manifest names now, as matching without reading it; only the rest is
// hashed. Install and Verify runs ignore the record and hash everything.
//
// Kept in <installation>/.mendly-state (JSON, replaced whole through
// platform::replaceWholeFile), written as the last step of a successful run
// and only for entries whose bytes that run hashed or took from the record,
// in holders not written since. The file carries the SHA-256 of the manifest
// it was verified against and a SHA-256 of its own contents: a record that is
// missing, unreadable, cut short, edited or of another format is not used at
// all, and the run verifies everything as if there were none.
//
// Threads: a loaded record is read-only and may be shared by verification
// workers; building and saving belong to the run's own thread.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_stamp.h"

namespace mendly {

inline constexpr std::string_view kInstallRecordFileName = ".mendly-state";

struct RecordedEntry {
    std::string holder;          // key of the holder (see holder_stamps.h)
    std::string md5;             // lowercase hex, as the manifest named it
    std::string sha256;          // lowercase hex when the manifest named one, else empty
    std::uint32_t storedSize = 0;    // archive members: the directory's sizes
    std::uint32_t originalSize = 0;
};

class InstallRecord {
public:
    // The record of `installDir`, or nothing when there is none it can trust.
    static std::optional<InstallRecord> load(const std::filesystem::path& installDir);
    // Writes the record (temporary file, flush, rename). False when it cannot.
    [[nodiscard]] bool save(const std::filesystem::path& installDir) const;

    void setManifestDigest(std::string sha256Hex) { manifestSha256_ = std::move(sha256Hex); }
    const std::string& manifestDigest() const { return manifestSha256_; }
    void addHolder(const std::string& key, const platform::FileStamp& stamp) { holders_[key] = stamp; }
    void addEntry(const std::string& relative, RecordedEntry entry);

    // The recorded entry for the manifest path `relative` whose holder is
    // recorded with exactly `stamp` and whose digests are `md5` and `sha256`
    // (case ignored; an empty `sha256` is not compared); nothing otherwise.
    const RecordedEntry* vouchedEntry(std::string_view relative, std::string_view md5, std::string_view sha256,
                                      const platform::FileStamp& stamp) const;
    // The recorded entry for `relative` whose holder is recorded with exactly
    // `stamp`, whatever its digests: what the holder is known to hold now.
    const RecordedEntry* standingEntry(std::string_view relative, const platform::FileStamp& stamp) const;
    // True when `entry` names the content of digests `md5` and `sha256`
    // (case ignored; an empty `sha256` is not compared).
    static bool namesContent(const RecordedEntry& entry, std::string_view md5, std::string_view sha256);
    std::size_t entryCount() const { return entries_.size(); }

    // The exact text save() writes, and its parser (nothing when untrusted).
    std::string text() const;
    static std::optional<InstallRecord> fromText(std::string_view text);

private:
    static std::optional<InstallRecord> fromPlainBody(std::string_view bodyText);
    static std::optional<InstallRecord> fromBody(std::string_view bodyText);
    bool consistent() const;

    std::string manifestSha256_;
    std::map<std::string, platform::FileStamp, std::less<>> holders_;
    std::map<std::string, RecordedEntry, std::less<>> entries_;
};

}  // namespace mendly
