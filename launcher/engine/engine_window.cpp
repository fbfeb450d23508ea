#include "engine_window.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <utility>

#include "call_limits.h"
#include "content_type.h"
#include "log/log_file.h"
#include "log/text.h"
#include "message_box.h"

namespace mendly {
namespace {

// Every page gets xcall() before its own scripts run. It refuses a call
// beyond the limits of call_limits.h before posting it (so that a hostile
// value never reaches the engine's serialisation), counting the nesting the
// way the window does and the size in UTF-16 units of its JSON text.
constexpr char kBridgeScript[] =
    "window.xcall = (() => {\n"
    "  const fits = (call) => {\n"
    "    const pending = [[call, 1]];\n"
    "    let nodes = 0;\n"
    "    while (pending.length > 0) {\n"
    "      const [value, depth] = pending.pop();\n"
    "      if (value === null || typeof value !== 'object') continue;\n"
    "      if (depth > 32 || ++nodes > 100000) return false;\n"
    "      for (const key of Object.keys(value)) pending.push([value[key], depth + 1]);\n"
    "    }\n"
    "    try { return JSON.stringify(call).length <= 1048576; } catch (e) { return false; }\n"
    "  };\n"
    "  return function (name, ...args) {\n"
    "    const call = {name: String(name), args: args};\n"
    "    if (!fits(call)) return Promise.reject(new Error('xcall: the call is too large or nested too deeply'));\n"
    "    return window.webkit.messageHandlers.xcall.postMessage(call);\n"
    "  };\n"
    "})();\n"
    // Loads the page's policy refused, for the launcher's log.
    "document.addEventListener('securitypolicyviolation', (e) => {\n"
    "  window.webkit.messageHandlers.xcall.postMessage({name: 'windowRefusedLoad',\n"
    "    args: [String(e.blockedURI).slice(0, 2048), String(e.effectiveDirective)]}).catch(() => {});\n"
    "});\n"
    // The window's own script object: four methods answered by the bridge
    // under "launcher.<method>"; each returns a promise like xcall().
    "window.launcher = Object.freeze({\n"
    "  asset_url: (path) => window.xcall('launcher.asset_url', path === undefined ? null : path),\n"
    "  play: () => window.xcall('launcher.play'),\n"
    "  reinstall: () => window.xcall('launcher.reinstall'),\n"
    "  select_server: (index) => window.xcall('launcher.select_server', index === undefined ? null : index),\n"
    "});\n";

// Body of the async function that callPage() runs in the page; `fn` and
// `args` arrive as values (the name and a JSON array text).
constexpr char kCallBody[] =
    "const f = globalThis[fn];\n"
    "if (typeof f !== 'function') throw new Error('no page function ' + fn);\n"
    "return await f(...JSON.parse(args));\n";

// The call as JSON, or why it is refused.
struct DecodedCall {
    nlohmann::json call;
    std::string refusal;  // "could not be read", "is too large", ...; empty when decoded
};

DecodedCall decodeCall(JSCValue* value) {
    g_autofree char* text = value != nullptr ? jsc_value_to_json(value, 0) : nullptr;
    if (text == nullptr) {
        if (value != nullptr) jsc_context_clear_exception(jsc_value_get_context(value));
        return {{}, "could not be read"};
    }
    if (const std::string violation = callLimitViolation(text); !violation.empty()) return {{}, "is " + violation};
    return {nlohmann::json::parse(text, nullptr, false), {}};
}

const char* terminationReason(WebKitWebProcessTerminationReason reason) {
    switch (reason) {
        case WEBKIT_WEB_PROCESS_CRASHED: return "crashed";
        case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT: return "out of memory";
        case WEBKIT_WEB_PROCESS_TERMINATED_BY_API: return "ended by the launcher";
    }
    return "ended";
}

nlohmann::json toJson(JSCValue* value) {
    if (value == nullptr || jsc_value_is_undefined(value)) return undefinedValue();
    g_autofree char* text = jsc_value_to_json(value, 0);
    if (text == nullptr) return undefinedValue();  // functions, symbols
    return nlohmann::json::parse(text, nullptr, false);
}

bool isPageAddress(std::string_view uri) {
    const std::string origin = toUtf8(kPageOrigin);
    return uri.substr(0, origin.size()) == origin;
}

void finishNotFound(WebKitURISchemeRequest* request) {
    static constexpr char body[] = "Not Found";
    GInputStream* stream = g_memory_input_stream_new_from_data(body, sizeof body - 1, nullptr);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, sizeof body - 1);
    webkit_uri_scheme_response_set_status(response, 404, "Not Found");
    webkit_uri_scheme_response_set_content_type(response, "text/plain");
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
}

struct PendingCall {
    EngineWindow::PageResult done;
    std::string what;
};

}  // namespace

