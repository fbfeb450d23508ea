#include "window_capture.h"

#include <gtk/gtk.h>

namespace mendly {

void WindowPixels::Unref::operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }

WindowPixels WindowPixels::grab(GtkWindow* window) {
    WindowPixels pixels;
    if (window == nullptr) return pixels;
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
    if (surface == nullptr) return pixels;
    // Everything drawn so far has reached the display.
    gdk_display_sync(gdk_window_get_display(surface));
    pixels.pixbuf_.reset(
        gdk_pixbuf_get_from_window(surface, 0, 0, gdk_window_get_width(surface), gdk_window_get_height(surface)));
    return pixels;
}

bool WindowPixels::savePng(const std::filesystem::path& file) const {
    return pixbuf_ && gdk_pixbuf_save(pixbuf_.get(), file.c_str(), "png", nullptr, nullptr) != FALSE;
}

std::optional<double> WindowPixels::meanLuminance() const {
    if (!pixbuf_) return std::nullopt;
    const int width = gdk_pixbuf_get_width(pixbuf_.get());
    const int height = gdk_pixbuf_get_height(pixbuf_.get());
    const int channels = gdk_pixbuf_get_n_channels(pixbuf_.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf_.get());
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf_.get());
    if (width <= 0 || height <= 0) return std::nullopt;
    double sum = 0;
    for (int y = 0; y < height; ++y) {
        const guchar* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            const guchar* p = row + static_cast<std::ptrdiff_t>(x) * channels;
            sum += 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
        }
    }
    return sum / (static_cast<double>(width) * static_cast<double>(height));
}

bool saveWindowPng(GtkWindow* window, const std::filesystem::path& file) {
    return WindowPixels::grab(window).savePng(file);
}

std::optional<double> windowMeanLuminance(GtkWindow* window) { return WindowPixels::grab(window).meanLuminance(); }

}  // namespace mendly
