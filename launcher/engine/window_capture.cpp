#include "window_capture.h"

#include <gtk/gtk.h>

namespace mendly {
namespace {

GdkPixbuf* grabWindow(GtkWindow* window) {
    if (window == nullptr) return nullptr;
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
    if (surface == nullptr) return nullptr;
    // Everything drawn so far has reached the display.
    gdk_display_sync(gdk_window_get_display(surface));
    return gdk_pixbuf_get_from_window(surface, 0, 0, gdk_window_get_width(surface), gdk_window_get_height(surface));
}

}  // namespace

bool saveWindowPng(GtkWindow* window, const std::filesystem::path& file) {
    GdkPixbuf* pixels = grabWindow(window);
    if (pixels == nullptr) return false;
    const bool ok = gdk_pixbuf_save(pixels, file.c_str(), "png", nullptr, nullptr) != FALSE;
    g_object_unref(pixels);
    return ok;
}

std::optional<double> windowMeanLuminance(GtkWindow* window) {
    GdkPixbuf* pixbuf = grabWindow(window);
    if (pixbuf == nullptr) return std::nullopt;
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    double sum = 0;
    for (int y = 0; y < height; ++y) {
        const guchar* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            const guchar* p = row + static_cast<std::ptrdiff_t>(x) * channels;
            sum += 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
        }
    }
    g_object_unref(pixbuf);
    if (width <= 0 || height <= 0) return std::nullopt;
    return sum / (static_cast<double>(width) * static_cast<double>(height));
}

}  // namespace mendly
