#include "wine_program.h"

#include <cstdlib>

namespace mendly::test {

void useWinePrefix() {
    ::setenv("WINEPREFIX", WINE_PREFIX, 1);
    ::setenv("WINEDEBUG", "-all", 1);
    // No window may open (no crash dialog, no Gecko installer) on a machine without a display.
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
    ::unsetenv("DISPLAY");
    // The first program of a Wine session starts Wine's own services, which
    // stay and would hold a test's output pipe open: they are started here,
    // once, with nothing of ours to inherit.
    static const int started = std::system("\"" WINE_PROGRAM "\" wineboot </dev/null >/dev/null 2>&1");
    (void)started;
}

std::filesystem::path windowsProgram(const std::string& name) {
    return std::filesystem::path(WINDOWS_PROGRAMS_DIR) / name;
}

std::string windowsPathOf(const std::filesystem::path& path) {
    std::string text = "Z:" + std::filesystem::absolute(path).lexically_normal().string();
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

ProcessResult runUnderWine(const std::filesystem::path& exe, std::vector<std::string> args,
                           const std::filesystem::path& folder, std::vector<std::pair<std::string, std::string>> env,
                           std::chrono::milliseconds limit) {
    args.insert(args.begin(), exe.string());
    return runProcess(WINE_PROGRAM, {std::move(args), std::move(env), folder, limit});
}

bool startUnderWine(ChildProcess& child, const std::filesystem::path& exe, std::vector<std::string> args,
                    const std::filesystem::path& folder, const std::filesystem::path& outputFile) {
    args.insert(args.begin(), exe.string());
    return child.start(WINE_PROGRAM, args, folder, outputFile);
}

}  // namespace mendly::test
