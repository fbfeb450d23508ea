#include "patch/manifest.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>

#include "log/text.h"
#include "patch/manifest_collisions.h"
#include "patch/manifest_document.h"
#include "patch/manifest_path_check.h"

namespace mendly {
namespace {

std::string slashed(std::string_view relative) {
    std::string copy(relative);
    std::replace(copy.begin(), copy.end(), '\\', '/');
    return copy;
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
            return "files[" + std::to_string(i) + "]: unsafe path \"" + printablePath(entry.relative) + "\" \u2014 " +
                   problem;
        const auto unusable = [&](const char* what, const std::string& path, const std::string& problem) {
            return "files[" + std::to_string(i) + "]: unusable " + what + " path \"" + printablePath(path) +
                   "\" \u2014 " + problem;
        };
        if (!entry.served.empty())
            if (const std::string problem = servedPathProblem(entry.served); !problem.empty())
                return unusable("served", entry.served, problem);
        for (const ManifestDelta& delta : entry.deltas)
            if (const std::string problem = servedPathProblem(delta.path); !problem.empty())
                return unusable("delta", delta.path, problem);
    }
    return {};
}

}  // namespace

bool parseManifest(std::string_view bytes, PatchManifest& manifest, std::u16string& error) {
    manifest = PatchManifest{};
    PatchManifest parsed;
    std::string failure;
    try {
        if (!readPlainManifest(bytes, parsed)) {
            parsed = PatchManifest{};
            readManifestDocument(bytes, parsed);
        }
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
