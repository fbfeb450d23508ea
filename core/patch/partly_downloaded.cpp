#include "patch/partly_downloaded.h"

#include "catalog/install_status.h"
#include "log/text.h"

namespace mendly {

std::u16string partlyDownloadedText(std::uint64_t stagedBytes) {
    constexpr std::uint64_t kMiB = 1048576;
    std::uint64_t megabytes = (stagedBytes + kMiB / 2) / kMiB;
    if (megabytes == 0 && stagedBytes > 0) megabytes = 1;
    return installStatusText(InstallStatus::PartlyDownloaded) + u" (" +
           toDecimal(static_cast<long long>(megabytes)) + u" MB)";
}

}  // namespace mendly
