// The engine window on a private Xvfb display with the small test page of
// testdata/ (packed at build time): calls in both directions, posted messages,
// the page scheme, message boxes and a snapshot.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include <sstream>

#include "engine_runtime.h"
#include "engine_window.h"
#include "message_box.h"
#include "log/log_file.h"
#include "page_archive.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "virtual_display.h"

extern const unsigned char kEngineTestPage[];
extern const std::size_t kEngineTestPageSize;

namespace mendly {
namespace {

using nlohmann::json;

// One display and one GTK for the whole test program: GTK cannot be
// initialised twice, and its display must outlive every suite.
class DisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(display_.start()) << "Xvfb did not start";
        setenv("DISPLAY", display_.name().c_str(), 1);
        setenv("GDK_BACKEND", "x11", 1);
        int argc = 1;
        char name[] = "engine_window_tests";
        char* args[] = {name, nullptr};
        char** argv = args;
        ASSERT_TRUE(initEngine(argc, argv));
    }

private:
    test::VirtualDisplay display_;
};

const auto* const g_displayEnvironment = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

class EngineWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::u16string error;
        ASSERT_TRUE(archive.open({reinterpret_cast<const char*>(kEngineTestPage), kEngineTestPageSize}, error));
        window = std::make_unique<EngineWindow>(archive, EngineWindow::Options{.consoleToStdout = true});
    }
    void TearDown() override {
        window.reset();
        setMessageBoxHook({});
    }

    // Runs the main loop until `done` holds or `seconds` passed.
    template <class Predicate>
    bool pumpUntil(Predicate done, int seconds = 20) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            g_main_context_iteration(nullptr, FALSE);
            if (!g_main_context_pending(nullptr)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    void loadTestPage() {
        bool loaded = false;
        window->setLoadFinishedHandler([&] { loaded = true; });
        ASSERT_TRUE(window->load(u"this://app/index.htm"));
        window->show();
        ASSERT_TRUE(pumpUntil([&] { return loaded; })) << "the test page did not load";
        window->setLoadFinishedHandler({});
    }

    struct Outcome {
        bool ok = false;
        json value;
        std::string error;
    };
    Outcome runScript(const std::string& body) {
        std::optional<Outcome> outcome;
        window->runScriptForTest(body, [&](bool ok, const json& v, const std::string& e) { outcome = Outcome{ok, v, e}; });
        EXPECT_TRUE(pumpUntil([&] { return outcome.has_value(); })) << body;
        return outcome.value_or(Outcome{});
    }
    Outcome callPage(const std::string& function, const json& args) {
        std::optional<Outcome> outcome;
        window->callPage(function, args, [&](bool ok, const json& v, const std::string& e) { outcome = Outcome{ok, v, e}; });
        EXPECT_TRUE(pumpUntil([&] { return outcome.has_value(); })) << function;
        return outcome.value_or(Outcome{});
    }
    std::string textOf(const std::string& id) {
        const Outcome o = runScript("return document.getElementById('" + id + "').textContent;");
        return o.ok && o.value.is_string() ? o.value.get<std::string>() : "<" + o.error + ">";
    }

    PageArchive archive;
    std::unique_ptr<EngineWindow> window;
};

TEST_F(EngineWindowTest, PageCallGetsALaterReplyFromNativeCode) {
    json seenArgs;
    window->setCallDispatcher([&](const std::string& name, const json& args, const ScriptReply& reply) {
        if (name != "greet") return false;
        seenArgs = args;
        // Answered from the main loop afterwards, as slow work would.
        auto* later = new ScriptReply(reply);
        g_timeout_add(50, [](gpointer data) -> gboolean {
            std::unique_ptr<ScriptReply> r(static_cast<ScriptReply*>(data));
            r->answer("hello \"page\" \u00e4");
            return G_SOURCE_REMOVE;
        }, later);
        return true;
    });
    loadTestPage();
    ASSERT_TRUE(pumpUntil([&] { return textOf("answer") != "waiting"; }));
    EXPECT_EQ(textOf("answer"), "hello \"page\" \u00e4");
    EXPECT_EQ(seenArgs, json::array({"page", 2}));
}

