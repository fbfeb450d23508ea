#include "launcher_entry_signal.h"

#include <gio/gio.h>

#include <cstdlib>

namespace mendly {

LauncherEntrySignal::LauncherEntrySignal(std::string appUri) : appUri_(std::move(appUri)) {}

LauncherEntrySignal::~LauncherEntrySignal() {
    if (connection_ == nullptr) return;
    // The last state reaches the bus before the connection can go away with
    // our reference (the shared bus connection is not kept alive otherwise).
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
}

GDBusConnection* LauncherEntrySignal::connection() {
    if (tried_) return connection_;
    tried_ = true;
    // Only a bus that is already there: looking it up must not start one
    // (an X11 session without a bus would otherwise spawn a daemon for us).
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0') return nullptr;
    GError* error = nullptr;
    connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (error != nullptr) g_error_free(error);
    return connection_;
}

void LauncherEntrySignal::send(double progress, bool visible, bool urgent) {
    GDBusConnection* bus = connection();
    if (bus == nullptr) return;
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "progress", g_variant_new_double(progress));
    g_variant_builder_add(&properties, "{sv}", "progress-visible", g_variant_new_boolean(visible));
    g_variant_builder_add(&properties, "{sv}", "urgent", g_variant_new_boolean(urgent));
    // A broadcast: nobody listening is not an error.
    (void)g_dbus_connection_emit_signal(bus, nullptr, kObjectPath, "com.canonical.Unity.LauncherEntry", "Update",
                                        g_variant_new("(sa{sv})", appUri_.c_str(), &properties), nullptr);
}

}  // namespace mendly
