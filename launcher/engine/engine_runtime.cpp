#include "engine_runtime.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <tuple>

namespace mendly {

bool engineVersionSupported(EngineVersion runtime, EngineVersion minimum) {
    return std::tie(runtime.major, runtime.minor, runtime.micro) >= std::tie(minimum.major, minimum.minor, minimum.micro);
}

EngineVersion engineRuntimeVersion() {
    return {webkit_get_major_version(), webkit_get_minor_version(), webkit_get_micro_version()};
}

std::string engineVersionText(EngineVersion version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.micro);
}

bool initEngine(int& argc, char**& argv) {
    if (gtk_init_check(&argc, &argv) == FALSE) return false;
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
    return true;
}

void runEngineLoop() { gtk_main(); }

void quitEngineLoop() {
    if (gtk_main_level() > 0) gtk_main_quit();
}

}  // namespace mendly
