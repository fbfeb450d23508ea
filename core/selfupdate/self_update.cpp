#include "selfupdate/self_update.h"

#include <fstream>

#include "build_info.h"
#include "deployment.h"
#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_client.h"
#include "platform/process.h"
#include "selfupdate/handover.h"
#include "selfupdate/launcher_files.h"
#include "selfupdate/launcher_manifest.h"
#include "selfupdate/update_notice.h"

namespace mendly {
namespace {

constexpr char16_t kDash[] = u" \u2014 ";

std::u16string widePath(const std::filesystem::path& p) { return toWide(p.string()); }

std::u16string trimTrailingSlashes(std::u16string s) {
    while (!s.empty() && (s.back() == u'/' || s.back() == u'\\')) s.pop_back();
    return s;
}

bool runningProgramNameIs(std::string_view name) {
    return equalsIgnoreAsciiCase(platform::executablePath().filename().string(), name);
}

bool isSafeLauncherFileName(std::string_view name) {
    if (name.empty()) return false;
    std::string n(name);
    for (auto& c : n)
        if (c == '\\') c = '/';
    if (n.find('/') != std::string::npos) return false;
    if (n.size() >= 2 && n.find("..") != std::string::npos) return false;
    return isUpdatableLauncherFile(n);
}

// The updatable file that `name` stands for, spelled as the file is named on
// disk. Names are matched without regard to ASCII letter case (a published
// "Launcher" is the launcher), but this file system tells "Launcher" from
// "launcher": replacing the former would put a second file beside the program
// and leave the program itself as it was. `name` is one of the updatable names.
std::string_view fileNameOnDisk(std::string_view name) {
    for (auto known : kUpdatableLauncherFiles)
        if (equalsIgnoreAsciiCase(name, known)) return known;
    return name;
}

bool isRegularFile(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec) && !ec;
}

}  // namespace

SelfUpdateSkipReason selfUpdateSkipReason(const std::vector<std::string>& processArguments) {
    for (std::size_t i = 1; i < processArguments.size(); ++i)
        if (processArguments[i] == kSkipSelfUpdateOption) return SelfUpdateSkipReason::SkipFlag;
    if (platform::isDebuggerAttached()) return SelfUpdateSkipReason::DebuggerAttached;
    return SelfUpdateSkipReason::None;
}

SelfUpdateSkipReason selfUpdateSkipReason() { return selfUpdateSkipReason(platform::processArguments()); }

std::u16string launcherUpdateBaseUrl() { return trimTrailingSlashes(toWide(deployment::launcherUpdateHost())); }

std::u16string launcherManifestUrl(std::u16string_view baseUrl) {
    return trimTrailingSlashes(std::u16string(baseUrl)) + u"/latest.json";
}

std::u16string launcherFileUrl(std::u16string_view baseUrl, std::string_view name) {
    std::u16string n = toWide(name);
    for (auto& c : n)
        if (c == u'\\') c = u'/';
    return trimTrailingSlashes(std::u16string(baseUrl)) + u"/" + n;
}

bool resolveLauncherTarget(const std::filesystem::path& programFolder, std::string_view name,
                           std::filesystem::path& target) {
    if (!isSafeLauncherFileName(name)) return false;
    for (auto own : {kLauncherProgramName, kTidewrightProgramName}) {
        if (equalsIgnoreAsciiCase(name, own) && runningProgramNameIs(own)) {
            target = platform::executablePath();
            return !target.empty();
        }
    }
    std::error_code ec;
    const auto base = std::filesystem::absolute(programFolder, ec);
    if (ec) return false;
    const auto candidate = (base / std::string(fileNameOnDisk(name))).lexically_normal();
    const auto resolvedBase = std::filesystem::weakly_canonical(base, ec);
    if (ec) return false;
    const auto resolvedCandidate = std::filesystem::weakly_canonical(candidate, ec);
    if (ec) return false;
    const std::string rel = resolvedCandidate.lexically_relative(resolvedBase).generic_string();
    if (rel.empty() || rel == "." || rel.rfind("..", 0) == 0 || rel.find("/..") != std::string::npos) return false;
    target = candidate;
    return true;
}

bool localFileMatches(const std::filesystem::path& path, std::string_view sha256) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) return false;
    const std::string digest = sha256FileHex(path);
    return !digest.empty() && digest == sha256;
}

bool writeStagedFile(const std::filesystem::path& path, std::string_view bytes, std::u16string& error) {
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        error = u"Cannot write: " + widePath(path);
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = u"Short write: " + widePath(path);
        return false;
    }
    return true;
}

bool runLauncherSelfUpdate(const std::filesystem::path& programFolder) {
    return runLauncherSelfUpdate(programFolder, launcherUpdateBaseUrl(), selfUpdateSkipReason());
}

