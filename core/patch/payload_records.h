#pragma once
// What an installation remembers about single-file payloads it could not
// keep in their served form.
//
// A payload whose zlib body is exactly as long as its contents cannot be
// stored as it came: the archive format takes an entry of that length for
// the raw contents. Apply then stores the contents, and verification, which
// rebuilds the served payload from the stored entry, could never match again.
// So apply records "payload MD5 -> contents MD5" for such a payload (a fact it
// checked by inflating the body), and verification accepts a raw stored entry
// whose contents have the recorded MD5 for a payload of the recorded MD5.
//
// Kept in <installation>/.mendly-payloads, one "<payload md5> <contents md5>"
// line each, lowercase hex, replaced whole (platform::replaceWholeFile).
// Threads: a loaded set is read-only and may be shared; add/save belong to
// the apply step's thread.
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace mendly {

inline constexpr std::string_view kPayloadRecordsFileName = ".mendly-payloads";

class PayloadRecords {
public:
    // The records of `installDir`; none when the file is missing or unreadable
    // (lines that are not two MD5s are passed over).
    static PayloadRecords load(const std::filesystem::path& installDir);

    // True when the payload of MD5 `payloadMd5` is recorded with contents of
    // MD5 `contentsMd5` (ASCII case ignored).
    bool matches(std::string_view payloadMd5, std::string_view contentsMd5) const;
    void add(std::string_view payloadMd5, std::string_view contentsMd5);
    bool empty() const { return contentsByPayload_.empty(); }
    // Drops the records of payloads whose MD5 is not in `payloadMd5s` (any case).
    void retain(const std::set<std::string>& payloadMd5s);
    // Writes the file (or removes it when there is no record). False when it
    // cannot be written.
    [[nodiscard]] bool save(const std::filesystem::path& installDir) const;

private:
    std::map<std::string, std::string> contentsByPayload_;
};

}  // namespace mendly
