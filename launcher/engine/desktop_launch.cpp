#include "desktop_launch.h"

#include <gio/gio.h>

#include "engine_runtime.h"

namespace mendly {
namespace {

gchar** programEnvironment() {
    gchar** environment = g_get_environ();
    for (const auto& name : engineOnlyVariables()) environment = g_environ_unsetenv(environment, name.c_str());
    return environment;
}

}  // namespace

bool openWithDefaultHandler(const std::string& uri) {
    GAppLaunchContext* context = g_app_launch_context_new();
    for (const auto& name : engineOnlyVariables()) g_app_launch_context_unsetenv(context, name.c_str());
    GError* error = nullptr;
    const gboolean ok = g_app_info_launch_default_for_uri(uri.c_str(), context, &error);
    if (error != nullptr) g_error_free(error);
    g_object_unref(context);
    return ok != FALSE;
}

bool openPathWithDefaultHandler(const std::filesystem::path& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    char* uri = g_file_get_uri(file);
    const bool ok = uri != nullptr && openWithDefaultHandler(uri);
    g_free(uri);
    g_object_unref(file);
    return ok;
}

std::optional<std::string> findProgramOnPath(const std::string& name) {
    char* found = g_find_program_in_path(name.c_str());
    if (found == nullptr) return std::nullopt;
    std::string path(found);
    g_free(found);
    return path;
}

bool spawnDetached(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder) {
    std::vector<std::string> copies = argv;
    std::vector<char*> pointers;
    for (auto& arg : copies) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    gchar** environment = programEnvironment();
    GError* error = nullptr;
    const gboolean ok = g_spawn_async(workingFolder.empty() ? nullptr : workingFolder.c_str(), pointers.data(),
                                      environment, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &error);
    g_strfreev(environment);
    if (error != nullptr) g_error_free(error);
    return ok != FALSE;
}

}  // namespace mendly
