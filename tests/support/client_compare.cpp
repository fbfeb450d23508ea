#include "support/client_compare.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>

namespace mendly::test {
namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 9> kArchives = {"definitions", "gfx",   "language", "models", "scripts",
                                                       "sound",       "terminal", "terrain", "worlds"};

std::optional<std::string> fileBytes(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::uint32_t le32(std::string_view bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

std::optional<std::string> inflateExactly(std::string_view stream, std::uint32_t size) {
    std::string out(size, '\0');
    uLongf produced = size;
    if (::uncompress(reinterpret_cast<Bytef*>(out.data()), &produced, reinterpret_cast<const Bytef*>(stream.data()),
                     static_cast<uLong>(stream.size())) != Z_OK ||
        produced != size)
        return std::nullopt;
    return out;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Where a host file lands: (archive name, member key), or no archive for a loose file.
struct Placement {
    std::string archive;  // empty: loose
    std::string member;
    bool payload = false;
};

Placement placementOf(std::string relative) {
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const auto slash = relative.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == relative.size()) return {};
    const std::string first = lower(relative.substr(0, slash));
    if (std::find(kArchives.begin(), kArchives.end(), first) == kArchives.end()) return {};
    std::string member = lower(relative.substr(slash + 1));
    std::replace(member.begin(), member.end(), '/', '\\');
    const auto lastSep = member.rfind('\\');
    const std::size_t nameAt = lastSep == std::string::npos ? 0 : lastSep + 1;
    Placement p{first, member, false};
    if (member.compare(nameAt, 4, "pak_") == 0 && member.size() - nameAt >= 4) {
        p.member.erase(nameAt, 4);
        p.payload = true;
    }
    return p;
}

std::optional<std::string> decodePayload(std::string_view payload) {
    static constexpr unsigned char kMagic[12] = {0x0A, 0xF7, 0x3D, 0x88, 0x84, 0x75,
                                                 0x84, 0x93, 0xBD, 0xEF, 0xFD, 0xAB};
    if (payload.size() <= 16 || !std::equal(std::begin(kMagic), std::end(kMagic), payload.begin(),
                                            [](unsigned char m, char c) { return m == static_cast<unsigned char>(c); }))
        return std::nullopt;
    return inflateExactly(payload.substr(16), le32(payload, 12));
}

bool isUserIni(std::string relative) {
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::string l = lower(relative);
    return l.starts_with("ini/") && l != "ini/updater.ini" && l != "ini/hash.ini";
}

}  // namespace

std::optional<std::map<std::string, std::string>> readArchiveIndependently(const fs::path& path) {
    const auto bytes = fileBytes(path);
    if (!bytes || bytes->size() < 8 || le32(*bytes, 0) != 0x3D458CDEu) return std::nullopt;
    const std::uint32_t count = le32(*bytes, 4);
    if (count > (bytes->size() - 8) / 20) return std::nullopt;
    std::map<std::string, std::string> entries;
    std::size_t at = 8;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + 20 > bytes->size()) return std::nullopt;
        const std::uint32_t offset = le32(*bytes, at + 4);
        const std::uint32_t stored = le32(*bytes, at + 8);
        const std::uint32_t original = le32(*bytes, at + 12);
        const std::uint32_t nameLength = le32(*bytes, at + 16);
        at += 20;
        if (at + nameLength > bytes->size()) return std::nullopt;
        std::string name = bytes->substr(at, nameLength);
        at += nameLength;
        if (std::uint64_t{offset} + stored > bytes->size()) return std::nullopt;
        const std::string_view data = std::string_view(*bytes).substr(offset, stored);
        std::optional<std::string> contents =
            stored == original ? std::optional<std::string>(std::string(data)) : inflateExactly(data, original);
        if (!contents) return std::nullopt;
        entries.emplace(std::move(name), std::move(*contents));
    }
    return entries;
}

std::vector<std::string> leftoverPartFiles(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 5 && name.ends_with(".part")) found.push_back(fs::relative(it->path(), folder).string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> stagedHostFiles(const fs::path& installDir, const PatchHostFolder& host) {
    std::vector<std::string> staged;
    for (const auto& file : host.files()) {
        const Placement where = placementOf(file.relative);
        const std::string form = where.archive.empty() ? "" : where.payload ? ".payload" : ".entry";
        const std::string name = lower(file.md5) + form;
        std::error_code ec;
        if (fs::is_regular_file(installDir / kStagingFolder / name, ec)) staged.push_back(file.relative);
    }
    std::sort(staged.begin(), staged.end());
    return staged;
}

std::vector<std::string> clientDifferences(const fs::path& installDir, const PatchHostFolder& host, IniScope scope) {
    std::vector<std::string> differences;
    std::map<std::string, std::map<std::string, std::string>> expectedMembers;  // archive -> key -> contents
    for (const auto& file : host.files()) {
        const Placement where = placementOf(file.relative);
        if (!where.archive.empty()) {
            std::string contents = file.served;
            if (where.payload) {
                auto decoded = decodePayload(file.served);
                if (!decoded) {
                    differences.push_back("host payload does not decode: " + file.relative);
                    continue;
                }
                contents = std::move(*decoded);
            }
            expectedMembers[where.archive][where.member] = std::move(contents);
            continue;
        }
        if (scope == IniScope::KeptOnly && isUserIni(file.relative)) continue;
        std::string relative = file.relative;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const auto local = fileBytes(installDir / relative);
        if (!local) {
            differences.push_back("missing: " + file.relative);
        } else if (*local != file.served) {
            differences.push_back("differs: " + file.relative);
        }
    }

    for (const std::string_view name : kArchives) {
        const fs::path path = installDir / (std::string(name) + ".pak");
        const auto wanted = expectedMembers.find(std::string(name));
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            if (wanted != expectedMembers.end()) differences.push_back("missing archive: " + path.filename().string());
            continue;
        }
        const auto entries = readArchiveIndependently(path);
        if (!entries) {
            differences.push_back("unreadable archive: " + path.filename().string());
            continue;
        }
        const std::map<std::string, std::string> none;
        const auto& expected = wanted == expectedMembers.end() ? none : wanted->second;
        for (const auto& [key, contents] : expected) {
            const auto found = entries->find(key);
            if (found == entries->end()) {
                differences.push_back("missing member: " + std::string(name) + "\\" + key);
            } else if (found->second != contents) {
                differences.push_back("differs: " + std::string(name) + "\\" + key);
            }
        }
        for (const auto& [key, contents] : *entries)
            if (!expected.contains(key)) differences.push_back("orphan member: " + std::string(name) + "\\" + key);
    }

    for (const std::string& part : leftoverPartFiles(installDir)) differences.push_back("left over: " + part);
    return differences;
}

}  // namespace mendly::test
