// parseServerList and the customlist.json reader on arbitrary bytes. Neither
// may crash, hang or throw. A document that is accepted must come back
// unchanged after being written in the customlist.json form and read again,
// and the reader of customlist.json must agree with the parser on the same
// bytes, read from a real file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "catalog/custom_list.h"
#include "catalog/json_file.h"
#include "catalog/server_list.h"

namespace {

// One scratch file per fuzzing process, removed when it ends.
const std::filesystem::path& scratchFile() {
    static const std::filesystem::path path = [] {
        // Memory-backed where there is such a folder: a file per input is the slow part.
        std::error_code ec;
        const auto folder = std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                                          : std::filesystem::temp_directory_path();
        auto p = folder / ("server_list_fuzz_" + std::to_string(::getpid()) + ".json");
        std::atexit([] { std::error_code ec; std::filesystem::remove(scratchFile(), ec); });
        return p;
    }();
    return path;
}

void writeScratch(std::string_view bytes) {
    std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mendly;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const auto entries = parseServerList(bytes);

    // The file reader: nothing for an empty file, else exactly the parser's answer.
    writeScratch(bytes);
    const auto fromFile = readCustomList(scratchFile());
    if (bytes.empty() ? fromFile.has_value() : fromFile != entries) std::abort();

    if (!entries) return 0;
    nlohmann::json servers = nlohmann::json::array();
    for (const ServerEntry& entry : *entries) {
        const nlohmann::json object = serverEntryToJson(entry);
        if (object.contains("installPath") == entry.installPath.empty()) std::abort();
        servers.push_back(object);
    }
    nlohmann::json document = nlohmann::json::object();
    document["servers"] = std::move(servers);

    // Everything the parser accepted is valid UTF-8, so it can always be written.
    const auto text = jsonFileText(document);
    if (!text) std::abort();
    if (!text->empty() && (text->back() == '\n' || text->starts_with("\xEF\xBB\xBF"))) std::abort();
    if (parseServerList(*text) != entries) std::abort();
    return 0;
}
