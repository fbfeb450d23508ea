// The task bar progress as docks see it: a private session bus (dbus-daemon),
// a listener subscribed to the launcher-entry signal, and the launcher's
// indicator sending to it.
#include "launcher_entry_progress.h"
#include "private_bus_testing.h"

#include <gtest/gtest.h>

#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace mendly {
namespace {

using testing_bus::PrivateBus;

struct Received {
    std::vector<std::string> updates;  // "<app uri> progress=<p> visible=<b> urgent=<b>"
};

void onUpdate(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
              gpointer data) {
    const gchar* uri = nullptr;
    GVariant* properties = nullptr;
    g_variant_get(parameters, "(&s@a{sv})", &uri, &properties);
    double progress = -1;
    gboolean visible = FALSE;
    gboolean urgent = FALSE;
    g_variant_lookup(properties, "progress", "d", &progress);
    g_variant_lookup(properties, "progress-visible", "b", &visible);
    g_variant_lookup(properties, "urgent", "b", &urgent);
    char line[256];
    std::snprintf(line, sizeof line, "%s progress=%.2f visible=%d urgent=%d", uri, progress, visible, urgent);
    static_cast<Received*>(data)->updates.emplace_back(line);
    g_variant_unref(properties);
}

TEST(LauncherEntryProgress, DocksListeningOnTheSessionBusSeeEveryState) {
    PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

    GError* error = nullptr;
    GDBusConnection* listener = g_dbus_connection_new_for_address_sync(
        bus.address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    ASSERT_NE(listener, nullptr) << (error ? error->message : "");
    Received received;
    const guint subscription = g_dbus_connection_signal_subscribe(
        listener, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &onUpdate, &received, nullptr);
    // The subscription reaches the bus before anything is sent.
    g_dbus_connection_flush_sync(listener, nullptr, nullptr);
    GVariant* ping = g_dbus_connection_call_sync(listener, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                 "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                 G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (ping) g_variant_unref(ping);

    {
        LauncherEntryProgress progress("application://launcher.desktop");
        progress.busy();
        progress.value(1, 4);
        progress.value(3, 0);
        progress.error();
        progress.off();
    }
    for (int i = 0; i < 200 && received.updates.size() < 5; ++i) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        g_usleep(10000);
    }

    const std::vector<std::string> expected = {
        "application://launcher.desktop progress=0.00 visible=1 urgent=0",
        "application://launcher.desktop progress=0.25 visible=1 urgent=0",
        "application://launcher.desktop progress=0.00 visible=1 urgent=0",
        "application://launcher.desktop progress=0.00 visible=0 urgent=1",
        "application://launcher.desktop progress=0.00 visible=0 urgent=0",
    };
    EXPECT_EQ(received.updates, expected);
    g_dbus_connection_signal_unsubscribe(listener, subscription);
    g_object_unref(listener);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace mendly
