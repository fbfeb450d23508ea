#include "catalog/install_layout.h"

#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "catalog/path_text.h"
#include "log/text.h"

namespace mendly {
namespace {

// Something is at `path` (the path itself, links not followed).
bool somethingAt(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    return !ec && status.type() != std::filesystem::file_type::not_found;
}

constexpr std::u16string_view kKnownExecutables[] = {u"Kaltris.exe", u"kaltrisclient.exe", u"KaltrisClient.exe"};

// True when something directly in `folder` satisfies `test`. A listing that
// fails, also part-way, answers false.
bool anyItem(const std::filesystem::path& folder,
             const std::function<bool(const std::filesystem::directory_entry&)>& test) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return false;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return false;
        if (test(*it)) return true;
    }
    return false;
}

// From the last "." to the end; a name without "." has none. ".pak" is its own
// extension.
std::u16string_view extensionOf(std::u16string_view name) {
    const auto dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) return {};
    return name.substr(dot);
}

}  // namespace

std::filesystem::path defaultInstallFolder(const std::filesystem::path& programFolder, const ServerEntry& entry) {
    return joinName(programFolder / "clients", toWide(entry.name));
}

std::filesystem::path installFolder(const std::filesystem::path& programFolder, const ServerEntry& entry) {
    if (entry.installPath.empty()) return defaultInstallFolder(programFolder, entry);
    std::filesystem::path folder = widePath(toWide(entry.installPath));
    if (folder.is_absolute()) return folder;
    return programFolder / folder;
}

bool marksInstallation(const std::filesystem::directory_entry& item, std::string_view launchExecutable) {
    const std::u16string name = pathText(item.path().filename());
    const std::u16string wanted = toWide(launchExecutable);
    // These names count whatever they are, as isInstalled looks them up directly.
    if (!wanted.empty() && name == wanted) return true;
    for (const auto known : kKnownExecutables)
        if (name == known) return true;

    std::error_code ec;
    if (!item.is_regular_file(ec) || ec) return false;
    if (!wanted.empty() && equalsIgnoreAsciiCase(name, wanted)) return true;
    const auto extension = extensionOf(name);
    return equalsIgnoreAsciiCase(extension, u".pak") || equalsIgnoreAsciiCase(extension, u".exe");
}

bool isInstalled(const std::filesystem::path& folder, std::string_view launchExecutable) {
    if (folder.empty() || !somethingAt(folder)) return false;
    if (!launchExecutable.empty() && somethingAt(joinName(folder, toWide(launchExecutable)))) return true;
    for (const auto known : kKnownExecutables)
        if (somethingAt(joinName(folder, known))) return true;
    return anyItem(folder, [&](const std::filesystem::directory_entry& item) {
        return marksInstallation(item, launchExecutable);
    });
}

}  // namespace mendly
