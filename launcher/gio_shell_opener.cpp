#include "gio_shell_opener.h"

#include "platform/process.h"

#include <gio/gio.h>

#include <string>
#include <system_error>
#include <vector>

#include "engine_runtime.h"
#include "log/text.h"

namespace mendly {
namespace {

// What the launcher starts gets the player's environment, without the
// settings the launcher made for its own window.
bool launchUri(const std::string& uri) {
    GAppLaunchContext* context = g_app_launch_context_new();
    for (const auto& name : engineOnlyVariables()) g_app_launch_context_unsetenv(context, name.c_str());
    GError* error = nullptr;
    const gboolean ok = g_app_info_launch_default_for_uri(uri.c_str(), context, &error);
    if (error != nullptr) g_error_free(error);
    g_object_unref(context);
    return ok != FALSE;
}

gchar** programEnvironment() {
    gchar** environment = g_get_environ();
    for (const auto& name : engineOnlyVariables()) environment = g_environ_unsetenv(environment, name.c_str());
    return environment;
}

bool isWindowsProgram(const std::filesystem::path& program) {
    return equalsIgnoreAsciiCase(program.extension().u16string(), u".exe");
}

bool needsWine(const std::filesystem::path& program) {
    return isWindowsProgram(program) && !platform::isExecutableFile(program);
}

}  // namespace

bool GioShellOpener::openUri(std::u16string_view uri) { return launchUri(toUtf8(uri)); }

bool GioShellOpener::openPath(const std::filesystem::path& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    char* uri = g_file_get_uri(file);
    const bool ok = uri != nullptr && launchUri(uri);
    g_free(uri);
    g_object_unref(file);
    return ok;
}

bool GioShellOpener::lacksWineFor(const std::filesystem::path& program) {
    if (!needsWine(program)) return false;
    char* wine = g_find_program_in_path("wine");
    g_free(wine);
    return wine == nullptr;
}

bool GioShellOpener::spawnProgram(const std::filesystem::path& program, const std::vector<std::u16string>& args,
                                  const std::filesystem::path& workingFolder) {
    std::vector<std::string> argv;
    // A Windows program that this system cannot run directly goes through wine
    // when it is installed.
    if (needsWine(program)) {
        char* wine = g_find_program_in_path("wine");
        if (wine == nullptr) return false;
        argv.emplace_back(wine);
        g_free(wine);
    }
    // Absolute: the child changes to workingFolder before it looks the file up.
    std::error_code ec;
    argv.push_back(program.is_absolute() ? program.string() : std::filesystem::absolute(program, ec).string());
    for (const auto& arg : args) argv.push_back(toUtf8(arg));
    std::vector<char*> pointers;
    for (auto& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    // GLib starts the program through a short-lived intermediate process, so
    // a game that ends is reaped by the system and never lingers as a zombie
    // of the launcher.
    gchar** environment = programEnvironment();
    GError* error = nullptr;
    const gboolean ok = g_spawn_async(workingFolder.empty() ? nullptr : workingFolder.c_str(), pointers.data(),
                                      environment, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &error);
    g_strfreev(environment);
    if (error != nullptr) g_error_free(error);
    return ok != FALSE;
}

}  // namespace mendly