bool runLauncherSelfUpdate(const std::filesystem::path& programFolder, std::u16string_view baseUrl,
                           SelfUpdateSkipReason skip) {
    removeLauncherStaging(programFolder);
    applyPendingKeelswap(programFolder);
    switch (skip) {
        case SelfUpdateSkipReason::SkipFlag:
            LogFile::write(u"Launcher Update Check: OK");
            return false;
        case SelfUpdateSkipReason::DebuggerAttached:
            LogFile::write(u"Launcher self-update skipped (debugger attached)");
            return false;
        case SelfUpdateSkipReason::RemoteDebuggerAttached:
            LogFile::write(u"Launcher self-update skipped (remote debugger attached)");
            return false;
        case SelfUpdateSkipReason::None:
            break;
    }

    const std::u16string manifestUrl = launcherManifestUrl(baseUrl);
    std::string body;
    std::u16string error;
    if (!httpGet(manifestUrl, body, error)) {
        LogFile::write(u"ERROR: " + manifestUrl + kDash + (error.empty() ? u"latest.json download failed" : error));
        return false;
    }
    LauncherManifest manifest;
    error.clear();
    if (!parseLauncherManifest(body, manifest, error)) {
        LogFile::write(u"ERROR: " + manifestUrl + kDash + error);
        return false;
    }
    const std::string local = buildIdentifierUtf8();
    LogFile::write(u"Launcher version " + toWide(local) + u" (remote " + toWide(manifest.version) + u")");

    bool missing = false;
    for (const auto& entry : manifest.files) {
        if (!isUpdatableLauncherFile(entry.name)) continue;
        std::filesystem::path target;
        if (resolveLauncherTarget(programFolder, entry.name, target) && !isRegularFile(target)) {
            LogFile::write(u"Launcher file missing: " + toWide(entry.name));
            missing = true;
        }
    }
    if (!manifest.version.empty() && manifest.version == local && !missing) {
        LogFile::write(u"Launcher Update Check: OK");
        return false;
    }

    struct Pending {
        LauncherFileEntry entry;
        std::filesystem::path target;
    };
    std::vector<Pending> pending;
    for (const auto& entry : manifest.files) {
        if (!isUpdatableLauncherFile(entry.name)) continue;
        std::filesystem::path target;
        if (!resolveLauncherTarget(programFolder, entry.name, target)) {
            LogFile::write(u"Launcher self-update skipped unsafe path: " + toWide(entry.name));
            continue;
        }
        if (localFileMatches(target, entry.sha256)) continue;
        LogFile::write(u"Launcher self-update needed: " + toWide(entry.name));
        pending.push_back({entry, target});
    }
    if (pending.empty()) {
        LogFile::write(u"Launcher Update Check: OK");
        return false;
    }

    const auto staging = launcherStagingFolder(programFolder);
    std::error_code ec;
    std::filesystem::remove_all(staging, ec);
    std::filesystem::create_directories(staging, ec);

    std::vector<FileReplacement> replacements;
    for (const auto& p : pending) {
        const std::u16string address = launcherFileUrl(baseUrl, p.entry.name);
        const auto stagedPath = staging / p.entry.name;
        std::string file;
        std::u16string fileError;
        if (!httpGet(address, file, fileError)) {
            LogFile::write(u"ERROR: " + address + kDash + (fileError.empty() ? u"download failed" : fileError));
            showUpdateNotice(UpdateNoticeIcon::Warning, u"Could not download a launcher update. See launcher.log.");
            return false;
        }
        if (p.entry.size != 0 && file.size() != p.entry.size) {
            LogFile::write(u"ERROR: " + address + u" \u2014 size mismatch after download: " + toWide(p.entry.name));
            showUpdateNotice(UpdateNoticeIcon::Error, u"Launcher update failed size verification.");
            return false;
        }
        if (sha256Hex(file) != p.entry.sha256) {
            LogFile::write(u"ERROR: " + address + u" \u2014 Hash mismatch after download: " + toWide(p.entry.name));
            showUpdateNotice(UpdateNoticeIcon::Error, u"Launcher update failed hash verification.");
            return false;
        }
        if (!writeStagedFile(stagedPath, file, fileError)) {
            LogFile::write(u"ERROR: " + fileError);
            showUpdateNotice(UpdateNoticeIcon::Warning, u"Could not save a launcher update. See launcher.log.");
            return false;
        }
        // Every updatable file is a program: the staged copy carries the
        // permissions of the file it replaces (executable when that is missing),
        // since keelswap gives the replacement the staged copy's permissions.
        const auto targetStatus = std::filesystem::status(p.target, ec);
        const auto perms = (!ec && std::filesystem::is_regular_file(targetStatus))
                               ? targetStatus.permissions()
                               : std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                     std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                     std::filesystem::perms::others_exec;
        std::filesystem::permissions(stagedPath, perms, ec);
        replacements.push_back({p.target, stagedPath});
    }
    return startKeelswap(programFolder, staging, replacements);
}

}  // namespace mendly
