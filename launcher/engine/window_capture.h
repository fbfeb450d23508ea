#pragma once
// What a window shows on the screen, read back from the display: for test
// hooks and screenshots. UI thread only; the window must be mapped, and
// another window in front of it is read as well.
#include <filesystem>
#include <memory>
#include <optional>

typedef struct _GtkWindow GtkWindow;
typedef struct _GdkPixbuf GdkPixbuf;

namespace mendly {

// A copy of the pixels a window shows, read back once; empty when the window
// has none yet. Reading is quick; writing the PNG file takes longer and can
// wait until a measurement is over.
class WindowPixels {
public:
    static WindowPixels grab(GtkWindow* window);

    bool empty() const { return !pixbuf_; }
    // 0 (black) to 255 (white); nothing when empty.
    std::optional<double> meanLuminance() const;
    // False when empty or the file cannot be written.
    bool savePng(const std::filesystem::path& file) const;

private:
    struct Unref {
        void operator()(GdkPixbuf* pixbuf) const;
    };
    std::unique_ptr<GdkPixbuf, Unref> pixbuf_;
};

// The window's pixels written as a PNG file; false when it has none yet or
// the file cannot be written.
bool saveWindowPng(GtkWindow* window, const std::filesystem::path& file);

// Mean luminance of the window's pixels, 0 (black) to 255 (white); nothing
// when the window has no pixels yet.
std::optional<double> windowMeanLuminance(GtkWindow* window);

}  // namespace mendly