TEST_F(EngineWindowTest, NativeValuesOfEveryKindCrossToThePage) {
    window->setCallDispatcher([](const std::string& name, const json& args, const ScriptReply& reply) {
        if (name != "echo") return false;
        reply.answer(json{{"args", args}, {"list", {1, 2.5, true, nullptr}}});
        return true;
    });
    loadTestPage();
    const Outcome o = runScript("const r = await xcall('echo', 7, 2.9, 'x'); return JSON.stringify(r);");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, R"({"args":[7,2.9,"x"],"list":[1,2.5,true,null]})");
}

TEST_F(EngineWindowTest, UnhandledNativeCallRejectsThePromise) {
    window->setCallDispatcher([](const std::string&, const json&, const ScriptReply&) { return false; });
    loadTestPage();
    const Outcome o = runScript("try { await xcall('nope', 1); return 'resolved'; } catch (e) { return String(e && e.message || e); }");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_NE(o.value.get<std::string>().find("no native function \"nope\" taking 1 argument(s)"), std::string::npos)
        << o.value;
}

TEST_F(EngineWindowTest, AReplyThatIsNeverGivenResolvesToUndefined) {
    window->setCallDispatcher([](const std::string&, const json&, const ScriptReply&) { return true; });
    loadTestPage();
    const Outcome o = runScript("const r = await xcall('forgotten'); return r === undefined ? 'undefined' : typeof r;");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, "undefined");
}

TEST_F(EngineWindowTest, CallPagePassesValuesWithoutQuotingIntoScript) {
    loadTestPage();
    const std::string tricky = "quote \" back\\slash ');alert(1);// </script>";
    const Outcome o = callPage("showCall", json::array({tricky, 7}));
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, "page got " + tricky);
    EXPECT_EQ(textOf("called"), tricky + " / 7");
}

TEST_F(EngineWindowTest, CallPageReportsAMissingFunctionAndAThrownError) {
    loadTestPage();
    Outcome o = callPage("noSuchFunction", json::array());
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.error.find("no page function noSuchFunction"), std::string::npos) << o.error;
    o = callPage("failOnPurpose", json::array());
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.error.find("thrown by the page"), std::string::npos) << o.error;
}

// The page's own script already sees the value; the newest value of a name
// is the one a later load gets; neither name nor value is read as script.
TEST_F(EngineWindowTest, StartupValuesAreThereBeforeThePageScriptRuns) {
    const std::string tricky = "</script>\"');window.hacked=1;// \u2028 \xC3\xA9";
    window->provideStartupValue("startupForTest", json{{"list", "old"}});
    window->provideStartupValue("startupForTest", json{{"list", tricky}, {"count", 2}});
    window->provideStartupValue("odd\"];window.hacked=1;//", 3);
    loadTestPage();
    const Outcome o = runScript("return [startupSeenByScript, window['odd\"];window.hacked=1;//'], window.hacked === undefined];");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(json::parse(o.value[0].get<std::string>()), (json{{"count", 2}, {"list", tricky}}));
    EXPECT_EQ(o.value[1], 3);
    EXPECT_EQ(o.value[2], true);
}

TEST_F(EngineWindowTest, PageSchemeServesArchiveFilesWithTheirTypeAnd404ForMissingOnes) {
    loadTestPage();
    Outcome o = runScript("const r = await fetch('this://app/style.css'); return [r.status, r.headers.get('Content-Type'), (await r.text()).length];");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value[0], 200);
    EXPECT_EQ(o.value[1], "text/css");
    EXPECT_EQ(o.value[2], test::readFile(std::filesystem::path(__FILE__).parent_path() / "testdata" / "style.css").size());
    o = runScript("const r = await fetch('this://app/missing.png'); return r.status;");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, 404);
}

