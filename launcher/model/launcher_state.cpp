#include "model/launcher_state.h"

#include "catalog/entry_confinement.h"
#include "catalog/install_layout.h"
#include "catalog/manifest_trust.h"
#include "catalog/patch_addresses.h"
#include "catalog/version_text.h"
#include "log/log_file.h"
#include "log/text.h"
#include "model/language.h"
#include "model/server_version.h"
#include "patch/cancel_flag.h"
#include "patch/interrupted_install.h"
#include "patch/speed_reporter.h"
#include "patch/transfer_estimate.h"

namespace mendly {

bool LauncherState::selectionValid() const {
    return selected >= 0 && static_cast<std::size_t>(selected) < catalog.entries.size();
}

const ServerEntry* LauncherState::selectedEntry() const {
    return selectionValid() ? &catalog.entries[static_cast<std::size_t>(selected)] : nullptr;
}

std::filesystem::path LauncherState::installFolderOf(const ServerEntry& entry) const {
    return installFolder(programFolder, entry);
}

bool LauncherState::isEntryInstalled(const ServerEntry& entry) const {
    return isInstalled(installFolderOf(entry), entry.launchExecutable);
}

std::uint64_t LauncherState::partlyDownloadedBytes(const ServerEntry& entry) const {
    return interruptedInstallBytes(installFolderOf(entry), entry.launchExecutable);
}

std::int32_t LauncherState::entryStatus(std::size_t index) const {
    return index < entryStatuses.size() ? entryStatuses[index] : kStatusUndetermined;
}

const EntryProblem* LauncherState::problemOf(std::size_t index) const {
    if (index >= entryProblems.size() || entryProblems[index].kind == ProblemKind::None) return nullptr;
    return &entryProblems[index];
}

const EntryProblem* LauncherState::selectedProblem() const {
    return selectionValid() ? problemOf(static_cast<std::size_t>(selected)) : nullptr;
}

std::u16string LauncherState::installedVersionText() const {
    const auto* entry = selectedEntry();
    if (!entry || !isEntryInstalled(*entry)) return {};
    std::u16string local;
    if (!readLocalVersion(installFolderOf(*entry), local)) return {};
    return formatServerVersion(toUtf8(local));
}

bool LauncherState::noteCheckOutcome(std::int32_t index, std::u16string_view failure) {
    if (index < 0 || static_cast<std::size_t>(index) >= entryProblems.size()) return false;
    return applyCheckOutcome(entryProblems[static_cast<std::size_t>(index)], failure);
}

void LauncherState::noteTaskFailure(std::int32_t index, PatchMode mode, std::u16string detail) {
    if (index < 0 || static_cast<std::size_t>(index) >= entryProblems.size()) return;
    entryProblems[static_cast<std::size_t>(index)] = {ProblemKind::TaskFailed, taskFailureCaption(mode),
                                                      std::move(detail)};
}

void LauncherState::clearTaskProblem(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= entryProblems.size()) return;
    auto& problem = entryProblems[static_cast<std::size_t>(index)];
    if (problem.kind == ProblemKind::TaskFailed) problem = {};
}

std::u16string LauncherState::selectedServerHeader() const {
    const auto* entry = selectedEntry();
    return entry ? toWide(displayName(*entry)) : std::u16string(kVersionNone);
}

std::u16string LauncherState::playButtonLabel() const {
    if (busy) {
        if (pauseRequested) return u"Pausing...";
        if (isPatchCancelRequested()) return u"Cancelling...";
        return launchAfterTask || taskMode == PatchMode::Update ? u"Patching..." : u"Installing...";
    }
    if (pausedSelected() != nullptr) return u"Resume";
    const auto* entry = selectedEntry();
    if (!entry) return u"Install";
    if (!isEntryInstalled(*entry)) return partlyDownloadedBytes(*entry) > 0 ? u"Resume" : u"Install";
    return entryStatus(static_cast<std::size_t>(selected)) == kStatusOutOfDate ? u"Update" : u"Launch";
}

const PausedDownload* LauncherState::pausedSelected() const {
    const auto* entry = selectedEntry();
    if (!entry || !settings.paused || settings.paused->name != entry->name) return nullptr;
    return &*settings.paused;
}

bool LauncherState::canPause() const {
    return busy && transfer.has_value() && !pauseRequested && !isPatchCancelRequested();
}

namespace {

std::u16string byteSize(std::uint64_t bytes) {
    // formatSpeed's units without the "/s".
    std::u16string text = formatSpeed(static_cast<double>(bytes));
    return text.substr(0, text.size() - 2);
}

}  // namespace

std::u16string LauncherState::transferText() const {
    if (!transfer) return {};
    std::u16string text = byteSize(transfer->bytesDone);
    if (transfer->bytesTotal > 0) text += u" of " + byteSize(transfer->bytesTotal);
    if (transfer->bytesPerSecond > 0) text += u" · " + formatSpeed(transfer->bytesPerSecond);
    if (transfer->secondsLeft >= 0) text += u" · " + formatTimeLeft(transfer->secondsLeft) + u" left";
    return text;
}