// GObject signal and async callbacks, with access to the window's members.
struct EngineWindow::Callbacks {
    static void onSchemeRequest(WebKitURISchemeRequest* request, gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        const gchar* uri = webkit_uri_scheme_request_get_uri(request);
        std::string contents;
        std::u16string name;
        if (uri != nullptr && isPageAddress(uri)) {
            g_autofree char* path = g_uri_unescape_string(webkit_uri_scheme_request_get_path(request), nullptr);
            if (path != nullptr && path[0] == '/') name = toWide(path + 1);
        }
        if (name.empty() || !self->archive_.read(name, contents)) {
            finishNotFound(request);
            return;
        }
        GBytes* bytes = g_bytes_new(contents.data(), contents.size());
        GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
        WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, static_cast<gint64>(contents.size()));
        webkit_uri_scheme_response_set_status(response, 200, "OK");
        const std::string type = contentTypeForName(name);
        webkit_uri_scheme_response_set_content_type(response, type.c_str());
        // The type also as a header, so that the page's fetch() sees it.
        SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
        soup_message_headers_replace(headers, "Content-Type", type.c_str());
        soup_message_headers_replace(headers, "Content-Security-Policy", kPagePolicy);
        webkit_uri_scheme_response_set_http_headers(response, headers);  // takes ownership
        webkit_uri_scheme_request_finish_with_response(request, response);
        g_object_unref(response);
        g_object_unref(stream);
        g_bytes_unref(bytes);
    }

    static gboolean onScriptMessage(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                    gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        const ScriptReply answer(reply, jsc_value_get_context(value));
        DecodedCall decoded = decodeCall(value);
        if (!decoded.refusal.empty()) {
            self->logRefusal(u"a page call that " + toWide(decoded.refusal), {});
            answer.fail("xcall: the call " + decoded.refusal);
            return TRUE;
        }
        nlohmann::json& call = decoded.call;
        if (!call.is_object() || !call.contains("name") || !call["name"].is_string()) {
            answer.fail("xcall: malformed call");
            return TRUE;
        }
        const std::string name = call["name"].get<std::string>();
        nlohmann::json args = call.contains("args") ? std::move(call["args"]) : nlohmann::json::array();
        if (!args.is_array()) args = nlohmann::json::array({args});

        if (self->windowControl(name, args)) {
            answer.answer(true);
            return TRUE;
        }
        if (self->dispatcher_ && self->dispatcher_(name, args, answer)) return TRUE;
        answer.fail("xcall: no native function \"" + name + "\" taking " + std::to_string(args.size()) +
                    " argument(s)");
        return TRUE;
    }

    static gboolean onButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        self->lastButton_ = event->button;
        self->lastRootX_ = static_cast<int>(event->x_root);
        self->lastRootY_ = static_cast<int>(event->y_root);
        self->lastPressTime_ = event->time;
        return FALSE;  // the page still sees the press
    }

    // The page opens links through native code; it never navigates away, opens
    // a window or takes a document from anywhere else.
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        WebKitURIRequest* request = nullptr;
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
            request = webkit_response_policy_decision_get_request(WEBKIT_RESPONSE_POLICY_DECISION(decision));
        } else {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            request = webkit_navigation_action_get_request(action);
        }
        const gchar* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
        const std::string_view address = uri != nullptr ? uri : "";
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            self->logRefusal(u"a new window", address);
        } else if (!isPageAddress(address)) {
            self->logRefusal(type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE ? u"a document" : u"a navigation", address);
        } else {
            return FALSE;
        }
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }

    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
        static_cast<EngineWindow*>(data)->onPageProcessEnded(terminationReason(reason));
    }

    static gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
        return TRUE;  // the page draws its own menus; no engine menu (reload, inspect)
    }

    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        if (event == WEBKIT_LOAD_STARTED) self->refusalLines_ = 0;
        if (event == WEBKIT_LOAD_FINISHED && self->loadFinished_) self->loadFinished_();
    }

    static void onTitleChanged(GObject*, GParamSpec*, gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        const gchar* title = webkit_web_view_get_title(self->webView_);
        if (self->window_ != nullptr && title != nullptr && title[0] != '\0') gtk_window_set_title(self->window_, title);
    }

    static void onDestroy(GtkWidget*, gpointer data) { static_cast<EngineWindow*>(data)->onDestroyed(); }

    static gboolean onFirstDraw(GtkWidget* widget, cairo_t*, gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        g_signal_handler_disconnect(widget, self->firstDrawHandler_);
        self->firstDrawHandler_ = 0;
        // Low priority: after the frame that is being drawn has been shown.
        self->firstFrameSource_ = g_idle_add_full(G_PRIORITY_LOW, &onFirstFrameShown, self, nullptr);
        return FALSE;
    }

    static gboolean onDraw(GtkWidget*, cairo_t*, gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        if (self->drawObserver_) self->drawObserver_();
        return FALSE;
    }

    static gboolean onFirstFrameShown(gpointer data) {
        auto* self = static_cast<EngineWindow*>(data);
        self->firstFrameSource_ = 0;
        if (auto handler = std::move(self->firstFrame_)) handler();
        return G_SOURCE_REMOVE;
    }

    static void onFunctionDone(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<PendingCall> call(static_cast<PendingCall*>(data));
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
        if (value == nullptr) {
            const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            const std::string message = error != nullptr && error->message != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            if (cancelled) return;  // the window is being destroyed
            if (call->done) {
                call->done(false, undefinedValue(), message);
            } else {
                LogFile::write(u"WARNING: " + toWide(call->what) + u" \u2014 " + toWide(message));
            }
            return;
        }
        const nlohmann::json json = toJson(value);
        g_object_unref(value);
        if (call->done) call->done(true, json, {});
    }
};

