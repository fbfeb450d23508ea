#include "catalog/install_status.h"

namespace mendly {

std::u16string installStatusText(InstallStatus status) {
    switch (status) {
        case InstallStatus::NotInstalled: return u"Not Installed";
        case InstallStatus::Unknown: return u"Unknown";
        case InstallStatus::UpToDate: return u"Up To Date";
        case InstallStatus::OutOfDate: return u"Out of Date";
        case InstallStatus::PartlyDownloaded: return u"Partly downloaded";
    }
    return u"Unknown";
}

InstallStatus installStatus(bool installed, std::u16string_view local, std::u16string_view published) {
    if (!installed) return InstallStatus::NotInstalled;
    if (published.empty()) return InstallStatus::Unknown;
    if (!local.empty() && local == published) return InstallStatus::UpToDate;
    return InstallStatus::OutOfDate;
}

}  // namespace mendly
