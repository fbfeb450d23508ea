#include "window_icon.h"

#include <gtk/gtk.h>

#include <array>
#include <string>

#include "log/log_file.h"
#include "log/text.h"

// The PNG files of launcher/icons/, compiled in by the build (mendly_embed).
#define MENDLY_LAUNCHER_ICON(n)                   \
    extern const unsigned char kLauncherIcon##n[]; \
    extern const std::size_t kLauncherIcon##n##Size;
MENDLY_LAUNCHER_ICON(16)
MENDLY_LAUNCHER_ICON(24)
MENDLY_LAUNCHER_ICON(32)
MENDLY_LAUNCHER_ICON(48)
MENDLY_LAUNCHER_ICON(64)
MENDLY_LAUNCHER_ICON(128)
MENDLY_LAUNCHER_ICON(256)
#undef MENDLY_LAUNCHER_ICON

namespace mendly {
namespace {

std::string_view bytes(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Decodes one image with the PNG loader (never by sniffing the content).
// Null when the bytes are not a PNG of the size the image claims.
GdkPixbuf* decodeIcon(const WindowIconImage& image) {
    if (image.png.empty()) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (loader == nullptr) return nullptr;
    const bool written = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(image.png.data()),
                                                 image.png.size(), nullptr) != FALSE;
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr) != FALSE;
    GdkPixbuf* pixbuf = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf != nullptr && gdk_pixbuf_get_width(pixbuf) == image.size &&
        gdk_pixbuf_get_height(pixbuf) == image.size) {
        g_object_ref(pixbuf);
    } else {
        pixbuf = nullptr;
    }
    g_object_unref(loader);
    return pixbuf;
}

// Windows take their X11 class from the program name and class when they
// are created, and the Wayland application id from the program name when
// they are shown. `window` may exist already (the main window is made before
// its icon is set), so it gets the class by hand: the one use the setter is
// meant for, one class for all the program's windows.
void setDesktopName(GtkWindow* window) {
    const std::string id(kLauncherDesktopId);
    g_set_prgname(id.c_str());
    gdk_set_program_class(id.c_str());
    gtk_window_set_default_icon_name(id.c_str());
    if (window == nullptr || gtk_widget_get_realized(GTK_WIDGET(window))) return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_window_set_wmclass(window, id.c_str(), id.c_str());
    G_GNUC_END_IGNORE_DEPRECATIONS
}

}  // namespace

std::span<const WindowIconImage> launcherIconImages() {
    static const std::array<WindowIconImage, 7> images{{
        {16, bytes(kLauncherIcon16, kLauncherIcon16Size)},
        {24, bytes(kLauncherIcon24, kLauncherIcon24Size)},
        {32, bytes(kLauncherIcon32, kLauncherIcon32Size)},
        {48, bytes(kLauncherIcon48, kLauncherIcon48Size)},
        {64, bytes(kLauncherIcon64, kLauncherIcon64Size)},
        {128, bytes(kLauncherIcon128, kLauncherIcon128Size)},
        {256, bytes(kLauncherIcon256, kLauncherIcon256Size)},
    }};
    return images;
}

int applyWindowIcons(GtkWindow* window, std::span<const WindowIconImage> images) {
    setDesktopName(window);
    GList* list = nullptr;
    int count = 0;
    for (const WindowIconImage& image : images) {
        GdkPixbuf* pixbuf = decodeIcon(image);
        if (pixbuf == nullptr) {
            LogFile::write(u"WARNING: Window icon " + toDecimal(image.size) +
                           u" px \u2014 not a PNG image of that size");
            continue;
        }
        list = g_list_append(list, pixbuf);
        ++count;
    }
    if (list == nullptr) return 0;
    // The default list gives message boxes and dialogs the icon; without it
    // they would look up the themed name, which exists only once installed.
    gtk_window_set_default_icon_list(list);
    if (window != nullptr) gtk_window_set_icon_list(window, list);
    g_list_free_full(list, g_object_unref);
    return count;
}

}  // namespace mendly