EngineWindow::EngineWindow(const PageArchive& archive, Options options)
    : archive_(archive), caption_(options.title), self_(std::make_shared<EngineWindow*>(this)) {
    channel_ = PostChannel::create(
        [this](const PostedMessage& message) {
            if (receive_) receive_(message);
        },
        [this](const PostedMessage& message) {
            if (discard_) discard_(message);
        });
    cancellable_ = g_cancellable_new();

    // An ephemeral context keeps cookies, caches and storage in memory: the
    // launcher writes nothing into the user's home.
    context_ = webkit_web_context_new_ephemeral();
    webkit_web_context_register_uri_scheme(context_, kPageScheme, &Callbacks::onSchemeRequest, this, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context_);
    webkit_security_manager_register_uri_scheme_as_secure(security, kPageScheme);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kPageScheme);

    contentManager_ = webkit_user_content_manager_new();
    WebKitUserScript* bridge = webkit_user_script_new(kBridgeScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(contentManager_, bridge);
    webkit_user_script_unref(bridge);
    g_signal_connect(contentManager_, "script-message-with-reply-received::xcall",
                     G_CALLBACK(&Callbacks::onScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler_with_reply(contentManager_, "xcall", nullptr);

    webView_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_, "user-content-manager",
                                            contentManager_, nullptr));
    WebKitSettings* settings = webkit_web_view_get_settings(webView_);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, options.consoleToStdout ? TRUE : FALSE);
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(webView_, "button-press-event", G_CALLBACK(&Callbacks::onButtonPress), this);
    g_signal_connect(webView_, "decide-policy", G_CALLBACK(&Callbacks::onDecidePolicy), this);
    g_signal_connect(webView_, "context-menu", G_CALLBACK(&Callbacks::onContextMenu), this);
    g_signal_connect(webView_, "load-changed", G_CALLBACK(&Callbacks::onLoadChanged), this);
    g_signal_connect(webView_, "notify::title", G_CALLBACK(&Callbacks::onTitleChanged), this);
    g_signal_connect(webView_, "web-process-terminated", G_CALLBACK(&Callbacks::onWebProcessTerminated), this);
    gtk_widget_set_size_request(GTK_WIDGET(webView_), options.width, options.height);
    GdkRGBA background{};
    if (gdk_rgba_parse(&background, options.background.c_str()) != FALSE)
        webkit_web_view_set_background_color(webView_, &background);

    window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(window_, toUtf8(options.title).c_str());
    gtk_window_set_decorated(window_, FALSE);
    gtk_window_set_resizable(window_, FALSE);
    gtk_window_set_default_size(window_, options.width, options.height);
    gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
    gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(webView_));
    g_signal_connect(window_, "destroy", G_CALLBACK(&Callbacks::onDestroy), this);
    paintBackground(options.background);
}

