#pragma once
// TaskbarProgress over the desktop's launcher-entry signal (the session bus
// side: engine/launcher_entry_signal.h): docks and task bars that listen show
// a progress bar or an urgent mark on the launcher's icon. Without a session
// bus the indicator stays absent for the rest of the run. UI thread only.
#include <string>

#include "launcher_entry_signal.h"
#include "model/taskbar_progress.h"

namespace mendly {

class LauncherEntryProgress : public TaskbarProgress {
public:
    // `appUri` names the desktop entry the signal is about, e.g.
    // "application://launcher.desktop".
    explicit LauncherEntryProgress(std::string appUri) : signal_(std::move(appUri)) {}

    void off() override;
    void error() override;
    void busy() override;
    void value(std::int64_t done, std::int64_t total) override;

    // The object path the signal is sent from.
    static constexpr const char* kObjectPath = LauncherEntrySignal::kObjectPath;

private:
    LauncherEntrySignal signal_;
};

}  // namespace mendly
