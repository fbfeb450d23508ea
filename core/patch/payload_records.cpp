#include "patch/payload_records.h"

#include <sstream>
#include <system_error>

#include "log/text.h"
#include "platform/file.h"

namespace mendly {

PayloadRecords PayloadRecords::load(const std::filesystem::path& installDir) {
    PayloadRecords records;
    std::string bytes;
    if (platform::readWholeFile(installDir / kPayloadRecordsFileName, bytes) != platform::FileRead::Read) return records;
    std::istringstream lines(bytes);
    std::string payload, contents;
    while (lines >> payload >> contents) {
        payload = asciiLowered(payload);
        contents = asciiLowered(contents);
        if (isHexText(payload, 32, true) && isHexText(contents, 32, true))
            records.contentsByPayload_[payload] = contents;
    }
    return records;
}

bool PayloadRecords::matches(std::string_view payloadMd5, std::string_view contentsMd5) const {
    const auto found = contentsByPayload_.find(asciiLowered(payloadMd5));
    return found != contentsByPayload_.end() && found->second == asciiLowered(contentsMd5);
}

void PayloadRecords::add(std::string_view payloadMd5, std::string_view contentsMd5) {
    contentsByPayload_[asciiLowered(payloadMd5)] = asciiLowered(contentsMd5);
}

void PayloadRecords::retain(const std::set<std::string>& payloadMd5s) {
    std::set<std::string> wanted;
    for (const std::string& md5 : payloadMd5s) wanted.insert(asciiLowered(md5));
    std::erase_if(contentsByPayload_, [&](const auto& record) { return !wanted.contains(record.first); });
}

bool PayloadRecords::save(const std::filesystem::path& installDir) const {
    const auto path = installDir / kPayloadRecordsFileName;
    std::error_code ec;
    if (contentsByPayload_.empty()) {
        std::filesystem::remove(path, ec);
        return !ec;
    }
    std::string text;
    for (const auto& [payload, contents] : contentsByPayload_) text += payload + ' ' + contents + '\n';
    return platform::replaceWholeFile(path, text) == platform::FileWrite::Written;
}

}  // namespace mendly
