// launcher: the GUI launcher's program entry.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "duplicate_prompt_dialog.h"
#include "engine_runtime.h"
#include "launcher_app.h"
#include "log/text.h"
#include "message_box.h"
#include "window_capture.h"
#include "platform/process.h"

namespace {

#ifdef MENDLY_LAUNCHER_TEST_OPTIONS
// Test builds only (see also test_hooks.h):
// "--test-answer-dialogs" answers every message box with its default button
// instead of showing it, and writes it to the error stream as
// "message box: <caption> | <icon> | <text>" (line breaks in the text as "\n");
// "--test-answer-yes" answers Yes/No boxes with Yes instead.
// "--test-duplicate-names A|B|..." drives the real duplicate prompt: it prints
// "duplicate prompt: <name field> | <description field>" when the prompt
// opens, types A and presses OK, types B when the prompt stayed open, and so
// on; Cancel after the last one.
// "--test-show-dialogs DIR" shows every message box for real; once it is on
// the screen it is written to DIR/box-N.png (N = 1, 2, ...), described on
// stderr as "shown box: <caption> | icon <name or none> | dark <0|1> |
// luminance <mean 0..255>" and answered with its default button.
std::string lineForStderr(std::string text) {
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
        text.replace(at, 1, "\\n");
    return text;
}

void driveDuplicatePromptForTests(int argc, char** argv) {
    std::vector<std::string> names;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--test-duplicate-names") != 0) continue;
        std::string list = argv[i + 1];
        for (std::size_t start = 0;;) {
            const auto bar = list.find('|', start);
            names.push_back(list.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
    }
    if (names.empty()) return;
    mendly::setDuplicatePromptDriver(
        [names](int attempt, const std::string& name, const std::string& description) -> std::optional<std::string> {
            if (attempt == 0) std::fprintf(stderr, "duplicate prompt: %s | %s\n", name.c_str(), description.c_str());
            std::fflush(stderr);
            if (attempt < 0 || static_cast<std::size_t>(attempt) >= names.size()) return std::nullopt;
            return names[static_cast<std::size_t>(attempt)];
        });
}

void showDialogsForTests(int argc, char** argv) {
    std::filesystem::path folder;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--test-show-dialogs") == 0) folder = argv[i + 1];
    if (folder.empty()) return;
    mendly::setMessageBoxObserver([folder, count = 0](const mendly::ShownMessageBox& box) mutable {
        const auto file = folder / ("box-" + std::to_string(++count) + ".png");
        (void)mendly::saveWindowPng(box.window, file);
        std::fprintf(stderr, "shown box: %s | icon %s | dark %d | luminance %.0f\n", mendly::toUtf8(box.caption).c_str(),
                     box.iconName.empty() ? "none" : box.iconName.c_str(), box.darkTheme ? 1 : 0, box.meanLuminance);
        std::fflush(stderr);
    });
}

void answerDialogsForTests(int argc, char** argv) {
    bool wanted = false;
    bool yes = false;
    for (int i = 1; i < argc; ++i) {
        wanted = wanted || std::strcmp(argv[i], "--test-answer-dialogs") == 0;
        yes = yes || std::strcmp(argv[i], "--test-answer-yes") == 0;
    }
    if (!wanted) return;
    mendly::setMessageBoxHook([yes](const mendly::MessageBoxRequest& box) -> std::optional<mendly::MessageBoxAnswer> {
        static constexpr const char* icons[] = {"none", "info", "warning", "error", "question"};
        std::fprintf(stderr, "message box: %s | %s | %s\n", mendly::toUtf8(box.caption).c_str(),
                     icons[static_cast<int>(box.icon)], lineForStderr(mendly::toUtf8(box.text)).c_str());
        std::fflush(stderr);
        if (yes && box.buttons == mendly::MessageBoxButtons::YesNo) return mendly::MessageBoxAnswer::Yes;
        return std::nullopt;
    });
}
#endif

}  // namespace

int main(int argc, char** argv) {
    mendly::platform::ensureStandardStreams();
    if (!mendly::initEngine(argc, argv)) {
        std::fprintf(stderr, "launcher: cannot open a display\n");
        return -1;
    }
#ifdef MENDLY_LAUNCHER_TEST_OPTIONS
    answerDialogsForTests(argc, argv);
    showDialogsForTests(argc, argv);
    driveDuplicatePromptForTests(argc, argv);
#endif
    if (!mendly::engineVersionSupported(mendly::engineRuntimeVersion())) {
        mendly::showMessageBox(nullptr, u"Sciter version mismatch, quiting", u"Error", mendly::MessageBoxIcon::None);
        return -1;
    }

    mendly::LauncherTestHooks testHooks;
#ifdef MENDLY_LAUNCHER_TEST_OPTIONS
    std::vector<std::string> args(argv + 1, argv + argc);
    testHooks = mendly::takeTestHooks(args);
#endif
    static mendly::LauncherState state;
    (void)mendly::runLauncher(state, mendly::embeddedPageArchive(), testHooks);
    return 0;
}
