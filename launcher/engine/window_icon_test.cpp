// The launcher's window icon on a private Xvfb display: the images GTK holds
// for the window, decoded and compared with the emblem of the page (an
// independent rendering of the same artwork), and the name the desktop
// matches the window by (its X11 class).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <X11/Xutil.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine_runtime.h"
#include "virtual_display.h"
#include "window_icon.h"

namespace mendly {
namespace {

using ::testing::ElementsAre;

// One display and one GTK for the whole program: GTK cannot be initialised twice.
class DisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(display_.start()) << "Xvfb did not start";
        setenv("DISPLAY", display_.name().c_str(), 1);
        setenv("GDK_BACKEND", "x11", 1);
        int argc = 1;
        char name[] = "window_icon_tests";
        char* args[] = {name, nullptr};
        char** argv = args;
        ASSERT_TRUE(initEngine(argc, argv));
    }

private:
    test::VirtualDisplay display_;
};

const auto* const g_displayEnvironment = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

using Pixbuf = std::unique_ptr<GdkPixbuf, decltype(&g_object_unref)>;
Pixbuf own(GdkPixbuf* pixbuf) { return Pixbuf(pixbuf, &g_object_unref); }

// The emblem as the page shows it (48 px), scaled to `size`.
Pixbuf emblemAt(int size) {
    GError* error = nullptr;
    const Pixbuf emblem = own(gdk_pixbuf_new_from_file(LAUNCHER_EMBLEM_PNG, &error));
    if (emblem == nullptr) {
        ADD_FAILURE() << "cannot read " << LAUNCHER_EMBLEM_PNG << ": " << (error ? error->message : "?");
        g_clear_error(&error);
        return own(nullptr);
    }
    return own(gdk_pixbuf_scale_simple(emblem.get(), size, size, GDK_INTERP_HYPER));
}

// Mean absolute difference of two equally sized images, each drawn over mid
// grey first (so that transparent pixels compare equal whatever colour they
// keep), in 0..255 per channel. 255 when the sizes differ.
double meanDifference(GdkPixbuf* a, GdkPixbuf* b) {
    const int width = gdk_pixbuf_get_width(a);
    const int height = gdk_pixbuf_get_height(a);
    if (width != gdk_pixbuf_get_width(b) || height != gdk_pixbuf_get_height(b)) return 255;
    const auto overGrey = [](GdkPixbuf* p, int x, int y, int channel) {
        const int n = gdk_pixbuf_get_n_channels(p);
        const guchar* pixel = gdk_pixbuf_read_pixels(p) + y * gdk_pixbuf_get_rowstride(p) + x * n;
        const double alpha = gdk_pixbuf_get_has_alpha(p) ? pixel[3] / 255.0 : 1.0;
        return pixel[channel] * alpha + 128.0 * (1.0 - alpha);
    };
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) sum += std::abs(overGrey(a, x, y, c) - overGrey(b, x, y, c));
    return sum / (3.0 * width * height);
}

// The icons score 0.2 (48 px, the same rendering) to 12 (256 px against the
// 48 px emblem scaled up); noise scores 65 to 75.
constexpr double kMaximumDifference = 20.0;

Pixbuf noiseAt(int size) {
    std::mt19937 random(size);
    Pixbuf noise = own(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size));
    guchar* pixels = gdk_pixbuf_get_pixels(noise.get());
    const int bytes = gdk_pixbuf_get_rowstride(noise.get()) * size;
    for (int i = 0; i < bytes; ++i) pixels[i] = static_cast<guchar>(random());
    return noise;
}

// Every image checked against the emblem at its size; the sizes in order.
std::vector<int> checkLooksLikeTheEmblem(const std::vector<GdkPixbuf*>& images) {
    std::vector<int> sizes;
    for (GdkPixbuf* image : images) {
        const int size = gdk_pixbuf_get_width(image);
        sizes.push_back(size);
        SCOPED_TRACE("icon of " + std::to_string(size) + " px");
        EXPECT_EQ(gdk_pixbuf_get_height(image), size);
        EXPECT_TRUE(gdk_pixbuf_get_has_alpha(image));
        const Pixbuf emblem = emblemAt(size);
        if (emblem == nullptr) continue;
        EXPECT_LT(meanDifference(image, emblem.get()), kMaximumDifference);
        // The measure tells the emblem from noise at this size.
        EXPECT_GT(meanDifference(noiseAt(size).get(), emblem.get()), 2 * kMaximumDifference);
    }
    return sizes;
}

