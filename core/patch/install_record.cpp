#include "patch/install_record.h"

#include <nlohmann/json.hpp>

#include "hash/digest.h"
#include "log/text.h"
#include "patch/json_reader.h"
#include "patch/manifest.h"
#include "platform/file.h"

namespace mendly {
namespace {

// The first line: the format's name and version, then the SHA-256 of all
// that follows it. A record of any other first line is not ours to read.
constexpr std::string_view kFormatLine = "mendly-install-record 1 ";
constexpr std::size_t kDigestLength = 64;

using nlohmann::json;

// Sets the entry's sizes when they and its digests are what a record holds.
bool takeSizes(RecordedEntry& entry, std::uint64_t stored, std::uint64_t original) {
    if (!isHexText(entry.md5, 32, true) || stored > UINT32_MAX || original > UINT32_MAX) return false;
    if (!entry.sha256.empty() && !isHexText(entry.sha256, 64, true)) return false;
    entry.storedSize = static_cast<std::uint32_t>(stored);
    entry.originalSize = static_cast<std::uint32_t>(original);
    return true;
}

std::optional<platform::FileStamp> stampFrom(const json& value) {
    if (!value.is_array() || value.size() != 4) return std::nullopt;
    for (const auto& part : value)
        if (!part.is_number_integer()) return std::nullopt;
    platform::FileStamp stamp;
    stamp.size = value[0].get<std::uint64_t>();
    stamp.mtimeNs = value[1].get<std::int64_t>();
    stamp.fileId = value[2].get<std::uint64_t>();
    stamp.volumeId = value[3].get<std::uint64_t>();
    return stamp;
}

std::optional<RecordedEntry> entryFrom(const json& value) {
    if (!value.is_array() || value.size() != 5 || !value[0].is_string() || !value[1].is_string() ||
        !value[2].is_number_unsigned() || !value[3].is_number_unsigned() || !value[4].is_string())
        return std::nullopt;
    RecordedEntry entry;
    entry.holder = value[0].get<std::string>();
    entry.md5 = value[1].get<std::string>();
    const auto stored = value[2].get<std::uint64_t>();
    const auto original = value[3].get<std::uint64_t>();
    entry.sha256 = value[4].get<std::string>();
    if (!takeSizes(entry, stored, original)) return std::nullopt;
    return entry;
}

// [size, mtime, file id, volume id], as text() writes it.
bool readPlainStamp(JsonReader& reader, platform::FileStamp& stamp) {
    return reader.beginArray() && reader.nextElement() && reader.readUnsigned(stamp.size) && reader.nextElement() &&
           reader.readSigned(stamp.mtimeNs) && reader.nextElement() && reader.readUnsigned(stamp.fileId) &&
           reader.nextElement() && reader.readUnsigned(stamp.volumeId) && !reader.nextElement() && !reader.failed();
}

// [holder, md5, stored size, original size, sha256], as text() writes it.
bool readPlainEntry(JsonReader& reader, RecordedEntry& entry) {
    std::uint64_t stored = 0, original = 0;
    if (!(reader.beginArray() && reader.nextElement() && reader.readString(entry.holder) && reader.nextElement() &&
          reader.readString(entry.md5) && reader.nextElement() && reader.readUnsigned(stored) &&
          reader.nextElement() && reader.readUnsigned(original) && reader.nextElement() &&
          reader.readString(entry.sha256) && !reader.nextElement() && !reader.failed()))
        return false;
    return takeSizes(entry, stored, original);
}

// Puts `value` under `key`, the last value of a key winning. Keys mostly come
// in order (text() writes them so, runs add entries in path order), and each
// then goes straight to the end.
template <typename Map>
void putInOrder(Map& map, const std::string& key, typename Map::mapped_type&& value) {
    if (map.empty() || map.key_comp()(std::prev(map.end())->first, key))
        map.emplace_hint(map.end(), key, std::move(value));
    else
        map.insert_or_assign(key, std::move(value));
}

// An object of key -> value read by `readValue`; a key given twice keeps
// the last value, as the library does.
template <typename Map, typename ReadValue>
bool readPlainMap(JsonReader& reader, Map& map, ReadValue readValue) {
    if (!reader.beginObject()) return false;
    std::string key;
    while (reader.nextMember(key)) {
        typename Map::mapped_type value{};
        if (!readValue(reader, value)) return false;
        putInOrder(map, key, std::move(value));
    }
    return !reader.failed();
}

}  // namespace

std::string InstallRecord::text() const {
    // The JSON library's compact form, written directly: members in key
    // order ("entries", "holders", "manifest"), each map in its own order.
    // The first line's digest is filled in once the body after it is written.
    std::string body;
    body.reserve(kFormatLine.size() + kDigestLength + 64 + entries_.size() * 192 + holders_.size() * 96);
    body += kFormatLine;
    body.append(kDigestLength, '0');
    body.push_back('\n');
    const std::size_t bodyStart = body.size();
    const auto quoted = [&body](std::string_view text) {
        body.push_back('"');
        appendJsonString(body, text);
        body.push_back('"');
    };
    const auto number = [&body](auto value) { body += std::to_string(value); };
    body += "{\"entries\":{";
    for (const auto& [relative, entry] : entries_) {
        if (body.back() != '{') body.push_back(',');
        quoted(relative);
        body += ":[";
        quoted(entry.holder);
        body.push_back(',');
        quoted(entry.md5);
        body.push_back(',');
        number(entry.storedSize);
        body.push_back(',');
        number(entry.originalSize);
        body.push_back(',');
        quoted(entry.sha256);
        body.push_back(']');
    }
    body += "},\"holders\":{";
    for (const auto& [key, stamp] : holders_) {
        if (body.back() != '{') body.push_back(',');
        quoted(key);
        body += ":[";
        number(stamp.size);
        body.push_back(',');
        number(stamp.mtimeNs);
        body.push_back(',');
        number(stamp.fileId);
        body.push_back(',');
        number(stamp.volumeId);
        body.push_back(']');
    }
    body += "},\"manifest\":";
    quoted(manifestSha256_);
    body.push_back('}');
    body.replace(kFormatLine.size(), kDigestLength, sha256Hex(std::string_view(body).substr(bodyStart)));
    return body;
}

std::optional<InstallRecord> InstallRecord::fromText(std::string_view text) {
    if (!text.starts_with(kFormatLine)) return std::nullopt;
    const std::size_t bodyStart = kFormatLine.size() + kDigestLength + 1;
    if (text.size() < bodyStart || text[bodyStart - 1] != '\n') return std::nullopt;
    const std::string_view digest = text.substr(kFormatLine.size(), kDigestLength);
    const std::string_view bodyText = text.substr(bodyStart);
    if (!isHexText(digest, kDigestLength, true) || sha256Hex(bodyText) != digest) return std::nullopt;
    if (auto record = fromPlainBody(bodyText)) return record;
    return fromBody(bodyText);
}

// The body as the JSON library reads it: for records that the plain reader
// leaves to it (none that text() writes).
std::optional<InstallRecord> InstallRecord::fromBody(std::string_view bodyText) {
    const json body = json::parse(bodyText, nullptr, false);
    if (!body.is_object() || !body.contains("manifest") || !body["manifest"].is_string() ||
        !body.contains("holders") || !body["holders"].is_object() || !body.contains("entries") ||
        !body["entries"].is_object())
        return std::nullopt;
    InstallRecord record;
    record.manifestSha256_ = body["manifest"].get<std::string>();
    for (const auto& [key, value] : body["holders"].items()) {
        const auto stamp = stampFrom(value);
        if (!stamp) return std::nullopt;
        record.holders_.emplace(key, *stamp);
    }
    for (const auto& [relative, value] : body["entries"].items()) {
        auto entry = entryFrom(value);
        if (!entry) return std::nullopt;
        record.entries_.emplace(relative, std::move(*entry));
    }
    return record.consistent() ? std::optional<InstallRecord>(std::move(record)) : std::nullopt;
}

// The body through the plain reader; nothing when it leaves the body to the
// library (the library then decides, and refuses what is not a record).
std::optional<InstallRecord> InstallRecord::fromPlainBody(std::string_view bodyText) {
    JsonReader reader(bodyText);
    InstallRecord record;
    bool haveManifest = false, haveHolders = false, haveEntries = false;
    std::string key;
    if (!reader.beginObject()) return std::nullopt;
    while (reader.nextMember(key)) {
        bool ok = false;
        if (key == "manifest") {
            ok = haveManifest = reader.readString(record.manifestSha256_);
        } else if (key == "holders") {
            record.holders_.clear();
            ok = haveHolders = readPlainMap(reader, record.holders_, readPlainStamp);
        } else if (key == "entries") {
            record.entries_.clear();
            ok = haveEntries = readPlainMap(reader, record.entries_, readPlainEntry);
        } else {
            ok = reader.skipValue();
        }
        if (!ok) return std::nullopt;
    }
    if (!reader.atEnd() || !haveManifest || !haveHolders || !haveEntries || !record.consistent()) return std::nullopt;
    return record;
}

// Every entry's holder is recorded; otherwise the record contradicts itself.
bool InstallRecord::consistent() const {
    for (const auto& item : entries_)
        if (!holders_.contains(item.second.holder)) return false;
    return true;
}

std::optional<InstallRecord> InstallRecord::load(const std::filesystem::path& installDir) {
    std::string bytes;
    if (platform::readWholeFile(installDir / kInstallRecordFileName, bytes) != platform::FileRead::Read)
        return std::nullopt;
    return fromText(bytes);
}

bool InstallRecord::save(const std::filesystem::path& installDir) const {
    return platform::replaceWholeFile(installDir / kInstallRecordFileName, text()) == platform::FileWrite::Written;
}

void InstallRecord::addEntry(const std::string& relative, RecordedEntry entry) {
    putInOrder(entries_, relative, std::move(entry));
}

const RecordedEntry* InstallRecord::standingEntry(std::string_view relative, const platform::FileStamp& stamp) const {
    const auto entry = entries_.find(relative);
    if (entry == entries_.end()) return nullptr;
    const auto holder = holders_.find(entry->second.holder);
    if (holder == holders_.end() || holder->second != stamp) return nullptr;
    return &entry->second;
}

bool InstallRecord::namesContent(const RecordedEntry& entry, std::string_view md5, std::string_view sha256) {
    return md5Matches(entry.md5, md5) && (sha256.empty() || equalsIgnoreAsciiCase(entry.sha256, sha256));
}

const RecordedEntry* InstallRecord::vouchedEntry(std::string_view relative, std::string_view md5,
                                                 std::string_view sha256, const platform::FileStamp& stamp) const {
    const RecordedEntry* entry = standingEntry(relative, stamp);
    return entry && namesContent(*entry, md5, sha256) ? entry : nullptr;
}

}  // namespace mendly
