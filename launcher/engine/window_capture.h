#pragma once
// What a window shows on the screen, read back from the display: for test
// hooks and screenshots. UI thread only; the window must be mapped, and
// another window in front of it is read as well.
#include <filesystem>
#include <optional>

typedef struct _GtkWindow GtkWindow;

namespace mendly {

// The window's pixels written as a PNG file; false when it has none yet or
// the file cannot be written.
bool saveWindowPng(GtkWindow* window, const std::filesystem::path& file);

// Mean luminance of the window's pixels, 0 (black) to 255 (white); nothing
// when the window has no pixels yet.
std::optional<double> windowMeanLuminance(GtkWindow* window);

}  // namespace mendly
