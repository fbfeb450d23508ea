#pragma once
// The launcher's main window: an undecorated, fixed-size GTK window holding
// one WebKit web view that shows the embedded page.
//
// - "this://app/<name>" is answered from the page archive with a content type
//   chosen by extension and the policy kPagePolicy (only the page's own files
//   load: no remote script, style, image, font, fetch, XHR or WebSocket);
//   a missing file answers 404. The view never navigates or opens a window
//   anywhere else. Every refusal is logged ("WARNING: Refused ..."), at most
//   kMaxRefusalLines times per page load: navigations and windows by the
//   view, loads inside the page as the page's policy reports them.
// - Network requests leave only through native functions the page calls.
// - The page calls native code with xcall(name, ...args) (defined in every
//   page; it posts {name, args} to the "xcall" script message handler) and
//   gets a promise. Calls go to the dispatcher, which may answer later. The
//   window itself answers "windowDrag", "windowMinimize" and "windowClose".
//   A call that is larger or nested deeper than call_limits.h allows, or that
//   cannot be read at all, is refused (the promise rejects); xcall() refuses
//   it in the page already.
// - When the page's web process ends (crash, killed, out of memory) this is
//   logged and the page is loaded again, once per window; when it ends again
//   a message box (kPageStoppedText, one Close button) is shown and the
//   window closes. The window manager's close always closes the window.
// - callPage() calls a global function of the page with JSON values as
//   arguments (handed over as data, never pasted into script text).
// - postMessage() may be called from any thread; the message reaches the
//   message handler on the UI thread through the GLib main loop (PostChannel).
//
// Thread: everything except postMessage() and channel() runs on the UI
// thread. The window must be created after initEngine(); the archive must
// outlive it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "page_archive.h"
#include "post_channel.h"
#include "script_reply.h"

using GtkWindow = struct _GtkWindow;
using GtkWidget = struct _GtkWidget;
using WebKitWebView = struct _WebKitWebView;
using WebKitWebContext = struct _WebKitWebContext;
using WebKitUserContentManager = struct _WebKitUserContentManager;
using WebKitUserScript = struct _WebKitUserScript;
using GCancellable = struct _GCancellable;

namespace mendly {

inline constexpr char kPageScheme[] = "this";
inline constexpr char16_t kPageOrigin[] = u"this://app/";
// Sent with every page file (and written into the launcher's page as well).
inline constexpr char kPagePolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; font-src 'self'; "
    "connect-src 'self'; media-src 'self'; object-src 'none'; frame-src 'none'; worker-src 'none'; "
    "base-uri 'none'; form-action 'none'";
inline constexpr int kMaxRefusalLines = 50;
inline constexpr char16_t kPageStoppedText[] =
    u"The launcher window stopped working and has to close.\nStart the launcher again to continue.";

class EngineWindow {
public:
    struct Options {
        int width = 1130;
        int height = 710;
        std::u16string title = u"Kaltris Nexum Launcher";
        // What the window shows before the page has painted: the page's own
        // background colour, so that the first frame is already dark.
        std::string background = "#060a08";
        bool consoleToStdout = false;  // the page's console messages on stdout (tests, debugging)
    };

    // True when the dispatcher took the call; it then answers through `reply`,
    // now or later. False reports the call as not handled (the promise rejects).
    using CallDispatcher =
        std::function<bool(const std::string& name, const nlohmann::json& args, const ScriptReply& reply)>;
    // Result of a call into the page: ok with the returned value (discarded
    // for undefined), or the error's text.
    using PageResult = std::function<void(bool ok, const nlohmann::json& result, const std::string& error)>;
    using MessageHandler = std::function<void(const PostedMessage&)>;

    EngineWindow(const PageArchive& archive, Options options);
    explicit EngineWindow(const PageArchive& archive) : EngineWindow(archive, Options{}) {}
    ~EngineWindow();
    EngineWindow(const EngineWindow&) = delete;
    EngineWindow& operator=(const EngineWindow&) = delete;

    // False when the native window has been closed (destroyed).
    bool isAlive() const { return window_ != nullptr; }

    // Starts loading a page address. False when the address is not a
    // "this://app/" address of a file in the archive (nothing is loaded then).
    [[nodiscard]] bool load(std::u16string_view url);
    // Gives every page loaded from now on the global `window.<name>` =
    // `value`, set before the page's own scripts run: what the page would
    // otherwise ask for at once, so that its first frame already shows it.
    // A later call with the same name replaces the value for later loads.
    void provideStartupValue(const std::string& name, const nlohmann::json& value);
    void show();
    // Closes the window as the user would; the closed handler runs.
    void close();
    void minimize();
    // Starts moving the window with the mouse button last pressed in the page.
    void beginMoveDrag();

