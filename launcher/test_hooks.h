#pragma once
// Test builds only (MENDLY_LAUNCHER_TEST_OPTIONS): lets a program test drive
// the real launcher window.
//
// --test-script FILE   JavaScript steps, separated by lines holding only
//                      "---"; each step is the body of an async function run
//                      in the page after it has loaded and painted. Printed
//                      on stdout as "step N: <JSON result>" or
//                      "step N failed: <error>". A step that is one line
//                      "#snapshot PATH" writes the window's page as PNG
//                      instead ("step N: snapshot written"); a step that is
//                      "#threads" prints "step N: threads <threads of the
//                      launcher process now>"; a step "#keys Tab Return ..."
//                      presses those keys (GDK key names) on the window as
//                      the keyboard would ("step N: keys sent"); the page
//                      sees them a moment later, so the next step waits for
//                      what they do.
// --test-snapshot PATH the window's page written as PNG after the steps.
// --test-startup-frame PATH  the window's first frame on the screen (before
//                      the page may have painted) written as PNG, and
//                      "test: startup-frame-luminance <0..255> ms <ms from
//                      process start>" printed; with --test-script or
//                      --test-snapshot both wait until the start-up figures
//                      below have been taken, so as not to slow them.
// With --test-script or --test-snapshot the launcher first prints
// "test: first-frame-ms <ms from process start to the first painted frame of
// the loaded page>", then "test: tiles-frame-ms <ms from process start to the
// first painted frame that shows server tiles>" ("none" when no tile came
// within 20 s), "test: tiles-drawn-ms <ms from process start to the first
// frame the window drew after the page put the tiles in>" (the moment a
// player sees them; the figures above also count the measuring's own
// waits) and "test: rss-kib <sum of VmRSS of the launcher and its
// descendant processes> processes <count>" (and the same as
// "test: rss-kib-after-steps" once the steps have run), and closes its
// window when done.
#include <filesystem>
#include <string>
#include <vector>

namespace mendly {

class EngineWindow;

struct LauncherTestHooks {
    std::filesystem::path script;
    std::filesystem::path snapshot;
    std::filesystem::path startupFrame;

    bool active() const { return !script.empty() || !snapshot.empty(); }
};

// Takes the test options out of the arguments (the others stay).
LauncherTestHooks takeTestHooks(std::vector<std::string>& args);

// The steps of a script text.
std::vector<std::string> splitTestSteps(const std::string& script);

// UI thread: runs the hooks once the page has loaded; closes the window at the end.
void runTestHooks(EngineWindow& window, const LauncherTestHooks& hooks);

// UI thread, before the window is shown: arranges for --test-startup-frame
// and records when the window draws its frames.
void watchStartupFrame(EngineWindow& window, const LauncherTestHooks& hooks);

}  // namespace mendly