TEST_F(EngineWindowTest, LoadRefusesAddressesOutsideTheArchive) {
    EXPECT_FALSE(window->load(u"this://app/missing.htm"));
    EXPECT_FALSE(window->load(u"https://example.invalid/index.htm"));
    EXPECT_FALSE(window->load(u"this://app/"));
    EXPECT_TRUE(window->load(u"this://app/index.htm"));
}

TEST_F(EngineWindowTest, MessagePostedByAWorkerArrivesOnTheUiThreadWithItsPayload) {
    loadTestPage();
    std::thread::id handledOn;
    std::u16string text;
    int count = 0;
    window->setMessageHandlers(
        [&](const PostedMessage& m) {
            handledOn = std::this_thread::get_id();
            if (m.message == WM_PATCH_STATUS) text = *adoptTextPayload(m.lParam);
            window->callPage("showPosted", json::array({++count}));
        },
        [](const PostedMessage&) {});
    std::thread worker([channel = window->channel()] {
        ASSERT_TRUE(postTextMessage(*channel, WM_PATCH_STATUS, 0, u"Downloading 3 files"));
    });
    worker.join();
    ASSERT_TRUE(pumpUntil([&] { return count == 1; }));
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    EXPECT_EQ(text, u"Downloading 3 files");
    ASSERT_TRUE(pumpUntil([&] { return textOf("posted") == "1"; }));
}

TEST_F(EngineWindowTest, PostingAfterTheWindowClosedFailsAndQueuedPayloadsAreDiscarded) {
    loadTestPage();
    bool closed = false;
    int discarded = 0;
    window->setClosedHandler([&] { closed = true; });
    window->setMessageHandlers([](const PostedMessage&) { ADD_FAILURE() << "delivered after close"; },
                               [&](const PostedMessage& m) {
                                   ++discarded;
                                   (void)adoptTextPayload(m.lParam);
                               });
    ASSERT_TRUE(postTextMessage(*window->channel(), WM_PATCH_STATUS, 0, u"queued"));
    window->close();
    ASSERT_TRUE(pumpUntil([&] { return closed; }));
    EXPECT_FALSE(window->isAlive());
    EXPECT_EQ(discarded, 1);
    EXPECT_FALSE(window->postMessage(0x8005, 0, 0));
}

TEST_F(EngineWindowTest, ThePageCanCloseTheWindow) {
    bool closed = false;
    window->setClosedHandler([&] { closed = true; });
    loadTestPage();
    (void)runScript("await xcall('windowClose'); return 0;");
    ASSERT_TRUE(pumpUntil([&] { return closed; }));
}

TEST_F(EngineWindowTest, WindowControlsAreAnsweredByTheWindowItself) {
    std::vector<std::string> dispatched;
    window->setCallDispatcher([&](const std::string& name, const json&, const ScriptReply&) {
        dispatched.push_back(name);
        return true;
    });
    loadTestPage();
    const Outcome o = runScript("return [await xcall('windowDrag'), await xcall('windowMinimize')];");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, json::array({true, true}));
    EXPECT_EQ(dispatched, std::vector<std::string>{"greet"});  // only the page's own start-up call
}

TEST_F(EngineWindowTest, ScriptObjectMethodsGoThroughTheBridge) {
    std::vector<std::pair<std::string, json>> dispatched;
    window->setCallDispatcher([&](const std::string& name, const json& args, const ScriptReply& reply) {
        dispatched.emplace_back(name, args);
        reply.answer(name == "launcher.asset_url" ? json("file:///x") : json(true));
        return true;
    });
    loadTestPage();
    const Outcome o = runScript(
        "return [Object.keys(window.launcher).join(','), await launcher.asset_url('a\\\\b'),"
        " await launcher.select_server(3)];");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, json::array({"asset_url,play,reinstall,select_server", "file:///x", true}));
    ASSERT_GE(dispatched.size(), 3u);
    EXPECT_EQ(dispatched[dispatched.size() - 2].first, "launcher.asset_url");
    EXPECT_EQ(dispatched[dispatched.size() - 2].second, json::array({"a\\b"}));
    EXPECT_EQ(dispatched.back().first, "launcher.select_server");
    EXPECT_EQ(dispatched.back().second, json::array({3}));
}

