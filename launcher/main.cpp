// launcher: the GUI launcher's program entry.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine_runtime.h"
#include "launcher_app.h"
#include "log/text.h"
#include "message_box.h"

namespace {

#ifdef MENDLY_LAUNCHER_TEST_OPTIONS
// Test builds only (see also test_hooks.h): "--test-answer-dialogs" answers every message box with its
// default button instead of showing it, and writes it to the error stream as
// "message box: <caption> | <icon> | <text>" (line breaks in the text as "\n").
void answerDialogsForTests(int argc, char** argv) {
    bool wanted = false;
    for (int i = 1; i < argc; ++i) wanted = wanted || std::strcmp(argv[i], "--test-answer-dialogs") == 0;
    if (!wanted) return;
    mendly::setMessageBoxHook([](const mendly::MessageBoxRequest& box) -> std::optional<mendly::MessageBoxAnswer> {
        static constexpr const char* icons[] = {"none", "info", "warning", "error", "question"};
        std::string text = mendly::toUtf8(box.text);
        for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
            text.replace(at, 1, "\\n");
        std::fprintf(stderr, "message box: %s | %s | %s\n", mendly::toUtf8(box.caption).c_str(),
                     icons[static_cast<int>(box.icon)], text.c_str());
        std::fflush(stderr);
        return std::nullopt;
    });
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (!mendly::initEngine(argc, argv)) {
        std::fprintf(stderr, "launcher: cannot open a display\n");
        return -1;
    }
#ifdef MENDLY_LAUNCHER_TEST_OPTIONS
    answerDialogsForTests(argc, argv);
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
