#include "engine_runtime.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <tuple>

namespace mendly {
namespace {

// Set by initEngine when the player had no GDK_GL setting of their own.
bool glSettingIsOurs = false;

}  // namespace

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
    // Nothing here draws with OpenGL (the page is drawn in software), yet GDK
    // loads the GL driver at start-up to rank the display's visuals, in this
    // process and again in the page's web process, which inherits the
    // setting: on a software-rendered display that delays the first tiles by
    // a tenth of a second or more. A setting of the player's own is kept.
    if (g_getenv("GDK_GL") == nullptr) glSettingIsOurs = g_setenv("GDK_GL", "disable", TRUE) != FALSE;
    if (gtk_init_check(&argc, &argv) == FALSE) return false;
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
    return true;
}

std::vector<std::string> engineOnlyVariables() {
    if (glSettingIsOurs) return {"GDK_GL"};
    return {};
}

void runEngineLoop() { gtk_main(); }

void quitEngineLoop() {
    if (gtk_main_level() > 0) gtk_main_quit();
}

}  // namespace mendly