TEST_F(EngineWindowTest, WindowIsUndecoratedFixedAndOfThePageSize) {
    loadTestPage();
    GtkWindow* native = window->nativeWindow();
    EXPECT_FALSE(gtk_window_get_decorated(native));
    EXPECT_FALSE(gtk_window_get_resizable(native));
    ASSERT_TRUE(pumpUntil([&] {
        int w = 0, h = 0;
        gtk_window_get_size(native, &w, &h);
        return w == 1130 && h == 710;
    }, 5));
    EXPECT_STREQ(gtk_window_get_title(native), "Engine Test Page");
}

TEST_F(EngineWindowTest, SnapshotOfTheLoadedPageIsWritten) {
    window->setCallDispatcher([](const std::string&, const json&, const ScriptReply& reply) {
        reply.answer("hello from native");
        return true;
    });
    loadTestPage();
    (void)callPage("showCall", json::array({"snapshot", 1}));
    ASSERT_TRUE(pumpUntil([&] { return textOf("answer") == "hello from native"; }));
    const std::filesystem::path file = std::filesystem::path(SNAPSHOT_DIR) / "engine_window.png";
    std::optional<bool> saved;
    window->saveSnapshotPng(file, [&](bool ok) { saved = ok; });
    ASSERT_TRUE(pumpUntil([&] { return saved.has_value(); }));
    ASSERT_TRUE(*saved);
    EXPECT_EQ(test::readFile(file).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

// The page may not reach anything but its own files, and what it tries is
// logged; the log is read from a temporary program folder.
class HostilePageTest : public EngineWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(LogFile::open(logFolder.path()));
        EngineWindowTest::SetUp();
    }
    void TearDown() override {
        EngineWindowTest::TearDown();
        LogFile::close();
    }
    int logLinesWith(const std::string& text) {
        std::istringstream in(test::readFile(logFolder / "launcher.log"));
        int count = 0;
        for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos ? 1 : 0;
        return count;
    }
    // Kills the page's web process (a descendant of this process) as the
    // system would; false when there is none.
    static bool killWebProcess() {
        std::vector<pid_t> found;
        std::vector<pid_t> parents{getpid()};
        while (!parents.empty()) {
            const pid_t parent = parents.back();
            parents.pop_back();
            for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
                const std::string name = entry.path().filename().string();
                if (name.find_first_not_of("0123456789") != std::string::npos) continue;
                const std::string stat = test::readFile(entry.path() / "stat");
                const auto open = stat.find('('), close = stat.rfind(')');
                if (open == std::string::npos || close == std::string::npos) continue;
                if (std::atoi(stat.c_str() + close + 4) != parent) continue;
                const pid_t pid = std::atoi(name.c_str());
                parents.push_back(pid);
                if (stat.compare(open + 1, 15, "WebKitWebProces") == 0) found.push_back(pid);
            }
        }
        for (const pid_t pid : found) kill(pid, SIGKILL);
        return !found.empty();
    }

    test::TempDir logFolder{"engine_hostile_page"};
};

