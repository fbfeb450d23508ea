#pragma once
// The process-wide side of the page engine (GTK 3 + WebKitGTK): start-up, the
// runtime version check and the main loop. All on the UI thread, which is the
// thread that called initEngine.
#include <string>
#include <vector>

namespace mendly {

struct EngineVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned micro = 0;
};

// The oldest WebKitGTK runtime with every service the launcher uses (script
// message handlers with a later reply, async function calls into the page,
// scheme responses with a status code).
inline constexpr EngineVersion kMinimumEngineVersion{2, 40, 0};

bool engineVersionSupported(EngineVersion runtime, EngineVersion minimum = kMinimumEngineVersion);
EngineVersion engineRuntimeVersion();
std::string engineVersionText(EngineVersion version);  // "2.50.6"

// Opens the display and initialises GTK with the program's arguments (GTK
// removes the ones it understands), and asks for the dark variant of the
// theme, so that message boxes and dialogs match the dark page. False when
// there is no display.
[[nodiscard]] bool initEngine(int& argc, char**& argv);

// The environment variables initEngine set for the engine and its page
// processes only: programs the launcher starts are started without them.
std::vector<std::string> engineOnlyVariables();

// Runs the main loop until quitEngineLoop() is called (the main window's
// closing calls it).
void runEngineLoop();
void quitEngineLoop();

}  // namespace mendly
