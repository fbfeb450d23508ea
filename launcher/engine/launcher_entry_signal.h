#pragma once
// The desktop's launcher-entry signal on the session bus (interface
// com.canonical.Unity.LauncherEntry, signal Update, sent from kObjectPath):
// docks and task bars that listen show a progress bar or an urgent mark on
// the icon of the desktop entry it names. The bus is looked up once, on the
// first send, and only when one is already there; without a session bus
// nothing is sent for the rest of the run. The last signal reaches the bus
// before the sender goes away. UI thread only.
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace mendly {

class LauncherEntrySignal {
public:
    // `appUri` names the desktop entry, e.g. "application://launcher.desktop".
    explicit LauncherEntrySignal(std::string appUri);
    ~LauncherEntrySignal();
    LauncherEntrySignal(const LauncherEntrySignal&) = delete;
    LauncherEntrySignal& operator=(const LauncherEntrySignal&) = delete;

    // progress in 0..1; visible shows the bar; urgent asks for attention.
    void send(double progress, bool visible, bool urgent);

    static constexpr const char* kObjectPath = "/com/kaltris/launcher/progress";

private:
    GDBusConnection* connection();

    std::string appUri_;
    GDBusConnection* connection_ = nullptr;
    bool tried_ = false;
};

}  // namespace mendly