TEST_F(HostilePageTest, RemoteScriptImageStyleFetchAndWebSocketAreRefusedAndLogged) {
    test::LoopbackServer server;
    server.respond("/x.js", 200, "window.remoteRan = true;", "text/javascript");
    server.respond("/x.png", 200, test::readFile(std::filesystem::path(__FILE__).parent_path() / ".." / "page" / "kst.png"),
                   "image/png");
    server.respond("/x.css", 200, "body { color: red; }", "text/css");
    loadTestPage();
    const std::string base = server.baseUrl();
    const Outcome o = runScript(
        "const host = '" + base + "';\n"
        // Settled by the load, by an error, or by the policy's refusal of
        // that address (after which the engine may send neither event).
        "const settle = (element, parent) => new Promise((resolve) => {\n"
        "  const address = element.src || element.href;\n"
        "  document.addEventListener('securitypolicyviolation', (e) => {\n"
        "    if (e.blockedURI === address) resolve('refused'); });\n"
        "  element.onload = () => resolve('loaded'); element.onerror = () => resolve('refused');\n"
        "  parent.appendChild(element);\n"
        "});\n"
        "const script = document.createElement('script'); script.src = host + '/x.js';\n"
        "const image = document.createElement('img'); image.src = host + '/x.png';\n"
        "const style = document.createElement('link'); style.rel = 'stylesheet'; style.href = host + '/x.css';\n"
        "const results = [await settle(script, document.head), await settle(image, document.body),\n"
        "                 await settle(style, document.head)];\n"
        "results.push(await fetch(host + '/x.css').then(() => 'loaded', () => 'refused'));\n"
        "results.push(await new Promise((resolve) => {\n"
        "  try { const ws = new WebSocket(host.replace('http', 'ws') + '/ws');\n"
        "        ws.onopen = () => resolve('loaded'); ws.onerror = () => resolve('refused'); }\n"
        "  catch (e) { resolve('refused'); }\n"
        "}));\n"
        "results.push(window.remoteRan === undefined ? 'did not run' : 'ran');\n"
        "return results;");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, json::array({"refused", "refused", "refused", "refused", "refused", "did not run"}));
    EXPECT_EQ(server.totalRequests(), 0u);
    // One line per refused load, naming the address and the rule.
    ASSERT_TRUE(pumpUntil([&] { return logLinesWith("WARNING: Refused a load by the page's policy") >= 5; }))
        << test::readFile(logFolder / "launcher.log");
    SCOPED_TRACE(test::readFile(logFolder / "launcher.log"));
    // The engine names the element forms of the rules ("script-src-elem").
    EXPECT_EQ(logLinesWith("(script-src-elem): " + base + "/x.js"), 1);
    EXPECT_EQ(logLinesWith("(img-src): " + base + "/x.png"), 1);
    EXPECT_EQ(logLinesWith("(style-src-elem): " + base + "/x.css"), 1);
    EXPECT_EQ(logLinesWith("(connect-src)"), 2);
}

TEST_F(HostilePageTest, NavigatingAwayIsRefusedAndLogged) {
    test::LoopbackServer server;
    server.respond("/", 200, "<p>elsewhere</p>", "text/html");
    loadTestPage();
    (void)runScript("location.href = '" + server.url("/") + "'; return 0;");
    ASSERT_TRUE(pumpUntil([&] { return logLinesWith("WARNING: Refused a navigation: " + server.url("/")) == 1; }));
    EXPECT_EQ(runScript("return location.href;").value, "this://app/index.htm");
    EXPECT_EQ(server.totalRequests(), 0u);
}

TEST_F(HostilePageTest, OversizedAndDeepCallsAreAnsweredWithAnErrorAndTheWindowLives) {
    std::vector<std::string> dispatched;
    window->setCallDispatcher([&](const std::string& name, const json&, const ScriptReply& reply) {
        dispatched.push_back(name);
        reply.answer(true);
        return true;
    });
    loadTestPage();
    const Outcome o = runScript(
        "const nest = (n) => { let v = 1; for (let i = 0; i < n; i++) v = [v]; return v; };\n"
        "const outcome = (p) => p.then(() => 'answered', (e) => String(e && e.message || e));\n"
        "const post = (call) => outcome(window.webkit.messageHandlers.xcall.postMessage(call));\n"
        "return [await outcome(xcall('echo', nest(100000))), await outcome(xcall('echo', 'x'.repeat(2 << 20))),\n"
        "        await post({name: 'echo', args: [nest(40)]}), await post({name: 'echo', args: ['x'.repeat(2 << 20)]}),\n"
        "        await outcome(xcall('echo', nest(20)))];");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value, json::array({"xcall: the call is too large or nested too deeply",
                                    "xcall: the call is too large or nested too deeply",
                                    "xcall: the call is nested too deeply", "xcall: the call is too large",
                                    "answered"}));
    EXPECT_EQ(dispatched, (std::vector<std::string>{"greet", "echo"}));
    EXPECT_EQ(logLinesWith("WARNING: Refused a page call that is"), 2);
}