    void setCallDispatcher(CallDispatcher dispatcher) { dispatcher_ = std::move(dispatcher); }
    // Runs once when the window has been destroyed (the user closed it).
    void setClosedHandler(std::function<void()> handler) { closed_ = std::move(handler); }
    // Runs each time a page has finished loading (also after a reload that
    // follows the end of the page's web process).
    void setLoadFinishedHandler(std::function<void()> handler) { loadFinished_ = std::move(handler); }
    // Runs once, after the window's first frame has been put on the screen
    // (whatever the page has painted by then). Set it before show().
    void setFirstFrameHandler(std::function<void()> handler);
    // Runs after every frame the window draws (start-up measurements).
    void setDrawObserver(std::function<void()> observer);
    // `receive` handles delivered messages; `discard` gets the ones still
    // queued when the window goes away and must free their payloads.
    void setMessageHandlers(MessageHandler receive, MessageHandler discard);

    // Calls the page's global function `function` with the elements of the
    // JSON array `args`. A missing function or an error thrown by it is
    // reported to `done`, or logged as a warning when there is no `done`.
    void callPage(std::string_view function, const nlohmann::json& args, PageResult done = {});

    // Any thread. False once the window is gone; the caller then still owns
    // the payload.
    [[nodiscard]] bool postMessage(unsigned message, std::intptr_t wParam, std::intptr_t lParam) {
        return channel_->post(message, wParam, lParam);
    }
    // The posting channel, for threads that report to the window (it is the
    // PatchWindow of a patch run). Any thread may keep it; it outlives the window.
    std::shared_ptr<PostChannel> channel() const { return channel_; }

    GtkWindow* nativeWindow() const { return window_; }

    // Test hook: runs `body` as the body of an async function in the page
    // (it may await and return a value) and reports the result.
    void runScriptForTest(const std::string& body, PageResult done);
    // Test hook: writes the visible page as a PNG file.
    void saveSnapshotPng(const std::filesystem::path& file, std::function<void(bool ok)> done);
    // Test hook: presses and releases the keys named `keys` (GDK key names:
    // "Tab", "Return", "space", "Down"...) one after another on the view,
    // through GTK's event handling as the keyboard's own events go, so the
    // page gets them as trusted key events (Tab moves the focus). The page
    // sees them a little later (its process is asked in turn). False for a
    // name that is no key of the keymap.
    [[nodiscard]] bool sendKeysForTest(const std::vector<std::string>& keys);

private:
    struct Callbacks;
    friend struct Callbacks;

    void runFunction(const std::string& body, const nlohmann::json& values, PageResult done, std::string what);
    void paintBackground(const std::string& colour);
    void onDestroyed();
    // Handles the window controls the page may call; false for other names.
    bool windowControl(const std::string& name, const nlohmann::json& args);
    // Runs `step` from the main loop, not inside the signal being handled,
    // unless the window is gone by then.
    void later(std::function<void(EngineWindow&)> step);
    void onPageProcessEnded(const char* reason);
    // Logs one refusal, up to kMaxRefusalLines per page load.
    void logRefusal(std::u16string_view what, std::string_view uri);

    const PageArchive& archive_;
    std::u16string caption_;
    std::string pageUrl_;    // the page last loaded; empty before load()
    int pageReloads_ = 0;    // reloads after the web process ended
    int refusalLines_ = 0;   // refusals logged since the page last started loading
    GtkWindow* window_ = nullptr;
    WebKitWebView* webView_ = nullptr;
    WebKitWebContext* context_ = nullptr;
    WebKitUserContentManager* contentManager_ = nullptr;
    std::map<std::string, WebKitUserScript*> startupValues_;  // by global name; owned references
    GCancellable* cancellable_ = nullptr;
    std::shared_ptr<PostChannel> channel_;
    std::shared_ptr<EngineWindow*> self_;  // cleared on destruction; deferred work checks it

    CallDispatcher dispatcher_;
    std::function<void()> closed_;
    std::function<void()> loadFinished_;
    std::function<void()> firstFrame_;
    std::function<void()> drawObserver_;
    unsigned long drawObserverHandler_ = 0;
    unsigned long firstDrawHandler_ = 0;
    unsigned firstFrameSource_ = 0;
    MessageHandler receive_;
    MessageHandler discard_;

    // The last mouse button press in the page (for move-drag).
    unsigned lastButton_ = 0;
    int lastRootX_ = 0;
    int lastRootY_ = 0;
    std::uint32_t lastPressTime_ = 0;
};

}  // namespace mendly
