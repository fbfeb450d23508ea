#include "patch/install_record.h"

#include <nlohmann/json.hpp>

#include "hash/digest.h"
#include "log/text.h"
#include "patch/manifest.h"
#include "platform/file.h"

namespace mendly {
namespace {

// The first line: the format's name and version, then the SHA-256 of all
// that follows it. A record of any other first line is not ours to read.
constexpr std::string_view kFormatLine = "mendly-install-record 1 ";
constexpr std::size_t kDigestLength = 64;

using nlohmann::json;

bool isLowerHex(std::string_view text, std::size_t length) {
    return text.size() == length &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
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
    if (!isLowerHex(entry.md5, 32) || stored > UINT32_MAX || original > UINT32_MAX) return std::nullopt;
    if (!entry.sha256.empty() && !isLowerHex(entry.sha256, 64)) return std::nullopt;
    entry.storedSize = static_cast<std::uint32_t>(stored);
    entry.originalSize = static_cast<std::uint32_t>(original);
    return entry;
}

}  // namespace

std::string InstallRecord::text() const {
    json holders = json::object();
    for (const auto& [key, stamp] : holders_)
        holders[key] = json::array({stamp.size, stamp.mtimeNs, stamp.fileId, stamp.volumeId});
    json entries = json::object();
    for (const auto& [relative, entry] : entries_)
        entries[relative] = json::array({entry.holder, entry.md5, entry.storedSize, entry.originalSize, entry.sha256});
    const json body = {{"manifest", manifestSha256_}, {"holders", std::move(holders)}, {"entries", std::move(entries)}};
    // Paths the manifest named are UTF-8; anything else is replaced rather
    // than refused (such an entry then simply never matches).
    const std::string bodyText = body.dump(-1, ' ', false, json::error_handler_t::replace);
    return std::string(kFormatLine) + sha256Hex(bodyText) + "\n" + bodyText;
}

std::optional<InstallRecord> InstallRecord::fromText(std::string_view text) {
    if (!text.starts_with(kFormatLine)) return std::nullopt;
    const std::size_t bodyStart = kFormatLine.size() + kDigestLength + 1;
    if (text.size() < bodyStart || text[bodyStart - 1] != '\n') return std::nullopt;
    const std::string_view digest = text.substr(kFormatLine.size(), kDigestLength);
    const std::string_view bodyText = text.substr(bodyStart);
    if (!isLowerHex(digest, kDigestLength) || sha256Hex(bodyText) != digest) return std::nullopt;

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
        // An entry whose holder is not recorded: the record contradicts itself.
        if (!entry || !record.holders_.contains(entry->holder)) return std::nullopt;
        record.entries_.emplace(relative, std::move(*entry));
    }
    return record;
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
