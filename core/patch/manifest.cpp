#include "patch/manifest.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>

#include <nlohmann/json.hpp>

#include "log/text.h"
#include "patch/manifest_collisions.h"
#include "patch/manifest_path_check.h"

namespace mendly {
namespace {

using Json = nlohmann::json;

std::string slashed(std::string_view relative) {
    std::string copy(relative);
    std::replace(copy.begin(), copy.end(), '\\', '/');
    return copy;
}

// A path as it may appear inside a message: control characters as \xNN.
std::string printable(std::string_view path) {
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Reads the document into `out`; throws the JSON library's exceptions.
void readDocument(std::string_view bytes, PatchManifest& out) {
    const Json root = Json::parse(bytes.data(), bytes.data() + bytes.size(), nullptr,
                                  /*allow_exceptions=*/true, /*ignore_comments=*/false);
    const Json& files = root.at("files");
    if (!files.is_array())
        throw Json::type_error::create(302, "type must be array, but is " + std::string(files.type_name()), &files);

    out.files.reserve(files.size());
    for (const Json& element : files) {
        ManifestEntry entry;
        entry.relative = element.at("relative").get<std::string>();
        entry.md5 = element.at("md5").get<std::string>();
        // Optional; a value that is not a byte count is ignored like any
        // unknown key, so older and foreign manifests keep working.
        if (const auto size = element.find("size"); size != element.end() && size->is_number_unsigned())
            entry.size = size->get<std::uint64_t>();
        // Optional too, but once given it must be one: a digest that cannot
        // be checked would quietly weaken the check to the MD5 alone.
        if (const auto sha256 = element.find("sha256"); sha256 != element.end()) {
            entry.sha256 = sha256->get<std::string>();
            if (entry.sha256.size() != 64 || entry.sha256.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                throw Json::other_error::create(501, "sha256 of \"" + printable(entry.relative) +
                                                         "\" is not 64 hexadecimal digits", &element);
        }
        // Optional; a value that is there must be a path (checked with the
        // others once the document is read).
        if (const auto served = element.find("served"); served != element.end())
            entry.served = served->get<std::string>();
        out.files.push_back(std::move(entry));
    }
    if (const auto generated = root.find("generated"); generated != root.end() && generated->is_string())
        out.generated = generated->get<std::string>();
    if (const auto release = root.find("release"); release != root.end() && release->is_number_unsigned())
        out.release = release->get<std::uint64_t>();
    if (const auto expires = root.find("expires"); expires != root.end() && expires->is_string())
        out.expires = expires->get<std::string>();
    if (const auto server = root.find("server"); server != root.end() && server->is_string())
        out.server = server->get<std::string>();
}

// Empty when `served` may be fetched as it stands below the server's
// folder, otherwise why not. Only publishers write it, so it is held to what
// an address carries unescaped.
std::string servedPathProblem(std::string_view served) {
    for (const char c : served) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) return "contains a space or a control character";
        if (c == '\\' || c == '%' || c == '#' || c == '?') return std::string("contains '") + c + "'";
    }
    return manifestPathProblem(served);
}

// Why a listed path or served path is unusable, or empty.
std::string entryPathProblem(const std::vector<ManifestEntry>& files) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ManifestEntry& entry = files[i];
        if (const std::string problem = manifestPathProblem(entry.relative); !problem.empty())
            return "files[" + std::to_string(i) + "]: unsafe path \"" + printable(entry.relative) + "\" \u2014 " +
                   problem;
        if (entry.served.empty()) continue;
        if (const std::string problem = servedPathProblem(entry.served); !problem.empty())
            return "files[" + std::to_string(i) + "]: unusable served path \"" + printable(entry.served) +
                   "\" \u2014 " + problem;
    }
    return {};
}

}  // namespace

bool parseManifest(std::string_view bytes, PatchManifest& manifest, std::u16string& error) {
    manifest = PatchManifest{};
    PatchManifest parsed;
    std::string failure;
    try {
        readDocument(bytes, parsed);
    } catch (const std::bad_alloc&) {
        error = u"Not enough memory to read the patch manifest.";
        return false;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (failure.empty()) failure = entryPathProblem(parsed.files);
    if (failure.empty()) failure = manifestCollisionProblem(parsed.files);
    if (!failure.empty()) {
        error = toWide("manifest parse: " + failure);
        return false;
    }
    manifest = std::move(parsed);
    return true;
}

std::u16string fileUrl(std::u16string_view filesBaseUrl, const ManifestEntry& entry) {
    std::u16string relative = toWide(entry.served.empty() ? entry.relative : entry.served);
    std::replace(relative.begin(), relative.end(), u'\\', u'/');
    std::size_t end = filesBaseUrl.size();
    while (end > 0 && (filesBaseUrl[end - 1] == u'/' || filesBaseUrl[end - 1] == u'\\')) --end;
    std::u16string url(filesBaseUrl.substr(0, end));
    url += u'/';
    url += relative;
    return url;
}

std::filesystem::path looseFilePath(const std::filesystem::path& installDir, std::string_view relative) {
    return installDir / std::filesystem::path(toWide(slashed(relative)));
}

bool isIniPath(std::string_view relative) {
    const std::string path = slashed(relative);
    return path.size() >= 4 && equalsIgnoreAsciiCase(std::string_view(path).substr(0, 4), "ini/");
}

bool isKeptIniPath(std::string_view relative) {
    const std::string path = slashed(relative);
    return equalsIgnoreAsciiCase(path, "ini/updater.ini") || equalsIgnoreAsciiCase(path, "ini/hash.ini");
}

bool isSelectedForMode(const ManifestEntry& entry, PatchMode mode) {
    switch (mode) {
        case PatchMode::Update:
        case PatchMode::Verify: return !isIniPath(entry.relative) || isKeptIniPath(entry.relative);
        case PatchMode::Install: return true;
        case PatchMode::ResetIni: return isIniPath(entry.relative);
    }
    return true;  // an unknown mode value selects everything
}

bool md5Matches(std::string_view computed, std::string_view manifestMd5) {
    return equalsIgnoreAsciiCase(computed, manifestMd5);
}

}  // namespace mendly