std::pair<std::string, std::string> readWmClass(GtkWidget* widget) {
    GdkWindow* window = gtk_widget_get_window(widget);
    XClassHint hint{};
    if (XGetClassHint(GDK_WINDOW_XDISPLAY(window), GDK_WINDOW_XID(window), &hint) == 0) return {};
    std::pair<std::string, std::string> names{hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
    XFree(hint.res_name);
    XFree(hint.res_class);
    return names;
}

std::vector<GdkPixbuf*> imagesOf(GList* list) {
    std::vector<GdkPixbuf*> images;
    for (GList* item = list; item != nullptr; item = item->next) images.push_back(GDK_PIXBUF(item->data));
    return images;
}

class WindowIconTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (window != nullptr) gtk_widget_destroy(GTK_WIDGET(window));
    }
    GtkWindow* window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
};

TEST_F(WindowIconTest, TheWindowHoldsTheEmblemAtEverySize) {
    EXPECT_EQ(applyWindowIcons(window), 7);
    GList* list = gtk_window_get_icon_list(window);
    EXPECT_THAT(checkLooksLikeTheEmblem(imagesOf(list)), ElementsAre(16, 24, 32, 48, 64, 128, 256));
    g_list_free(list);

    // Windows opened later (message boxes, the duplicate prompt) get them too.
    GList* defaults = gtk_window_get_default_icon_list();
    EXPECT_EQ(g_list_length(defaults), 7u);
    g_list_free(defaults);
}

TEST_F(WindowIconTest, EveryWindowCarriesTheDesktopEntrysName) {
    ASSERT_EQ(applyWindowIcons(window), 7);
    gtk_widget_realize(GTK_WIDGET(window));

    // The class of the window made before the name was set, and of one made
    // afterwards (a message box).
    const std::string id(kLauncherDesktopId);
    EXPECT_EQ(readWmClass(GTK_WIDGET(window)), std::make_pair(id, id));
    GtkWidget* later = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_realize(later);
    EXPECT_EQ(readWmClass(later), std::make_pair(id, id));
    gtk_widget_destroy(later);
    EXPECT_STREQ(g_get_prgname(), id.c_str());
    EXPECT_STREQ(gtk_window_get_default_icon_name(), id.c_str());
}

std::string fileBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST_F(WindowIconTest, ImagesThatDoNotDecodeAsTheirSizeAreLeftOut) {
    const std::string png48(launcherIconImages()[3].png);
    const std::string png32(launcherIconImages()[2].png);
    ASSERT_EQ(launcherIconImages()[3].size, 48);
    // The page's icon file: its 256 px entry decodes as noise through the
    // generic image loaders, so it must not pass for a PNG.
    const std::string iconFile = fileBytes(LAUNCHER_ICON_FILE);
    ASSERT_FALSE(iconFile.empty());
    const std::vector<WindowIconImage> images{
        {16, png48.substr(0, png48.size() / 2)},  // truncated
        {24, "GIF89a not a picture at all"},
        {32, png48},                              // claims a size it does not have
        {48, ""},
        {48, iconFile},
        {256, iconFile},
        {32, png32},
    };
    EXPECT_EQ(applyWindowIcons(window, images), 1);
    GList* list = gtk_window_get_icon_list(window);
    EXPECT_THAT(checkLooksLikeTheEmblem(imagesOf(list)), ElementsAre(32));
    g_list_free(list);
}

TEST_F(WindowIconTest, AWindowWithoutADecodableImageKeepsTheDefaultIcon) {
    const std::vector<WindowIconImage> broken{{16, "\x89PNG\r\n\x1a\n"}, {256, {}}};
    EXPECT_EQ(applyWindowIcons(window, broken), 0);
    EXPECT_EQ(gtk_window_get_icon_list(window), nullptr);
}

// The installed menu entry is made from this template; the desktop pairs it
// with the running window by StartupWMClass and finds the icon by Icon.
TEST(DesktopEntryTemplate, NamesTheWindowsClassAndTheIcon) {
    std::ifstream in(LAUNCHER_DESKTOP_TEMPLATE);
    ASSERT_TRUE(in) << LAUNCHER_DESKTOP_TEMPLATE;
    std::map<std::string, std::string> keys;
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    EXPECT_EQ(keys["StartupWMClass"], kLauncherDesktopId);
    EXPECT_EQ(keys["Icon"], kLauncherDesktopId);
}

}  // namespace
}  // namespace mendly
