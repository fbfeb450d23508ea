#pragma once
// Whether an installation is installed and current.
#include <string>
#include <string_view>

namespace mendly {

// PartlyDownloaded: no complete installation, but an interrupted install left
// downloads in the installation's staging folder that the next run reuses
// (patch/interrupted_install.h decides it; installStatus never gives it).
enum class InstallStatus { NotInstalled, Unknown, UpToDate, OutOfDate, PartlyDownloaded };

// "Not Installed", "Unknown", "Up To Date", "Out of Date", "Partly downloaded".
std::u16string installStatusText(InstallStatus status);

// `local`: the cleaned local version text, empty when it could not be read.
// `published`: the cleaned published text, empty when unknown. The two are
// compared unit by unit, letter case included.
InstallStatus installStatus(bool installed, std::u16string_view local, std::u16string_view published);

}  // namespace mendly
