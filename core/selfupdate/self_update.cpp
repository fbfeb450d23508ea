#include "selfupdate/self_update.h"


#include "build_info.h"
#include "catalog/path_text.h"
#include "deployment.h"
#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_client.h"
#include "platform/file.h"
#include "platform/process.h"
#include "selfupdate/handover.h"
#include "selfupdate/launcher_file_download.h"
#include "selfupdate/launcher_files.h"
#include "selfupdate/launcher_manifest.h"
#include "selfupdate/update_information.h"
#include "selfupdate/update_notice.h"
#include "trust/release_number.h"

namespace mendly {
namespace {

constexpr char16_t kDash[] = u" \u2014 ";

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


// Logs why the check is skipped; false when it is not.
bool logSkip(SelfUpdateSkipReason skip) {
    switch (skip) {
        case SelfUpdateSkipReason::SkipFlag:
            LogFile::write(u"Launcher Update Check: OK");
            return true;
        case SelfUpdateSkipReason::DebuggerAttached:
            LogFile::write(u"Launcher self-update skipped (debugger attached)");
            return true;
        case SelfUpdateSkipReason::RemoteDebuggerAttached:
            LogFile::write(u"Launcher self-update skipped (remote debugger attached)");
            return true;
        case SelfUpdateSkipReason::None:
            break;
    }
    return false;
}

struct PendingLauncherFile {
    LauncherFileEntry entry;
    std::filesystem::path target;
};

// The presence pass: logs each updatable file that is missing.
bool anyFileMissing(const std::filesystem::path& programFolder, const LauncherManifest& manifest) {
    bool missing = false;
    for (const auto& entry : manifest.files) {
        if (!isUpdatableLauncherFile(entry.name)) continue;
        std::filesystem::path target;
        if (resolveLauncherTarget(programFolder, entry.name, target) && !isRegularFile(target)) {
            LogFile::write(u"Launcher file missing: " + toWide(entry.name));
            missing = true;
        }
    }
    return missing;
}

// The digest pass: the files whose local copy differs, in manifest order.
std::vector<PendingLauncherFile> pendingFiles(const std::filesystem::path& programFolder,
                                              const LauncherManifest& manifest) {
    std::vector<PendingLauncherFile> pending;
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
    return pending;
}

// Downloads one file into the staging folder; false after logging and
// telling the user why not.
bool stageFile(const std::u16string& address, const LauncherFileEntry& entry, const std::filesystem::path& stagedPath) {
    const LauncherFileDownload download = downloadLauncherFile(address, entry, stagedPath);
    switch (download.outcome) {
        case LauncherFileOutcome::Staged:
            return true;
        case LauncherFileOutcome::DownloadFailed:
            LogFile::write(u"ERROR: " + address + kDash + (download.problem.empty() ? u"download failed" : download.problem));
            showUpdateNotice(UpdateNoticeIcon::Warning, u"Could not download a launcher update. See launcher.log.");
            return false;
        case LauncherFileOutcome::SizeMismatch:
            LogFile::write(u"ERROR: " + address + u" \u2014 size mismatch after download: " + toWide(entry.name));
            showUpdateNotice(UpdateNoticeIcon::Error, u"Launcher update failed size verification.");
            return false;
        case LauncherFileOutcome::HashMismatch:
            LogFile::write(u"ERROR: " + address + u" \u2014 Hash mismatch after download: " + toWide(entry.name));
            showUpdateNotice(UpdateNoticeIcon::Error, u"Launcher update failed hash verification.");
            return false;
        case LauncherFileOutcome::WriteFailed:
            LogFile::write(u"ERROR: " + download.problem);
            showUpdateNotice(UpdateNoticeIcon::Warning, u"Could not save a launcher update. See launcher.log.");
            return false;
    }
    return false;
}

// Every updatable file is a program: the staged copy carries the permissions
// of the file it replaces (executable when that is missing), since keelswap
// gives the replacement the staged copy's permissions.
void giveProgramPermissions(const std::filesystem::path& stagedPath, const std::filesystem::path& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto targetStatus = fs::status(target, ec);
    const auto perms = (!ec && fs::is_regular_file(targetStatus))
                           ? targetStatus.permissions()
                           : fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(stagedPath, perms, ec);
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
    if (platform::replaceWholeFile(path, bytes) == platform::FileWrite::Written) return true;
    error = u"Cannot write: " + pathText(path);
    return false;
}

bool runLauncherSelfUpdate(const std::filesystem::path& programFolder) {
    return runLauncherSelfUpdate(programFolder, launcherUpdateBaseUrl(), selfUpdateSkipReason());
}

bool runLauncherSelfUpdate(const std::filesystem::path& programFolder, std::u16string_view baseUrl,
                           SelfUpdateSkipReason skip) {
    return runLauncherSelfUpdate(programFolder, SelfUpdateSource{std::u16string(baseUrl), deploymentTrust()}, skip);
}

bool runLauncherSelfUpdate(const std::filesystem::path& programFolder, const SelfUpdateSource& source,
                           SelfUpdateSkipReason skip) {
    const auto staged = stageLauncherUpdate(programFolder, source, skip);
    return staged && handOverLauncherUpdate(programFolder, *staged);
}

bool handOverLauncherUpdate(const std::filesystem::path& programFolder, const StagedLauncherUpdate& staged) {
    return startKeelswap(programFolder, staged.stagingFolder, staged.replacements);
}

std::optional<StagedLauncherUpdate> stageLauncherUpdate(const std::filesystem::path& programFolder,
                                                        const SelfUpdateSource& source, SelfUpdateSkipReason skip) {
    removeLauncherStaging(programFolder);
    applyPendingKeelswap(programFolder);
    if (logSkip(skip)) return std::nullopt;

    const std::u16string manifestUrl = launcherManifestUrl(source.baseUrl);
    const std::filesystem::path releaseFile = programFolder / kLauncherReleaseFileName;
    const UpdateInformation info = fetchUpdateInformation(
        manifestUrl, source.trust, std::chrono::steady_clock::now() + source.checkDeadline,
        std::chrono::system_clock::now(), loadReleaseNumber(releaseFile));
    switch (info.result) {
        case UpdateInformationResult::Usable: break;
        case UpdateInformationResult::Rejected:
            LogFile::write(u"ERROR: Launcher update information rejected: " + info.problem);
            return std::nullopt;
        case UpdateInformationResult::DownloadFailed:
        case UpdateInformationResult::Unparsable:
            LogFile::write(u"ERROR: " + manifestUrl + kDash + info.problem);
            return std::nullopt;
    }
    const LauncherManifest& manifest = info.manifest;
    // Remembered once accepted, so that no older information is taken later.
    if (source.trust.required && manifest.release && !raiseReleaseNumber(releaseFile, *manifest.release))
        LogFile::write(u"ERROR: Cannot write: " + pathText(releaseFile));
    const std::string local = buildIdentifierUtf8();
    LogFile::write(u"Launcher version " + toWide(local) + u" (remote " + toWide(manifest.version) + u")");

    if (!manifest.version.empty() && manifest.version == local && !anyFileMissing(programFolder, manifest)) {
        LogFile::write(u"Launcher Update Check: OK");
        return std::nullopt;
    }
    const std::vector<PendingLauncherFile> pending = pendingFiles(programFolder, manifest);
    if (pending.empty()) {
        LogFile::write(u"Launcher Update Check: OK");
        return std::nullopt;
    }

    StagedLauncherUpdate staged{launcherStagingFolder(programFolder), {}};
    std::error_code ec;
    std::filesystem::remove_all(staged.stagingFolder, ec);
    std::filesystem::create_directories(staged.stagingFolder, ec);
    for (const auto& p : pending) {
        const auto stagedPath = staged.stagingFolder / p.entry.name;
        if (!stageFile(launcherFileUrl(source.baseUrl, p.entry.name), p.entry, stagedPath)) return std::nullopt;
        giveProgramPermissions(stagedPath, p.target);
        staged.replacements.push_back({p.target, stagedPath});
    }
    return staged;
}

}  // namespace mendly