// The window itself is painted in the page's colour too: it is what shows
// while the view has nothing to draw yet.
void EngineWindow::paintBackground(const std::string& colour) {
    GtkCssProvider* css = gtk_css_provider_new();
    const std::string rule = "window { background-color: " + colour + "; }";
    if (gtk_css_provider_load_from_data(css, rule.c_str(), -1, nullptr) != FALSE)
        gtk_style_context_add_provider(gtk_widget_get_style_context(GTK_WIDGET(window_)), GTK_STYLE_PROVIDER(css),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

EngineWindow::~EngineWindow() {
    *self_ = nullptr;
    closed_ = nullptr;
    loadFinished_ = nullptr;
    drawObserver_ = nullptr;
    if (firstFrameSource_ != 0) g_source_remove(firstFrameSource_);
    g_cancellable_cancel(cancellable_);
    g_signal_handlers_disconnect_by_data(contentManager_, this);
    if (window_ != nullptr) gtk_widget_destroy(GTK_WIDGET(window_));  // runs onDestroyed
    channel_->close();
    for (const auto& [name, script] : startupValues_) webkit_user_script_unref(script);
    g_object_unref(contentManager_);
    g_object_unref(context_);
    g_object_unref(cancellable_);
}

void EngineWindow::onDestroyed() {
    if (webView_ != nullptr) g_signal_handlers_disconnect_by_data(webView_, this);
    window_ = nullptr;
    webView_ = nullptr;
    channel_->close();
    if (closed_) {
        auto closed = std::move(closed_);
        closed_ = nullptr;
        closed();
    }
}

bool EngineWindow::load(std::u16string_view url) {
    if (webView_ == nullptr) return false;
    const std::u16string_view origin = kPageOrigin;
    if (url.substr(0, origin.size()) != origin) return false;
    const std::u16string_view name = url.substr(origin.size());
    if (archive_.findItem(name) < 0) return false;
    pageUrl_ = toUtf8(url);
    webkit_web_view_load_uri(webView_, pageUrl_.c_str());
    return true;
}

void EngineWindow::provideStartupValue(const std::string& name, const nlohmann::json& value) {
    // Both as JSON texts, which script reads as literals; non-ASCII escaped,
    // invalid UTF-8 replaced rather than thrown.
    const auto literal = [](const nlohmann::json& json) {
        return json.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    };
    const std::string source = "window[" + literal(name) + "] = " + literal(value) + ";\n";
    WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(contentManager_, script);
    auto [it, added] = startupValues_.try_emplace(name, script);
    if (!added) {
        webkit_user_content_manager_remove_script(contentManager_, it->second);
        webkit_user_script_unref(it->second);
        it->second = script;
    }
}

void EngineWindow::setFirstFrameHandler(std::function<void()> handler) {
    if (window_ == nullptr || firstDrawHandler_ != 0) return;
    firstFrame_ = std::move(handler);
    firstDrawHandler_ = g_signal_connect_after(window_, "draw", G_CALLBACK(&Callbacks::onFirstDraw), this);
}

void EngineWindow::setDrawObserver(std::function<void()> observer) {
    if (window_ == nullptr) return;
    drawObserver_ = std::move(observer);
    if (drawObserverHandler_ == 0)
        drawObserverHandler_ = g_signal_connect_after(window_, "draw", G_CALLBACK(&Callbacks::onDraw), this);
}

void EngineWindow::show() {
    if (window_ != nullptr) gtk_widget_show_all(GTK_WIDGET(window_));
}

void EngineWindow::close() {
    if (window_ != nullptr) gtk_window_close(window_);
}

void EngineWindow::minimize() {
    if (window_ != nullptr) gtk_window_iconify(window_);
}

void EngineWindow::beginMoveDrag() {
    if (window_ == nullptr || lastButton_ == 0) return;
    gtk_window_begin_move_drag(window_, static_cast<gint>(lastButton_), lastRootX_, lastRootY_, lastPressTime_);
}

void EngineWindow::later(std::function<void(EngineWindow&)> step) {
    struct Deferred {
        std::weak_ptr<EngineWindow*> window;
        std::function<void(EngineWindow&)> step;
    };
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        [](gpointer data) -> gboolean {
            auto* deferred = static_cast<Deferred*>(data);
            if (auto self = deferred->window.lock(); self && *self && (*self)->window_ != nullptr)
                deferred->step(**self);
            return G_SOURCE_REMOVE;
        },
        new Deferred{self_, std::move(step)}, [](gpointer data) { delete static_cast<Deferred*>(data); });
}

void EngineWindow::onPageProcessEnded(const char* reason) {
    LogFile::write(u"ERROR: The window's web process ended (" + toWide(reason) + u")");
    later([](EngineWindow& self) {
        if (self.pageReloads_ == 0 && !self.pageUrl_.empty() && self.webView_ != nullptr) {
            ++self.pageReloads_;
            LogFile::write(u"Reloading the page " + toWide(self.pageUrl_));
            webkit_web_view_load_uri(self.webView_, self.pageUrl_.c_str());
            return;
        }
        LogFile::write(u"ERROR: The page stopped again; the window closes");
        (void)showMessageBox(&self, kPageStoppedText, self.caption_, MessageBoxIcon::Error, MessageBoxButtons::Close);
        self.close();
    });
}

void EngineWindow::logRefusal(std::u16string_view what, std::string_view uri) {
    if (refusalLines_ > kMaxRefusalLines) return;
    if (++refusalLines_ > kMaxRefusalLines) {
        LogFile::write(u"WARNING: Further refusals of this page are not logged");
        return;
    }
    // Addresses are the page's or a feed's text: cut, so a log line stays a line.
    std::u16string line = u"WARNING: Refused " + std::u16string(what);
    if (!uri.empty()) line += u": " + toWide(uri.substr(0, 300));
    LogFile::write(line);
}

bool EngineWindow::windowControl(const std::string& name, const nlohmann::json& args) {
    if (name == "windowRefusedLoad" && args.size() == 2 && args[0].is_string() && args[1].is_string()) {
        logRefusal(u"a load by the page's policy (" + toWide(args[1].get<std::string>().substr(0, 40)) + u")",
                   args[0].get<std::string>());
        return true;
    }
    if (!args.empty()) return false;
    if (name == "windowDrag") {
        beginMoveDrag();
        return true;
    }
    if (name == "windowMinimize") {
        minimize();
        return true;
    }
    if (name == "windowClose") {
        // Closed from the main loop, not from inside the web view's own
        // signal: destroying the view under its emission is not allowed.
        later([](EngineWindow& self) { self.close(); });
        return true;
    }
    return false;
}

void EngineWindow::setMessageHandlers(MessageHandler receive, MessageHandler discard) {
    receive_ = std::move(receive);
    discard_ = std::move(discard);
}

void EngineWindow::runFunction(const std::string& body, const nlohmann::json& values, PageResult done,
                               std::string what) {
    if (webView_ == nullptr) {
        if (done) done(false, undefinedValue(), "the window is gone");
        return;
    }
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    for (const auto& [key, value] : values.items()) {
        const std::string text = value.get<std::string>();
        g_variant_builder_add(&builder, "{sv}", key.c_str(), g_variant_new_string(text.c_str()));
    }
    auto* call = new PendingCall{std::move(done), std::move(what)};
    webkit_web_view_call_async_javascript_function(webView_, body.data(), static_cast<gssize>(body.size()),
                                                   g_variant_builder_end(&builder), nullptr, nullptr, cancellable_,
                                                   &Callbacks::onFunctionDone, call);
}

void EngineWindow::callPage(std::string_view function, const nlohmann::json& args, PageResult done) {
    const nlohmann::json list = args.is_array() ? args : nlohmann::json::array({args});
    const nlohmann::json values = {
        {"fn", std::string(function)},
        {"args", list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)},
    };
    runFunction(kCallBody, values, std::move(done), "page function " + std::string(function));
}

