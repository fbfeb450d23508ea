#pragma once
// Whether an installation is installed and current.
#include <string>
#include <string_view>

namespace mendly {

enum class InstallStatus { NotInstalled, Unknown, UpToDate, OutOfDate };

// "Not Installed", "Unknown", "Up To Date", "Out of Date".
std::u16string installStatusText(InstallStatus status);

// `local`: the cleaned local version text, empty when it could not be read.
// `published`: the cleaned published text, empty when unknown. The two are
// compared unit by unit, letter case included.
InstallStatus installStatus(bool installed, std::u16string_view local, std::u16string_view published);

}  // namespace mendly
