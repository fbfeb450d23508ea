#include "model/game_executable.h"

#include <system_error>

#include "catalog/entry_confinement.h"
#include "catalog/path_text.h"
#include "log/text.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

bool pathExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// The folder scan for a name in another letter case. An error part-way (the
// folder vanished, access denied) ends the scan with nothing found.
fs::path findIgnoringCase(const fs::path& folder, std::string_view name) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        if (equalsIgnoreAsciiCase(it->path().filename().string(), name)) return it->path();
    }
    return {};
}

}  // namespace

fs::path findGameExecutable(const fs::path& folder, std::string_view launchExecutable) {
    if (!pathExists(folder)) return {};
    if (!launchExecutable.empty()) {
        // Never one that leads out of the installation (entry_confinement.h).
        const auto inside = executableInside(folder, launchExecutable);
        if (!inside) return {};
        const fs::path direct = *inside;
        if (pathExists(direct)) return direct;
        if (auto found = findIgnoringCase(folder, launchExecutable); !found.empty()) return found;
    }
    for (auto name : kFixedGameExecutables) {
        const fs::path candidate = joinName(folder, toWide(name));
        if (pathExists(candidate)) return candidate;
    }
    return {};
}

std::u16string expectedGameExecutable(const fs::path& folder, std::string_view launchExecutable) {
    if (launchExecutable.empty()) return u"(not configured)";
    return joinName(folder, toWide(launchExecutable)).u16string();
}

}  // namespace mendly
