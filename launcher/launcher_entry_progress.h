#pragma once
// TaskbarProgress over the desktop's launcher-entry signal on the session bus
// (interface com.canonical.Unity.LauncherEntry, signal Update): docks and task
// bars that listen show a progress bar or an urgent mark on the launcher's
// icon. The bus is looked up once, on first use; without a session bus the
// indicator stays absent for the rest of the run. UI thread only.
#include <string>

#include "model/taskbar_progress.h"

typedef struct _GDBusConnection GDBusConnection;

namespace mendly {

class LauncherEntryProgress : public TaskbarProgress {
public:
    // `appUri` names the desktop entry the signal is about, e.g.
    // "application://launcher.desktop".
    explicit LauncherEntryProgress(std::string appUri);
    ~LauncherEntryProgress() override;
    LauncherEntryProgress(const LauncherEntryProgress&) = delete;
    LauncherEntryProgress& operator=(const LauncherEntryProgress&) = delete;

    void off() override;
    void error() override;
    void busy() override;
    void value(std::int64_t done, std::int64_t total) override;

    // The object path the signal is sent from.
    static constexpr const char* kObjectPath = "/com/kaltris/launcher/progress";

private:
    // progress in 0..1; visible shows the bar; urgent asks for attention.
    void send(double progress, bool visible, bool urgent);
    GDBusConnection* connection();

    std::string appUri_;
    GDBusConnection* connection_ = nullptr;
    bool tried_ = false;
};

}  // namespace mendly