void EngineWindow::runScriptForTest(const std::string& body, PageResult done) {
    runFunction(body, nlohmann::json::object(), std::move(done), "test script");
}

void EngineWindow::saveSnapshotPng(const std::filesystem::path& file, std::function<void(bool ok)> done) {
    if (webView_ == nullptr) {
        done(false);
        return;
    }
    struct Pending {
        std::filesystem::path file;
        std::function<void(bool)> done;
    };
    webkit_web_view_get_snapshot(
        webView_, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
            GError* error = nullptr;
            cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
            const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_clear_error(&error);
            if (cancelled) return;  // the window is being destroyed
            bool ok = false;
            if (surface != nullptr) {
                ok = cairo_surface_write_to_png(surface, pending->file.c_str()) == CAIRO_STATUS_SUCCESS;
                cairo_surface_destroy(surface);
            }
            pending->done(ok);
        },
        new Pending{file, std::move(done)});
}

namespace {

// One key event for `target` as the keyboard would have made it; false when
// the keymap has no key for `keyval`.
bool deliverKey(GdkWindow* target, GdkDevice* keyboard, guint keyval, GdkEventType type) {
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_window_get_display(target)), keyval, &keys,
                                          &count) == FALSE ||
        count == 0)
        return false;
    GdkEvent* event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(target));
    event->key.send_event = FALSE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.state = 0;
    event->key.keyval = keyval;
    event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    event->key.group = static_cast<guint8>(keys[0].group);
    g_free(keys);
    if (keyboard != nullptr) gdk_event_set_device(event, keyboard);
    gtk_main_do_event(event);
    gdk_event_free(event);
    return true;
}

}  // namespace

bool EngineWindow::sendKeysForTest(const std::vector<std::string>& keys) {
    if (webView_ == nullptr) return false;
    gtk_widget_grab_focus(GTK_WIDGET(webView_));
    GdkWindow* target = gtk_widget_get_window(GTK_WIDGET(webView_));
    if (target == nullptr) return false;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(target));
    GdkDevice* keyboard = seat != nullptr ? gdk_seat_get_keyboard(seat) : nullptr;
    for (const auto& key : keys) {
        const guint keyval = gdk_keyval_from_name(key.c_str());
        if (keyval == GDK_KEY_VoidSymbol || keyval == 0) return false;
        if (!deliverKey(target, keyboard, keyval, GDK_KEY_PRESS) || !deliverKey(target, keyboard, keyval, GDK_KEY_RELEASE))
            return false;
    }
    return true;
}

}  // namespace mendly