bool LauncherState::canPlay() const {
    if (busy) return false;
    if (pausedSelected() != nullptr) return true;
    const auto* entry = selectedEntry();
    if (!entry) return false;
    const bool installed = isEntryInstalled(*entry);
    const auto* problem = selectedProblem();
    if (!installed && problem && problem->kind == ProblemKind::Unreachable) return false;
    return !entry->launchExecutable.empty() || installed;
}

bool LauncherState::progressVisible() const {
    return (busy || pausedSelected() != nullptr) && progressTotal > 0;
}

bool LauncherState::select(std::int32_t index) {
    if (busy || index < 0 || static_cast<std::size_t>(index) >= catalog.entries.size()) return false;
    selected = index;
    return true;
}

void LauncherState::applyCatalog(ServerCatalog loaded) {
    catalog = std::move(loaded);
    builtInCount = catalog.builtInCount;
    const auto count = catalog.entries.size();
    // A negative selection only exists for an empty catalog; once entries are
    // back it would leave nothing selected and every action inert.
    if (selected < 0 || static_cast<std::size_t>(selected) >= count) selected = count == 0 ? -1 : 0;
    entryStatuses.resize(count, kStatusUndetermined);
    entryProblems.resize(count);
}

std::optional<VersionFetchJob> LauncherState::beginVersionFetch() {
    const auto* entry = selectedEntry();
    if (!entry || !window) {
        selectedVersion = kVersionNone;
        selectedVersionShown = VersionShown::None;
        return std::nullopt;
    }
    selectedVersion = kVersionLoading;
    selectedVersionShown = VersionShown::Loading;
    sizeText.clear();
    const bool installed = isEntryInstalled(*entry);
    return VersionFetchJob{selected, versionUrl(*entry), manifestUrl(*entry),
                           manifestTrust(catalog, static_cast<std::size_t>(selected)), installFolderOf(*entry),
                           installed ? PatchMode::Update : PatchMode::Install};
}

std::optional<StatusCheck> LauncherState::beginStatusCheck() {
    if (!window || catalog.entries.empty()) return std::nullopt;
    // Wraps instead of overflowing; a stale check would need 2^32 newer ones
    // to be mistaken for the current one.
    checkGeneration = static_cast<std::int32_t>(static_cast<std::uint32_t>(checkGeneration) + 1u);
    StatusCheck check;
    check.generation = checkGeneration;
    check.jobs.reserve(catalog.entries.size());
    for (std::size_t i = 0; i < catalog.entries.size(); ++i) {
        const auto& entry = catalog.entries[i];
        const auto folder = installFolderOf(entry);
        check.jobs.push_back({static_cast<std::int32_t>(i), isInstalled(folder, entry.launchExecutable),
                              versionUrl(entry), folder});
    }
    return check;
}

bool LauncherState::onServerStatus(std::int32_t generation, std::int32_t index, std::int32_t status) {
    if (!acceptsStatusResult(checkGeneration, entryStatuses.size(), generation, index)) return false;
    entryStatuses[static_cast<std::size_t>(index)] = status;
    return true;
}

bool LauncherState::onSelectedVersion(std::int32_t index, std::u16string text, VersionShown shown) {
    if (!acceptsVersionResult(selected, index)) return false;
    if (text.empty()) {
        selectedVersion = kVersionUnavailable;
        selectedVersionShown = VersionShown::Unavailable;
    } else {
        selectedVersion = std::move(text);
        selectedVersionShown = shown;
    }
    return true;
}

bool LauncherState::onSelectedSize(std::int32_t index, std::u16string text) {
    if (!acceptsVersionResult(selected, index)) return false;
    sizeText = std::move(text);
    return true;
}

std::string LauncherState::readLanguage() const {
    const auto* entry = selectedEntry();
    if (!entry) return kDefaultLanguage;
    return mendly::readLanguage(installFolderOf(*entry));
}

std::optional<Notice> LauncherState::writeLanguage(std::string_view code) {
    const auto* entry = selectedEntry();
    if (busy || !entry || !isSupportedLanguage(code)) return std::nullopt;
    if (const std::u16string problem = entryEscapeProblem(programFolder, *entry); !problem.empty()) {
        LogFile::write(u"ERROR: Refusing to use catalog entry \"" + toWide(entry->name) + u"\": " + problem);
        return Notice{u"This server entry points outside its folder; its language cannot be set.", u"Set Language",
                      NoticeIcon::Warning};
    }
    auto failure = mendly::writeLanguage(programFolder, installFolderOf(*entry), code);
    if (!failure) LogFile::write(u"Set language " + toWide(code) + u" for " + toWide(entry->name));
    return failure;
}

ShortcutLaunch LauncherState::launchShortcut(std::int32_t index, ShellOpener& opener) const {
    if (index < 0 || static_cast<std::size_t>(index) >= shortcuts.size()) return {};
    return runShortcut(opener, shortcuts[static_cast<std::size_t>(index)]);
}

}  // namespace mendly