TEST_F(HostilePageTest, AKilledWebProcessIsLoggedAndThePageReloadedAndCanStillClose) {
    int loads = 0;
    bool closed = false;
    window->setClosedHandler([&] { closed = true; });
    loadTestPage();
    window->setLoadFinishedHandler([&] { ++loads; });
    ASSERT_TRUE(killWebProcess());
    ASSERT_TRUE(pumpUntil([&] { return loads == 1; })) << "the page was not loaded again";
    EXPECT_EQ(logLinesWith("ERROR: The window's web process ended (crashed)"), 1);
    EXPECT_EQ(logLinesWith("Reloading the page this://app/index.htm"), 1);
    EXPECT_EQ(textOf("heading"), "Engine test page");
    (void)runScript("await xcall('windowClose'); return 0;");
    ASSERT_TRUE(pumpUntil([&] { return closed; }));
}

TEST_F(HostilePageTest, AWebProcessThatEndsAgainClosesTheWindowAfterAMessage) {
    std::vector<MessageBoxRequest> boxes;
    setMessageBoxHook([&](const MessageBoxRequest& box) -> std::optional<MessageBoxAnswer> {
        boxes.push_back(box);
        return std::nullopt;
    });
    int loads = 0;
    bool closed = false;
    window->setClosedHandler([&] { closed = true; });
    loadTestPage();
    window->setLoadFinishedHandler([&] { ++loads; });
    ASSERT_TRUE(killWebProcess());
    ASSERT_TRUE(pumpUntil([&] { return loads == 1; }));
    ASSERT_TRUE(killWebProcess());
    ASSERT_TRUE(pumpUntil([&] { return closed; }));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kPageStoppedText);
    EXPECT_EQ(boxes[0].buttons, MessageBoxButtons::Close);
    EXPECT_TRUE(boxes[0].owned);
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(logLinesWith("ERROR: The page stopped again; the window closes"), 1);
}

TEST_F(HostilePageTest, TheWindowManagersCloseEndsAWindowWhosePageIsDead) {
    bool closed = false;
    window->setClosedHandler([&] { closed = true; });
    loadTestPage();
    ASSERT_TRUE(killWebProcess());
    // What the window manager sends for its close control.
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window->nativeWindow()))));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
    ASSERT_TRUE(pumpUntil([&] { return closed; }));
    EXPECT_FALSE(window->isAlive());
}

class MessageBoxTest : public EngineWindowTest {
protected:
    // Finds the open message dialog, checks it, and presses Enter on it.
    static gboolean inspectAndPressEnter(gpointer data) {
        auto* self = static_cast<MessageBoxTest*>(data);
        GList* windows = gtk_window_list_toplevels();
        for (GList* w = windows; w != nullptr; w = w->next) {
            if (!GTK_IS_MESSAGE_DIALOG(w->data) || !gtk_widget_get_visible(GTK_WIDGET(w->data))) continue;
            GtkWindow* dialog = GTK_WINDOW(w->data);
            self->title = gtk_window_get_title(dialog);
            gchar* text = nullptr;
            GtkMessageType type{};
            g_object_get(dialog, "text", &text, "message-type", &type, nullptr);
            self->text = text;
            self->type = type;
            self->owner = gtk_window_get_transient_for(dialog);
            g_free(text);
            GtkWidget* no = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_NO);
            GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
            self->defaultIsNo = no != nullptr && gtk_window_get_default_widget(dialog) == no;
            self->focusIsNo = no != nullptr && gtk_window_get_focus(dialog) == no;
            self->defaultIsOk = ok != nullptr && gtk_window_get_default_widget(dialog) == ok;
            // Enter activates the default (or the focused) button.
            if (!gtk_window_activate_default(dialog)) gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_NONE);
            g_list_free(windows);
            return G_SOURCE_REMOVE;
        }
        g_list_free(windows);
        return G_SOURCE_CONTINUE;
    }

    std::string title;
    std::string text;
    GtkMessageType type{};
    GtkWindow* owner = nullptr;
    bool defaultIsNo = false;
    bool focusIsNo = false;
    bool defaultIsOk = false;
};

