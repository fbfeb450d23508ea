#include "gio_shell_opener.h"

#include <string>
#include <system_error>
#include <vector>

#include "desktop_launch.h"
#include "log/text.h"
#include "platform/process.h"

namespace mendly {
namespace {

bool isWindowsProgram(const std::filesystem::path& program) {
    return equalsIgnoreAsciiCase(program.extension().u16string(), u".exe");
}

bool needsWine(const std::filesystem::path& program) {
    return isWindowsProgram(program) && !platform::isExecutableFile(program);
}

}  // namespace

bool GioShellOpener::openUri(std::u16string_view uri) { return openWithDefaultHandler(toUtf8(uri)); }

bool GioShellOpener::openPath(const std::filesystem::path& path) { return openPathWithDefaultHandler(path); }

bool GioShellOpener::lacksWineFor(const std::filesystem::path& program) {
    return needsWine(program) && !findProgramOnPath("wine");
}

bool GioShellOpener::spawnProgram(const std::filesystem::path& program, const std::vector<std::u16string>& args,
                                  const std::filesystem::path& workingFolder) {
    std::vector<std::string> argv;
    // A Windows program that this system cannot run directly goes through wine
    // when it is installed.
    if (needsWine(program)) {
        const auto wine = findProgramOnPath("wine");
        if (!wine) return false;
        argv.push_back(*wine);
    }
    // Absolute: the child changes to workingFolder before it looks the file up.
    std::error_code ec;
    argv.push_back(program.is_absolute() ? program.string() : std::filesystem::absolute(program, ec).string());
    for (const auto& arg : args) argv.push_back(toUtf8(arg));
    return spawnDetached(argv, workingFolder);
}

}  // namespace mendly
