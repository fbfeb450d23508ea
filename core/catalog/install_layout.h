#pragma once
// Where each catalog entry's installation lives, whether a client is installed
// there, its version text, and the patch host addresses derived from an entry.
// Runs on the calling thread; holds no locks.
#include <filesystem>
#include <string>
#include <string_view>

#include "catalog/server_catalog.h"

namespace mendly {

enum class InstallStatus { NotInstalled, Unknown, UpToDate, OutOfDate };

// "Not Installed", "Unknown", "Up To Date", "Out of Date".
std::u16string installStatusText(InstallStatus status);

// programFolder/clients/<name>; the name is used unchanged.
std::filesystem::path defaultInstallFolder(const std::filesystem::path& programFolder, const ServerEntry& entry);
// installPath unchanged when set (relative to the current folder), else the default.
std::filesystem::path installFolder(const std::filesystem::path& programFolder, const ServerEntry& entry);
bool isInstalled(const std::filesystem::path& folder, std::string_view launchExecutable);

std::u16string cleanVersionText(std::string_view bytes);
// True when `out` is not empty afterwards.
bool readLocalVersion(const std::filesystem::path& folder, std::u16string& out);

std::u16string trimServerBase(const ServerEntry& entry);
std::u16string versionUrl(const ServerEntry& entry);
std::u16string manifestUrl(const ServerEntry& entry);
std::u16string filesBaseUrl(const ServerEntry& entry);
// The published version text, empty on any failure (which is logged).
std::u16string fetchRemoteVersion(const ServerEntry& entry);

InstallStatus installStatus(bool installed, std::u16string_view local, std::u16string_view published);

}  // namespace mendly