TEST_F(MessageBoxTest, YesNoBoxDefaultsToNoAndIsOwnedByTheWindow) {
    loadTestPage();
    g_timeout_add(100, &MessageBoxTest::inspectAndPressEnter, this);
    const MessageBoxAnswer answer = showMessageBox(window.get(), u"Delete the installation \"Copy\"?",
                                                   u"Delete Installation", MessageBoxIcon::Question,
                                                   MessageBoxButtons::YesNo);
    EXPECT_EQ(answer, MessageBoxAnswer::No);
    EXPECT_TRUE(defaultIsNo);
    EXPECT_TRUE(focusIsNo);
    EXPECT_EQ(title, "Delete Installation");
    EXPECT_EQ(text, "Delete the installation \"Copy\"?");
    EXPECT_EQ(type, GTK_MESSAGE_QUESTION);
    EXPECT_EQ(owner, window->nativeWindow());
}

TEST_F(MessageBoxTest, StartupBoxHasNoOwnerAndAnswersOk) {
    g_timeout_add(100, &MessageBoxTest::inspectAndPressEnter, this);
    EXPECT_EQ(showMessageBox(nullptr, u"Could not load UI:\nthis://app/main.htm", u"Launcher", MessageBoxIcon::Error),
              MessageBoxAnswer::Ok);
    EXPECT_EQ(title, "Launcher");
    EXPECT_EQ(text, "Could not load UI:\nthis://app/main.htm");
    EXPECT_EQ(type, GTK_MESSAGE_ERROR);
    EXPECT_TRUE(defaultIsOk);
    EXPECT_EQ(owner, nullptr);
}

TEST_F(MessageBoxTest, HookAnswersInsteadOfShowing) {
    std::optional<MessageBoxRequest> seen;
    setMessageBoxHook([&](const MessageBoxRequest& r) -> std::optional<MessageBoxAnswer> {
        seen = r;
        return r.buttons == MessageBoxButtons::YesNo ? std::optional(MessageBoxAnswer::Yes) : std::nullopt;
    });
    EXPECT_EQ(showMessageBox(window.get(), u"Reinstall?", u"Reinstall", MessageBoxIcon::Question, MessageBoxButtons::YesNo),
              MessageBoxAnswer::Yes);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->owned);
    EXPECT_EQ(seen->caption, u"Reinstall");
    EXPECT_EQ(showMessageBox(nullptr, u"x", u"Launcher", MessageBoxIcon::Warning), MessageBoxAnswer::Ok);
    EXPECT_FALSE(seen->owned);
    EXPECT_EQ(seen->icon, MessageBoxIcon::Warning);
}

TEST(EngineVersionCheck, RuntimeMustBeAtLeastTheBuildsMinimum) {
    EXPECT_TRUE(engineVersionSupported({2, 40, 0}, {2, 40, 0}));
    EXPECT_TRUE(engineVersionSupported({2, 50, 6}, {2, 40, 0}));
    EXPECT_TRUE(engineVersionSupported({3, 0, 0}, {2, 40, 0}));
    EXPECT_FALSE(engineVersionSupported({2, 38, 9}, {2, 40, 0}));
    EXPECT_FALSE(engineVersionSupported({2, 40, 0}, {2, 40, 1}));
    EXPECT_TRUE(engineVersionSupported(engineRuntimeVersion()));
}

}  // namespace
}  // namespace mendly
