#include "catalog/install_layout.h"

#include <functional>
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

// True when some regular file directly in `folder` satisfies `test` (given its
// UTF-16 name). A listing that fails, also part-way, answers false.
bool anyRegularFile(const std::filesystem::path& folder,
                    const std::function<bool(std::u16string_view)>& test) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return false;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return false;
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || typeError) continue;
        if (test(pathText(it->path().filename()))) return true;
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
    if (!entry.installPath.empty()) return widePath(toWide(entry.installPath));
    return defaultInstallFolder(programFolder, entry);
}

bool isInstalled(const std::filesystem::path& folder, std::string_view launchExecutable) {
    if (folder.empty() || !somethingAt(folder)) return false;

    if (!launchExecutable.empty()) {
        const std::u16string wanted = toWide(launchExecutable);
        if (somethingAt(joinName(folder, wanted))) return true;
        if (anyRegularFile(folder, [&](std::u16string_view name) { return equalsIgnoreAsciiCase(name, wanted); }))
            return true;
    }

    for (const char16_t* known : {u"Kaltris.exe", u"kaltrisclient.exe", u"KaltrisClient.exe"})
        if (somethingAt(joinName(folder, known))) return true;

    return anyRegularFile(folder, [](std::u16string_view name) {
        const auto extension = extensionOf(name);
        return equalsIgnoreAsciiCase(extension, u".pak") || equalsIgnoreAsciiCase(extension, u".exe");
    });
}

}  // namespace mendly
