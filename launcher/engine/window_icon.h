#pragma once
// The launcher's icon and the name the desktop knows it by.
//
// The icon is the launcher's emblem as PNG images at 16 to 256 pixels,
// compiled into the program (launcher/icons/, made by scripts/make-icons.sh).
// They are handed to GTK as decoded images, so the title bar, the task
// switcher and the task bar (_NET_WM_ICON on X11) get real pixels at every
// size and never depend on an icon-file decoder.
//
// The desktop entry that scripts/install-desktop.sh installs is named after
// kLauncherDesktopId, uses it as its Icon name and as its StartupWMClass; the
// launcher's windows carry the same name as their program name and class
// (the X11 WM_CLASS, the Wayland application id), so the desktop matches a
// running launcher with its menu entry and shows the same icon.
//
// Thread: UI thread only, after initEngine().
#include <span>
#include <string_view>

using GtkWindow = struct _GtkWindow;

namespace mendly {

// The desktop entry's file name without ".desktop", its StartupWMClass and
// its icon name. Changing it orphans entries that players already installed.
inline constexpr std::string_view kLauncherDesktopId = "net.kaltris.NexumLauncher";

// One compiled-in icon image: a square PNG, `size` pixels wide and high.
struct WindowIconImage {
    int size = 0;
    std::string_view png;
};

// The launcher's icon images, smallest first (16, 24, 32, 48, 64, 128, 256).
std::span<const WindowIconImage> launcherIconImages();

// Gives `window` the icon `images` (by default the launcher's) and makes them
// the default of windows opened later (message boxes, the duplicate prompt);
// sets the program name and class to kLauncherDesktopId and the default
// icon name to it as well. Call it before the window is first shown: X11
// reads the class when the window is realised.
//
// An image that does not decode, or decodes to another size than it claims,
// is left out (and logged as a warning). Returns the number of images set;
// 0 leaves the window with GTK's default icon. A null window sets only the
// defaults and the name.
int applyWindowIcons(GtkWindow* window, std::span<const WindowIconImage> images = launcherIconImages());

}  // namespace mendly
