#pragma once
// The native functions the page calls with xcall(name, ...args). Names match
// exactly (letter case counts) together with the argument count; any other
// call is reported as not handled.
//
// Thread: the UI thread. Answers are given at once, except fetchRssFeed,
// whose download runs on the host's worker pool (PageHost::runDetached); its
// answer arrives later, on the UI thread, at most kFeedDeadline after the
// call. addServer(request) is answered the same way once the server's
// address was checked (add_server_action.h), at most kPatchAddressCheckTime
// after the call. When the pool refuses the work the feed is answered at once with the
// error kFeedsBusy or kFeedsWithoutThread.
#include <filesystem>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/page_host.h"
#include "model/launcher_state.h"
#include "model/shortcuts.h"

namespace mendly {

inline constexpr char16_t kFeedsBusy[] = u"News unavailable (too many news requests at once)";
inline constexpr char16_t kFeedsWithoutThread[] = u"News unavailable (the launcher could not start a thread for it)";

// The window's script object "launcher" (asset_url, play, reinstall,
// select_server) reaches dispatch() as "launcher.<method>".
//
// asset_url: "file://" + programFolder + "/" + the path (any value, as text),
// every backslash turned into '/'.
std::string launcherAssetUrl(const std::filesystem::path& programFolder, const nlohmann::json& path);

class ScriptBridge {
public:
    using Answer = std::function<void(const nlohmann::json&)>;

    // `state` may be null (the answers of a frame without a state); host and
    // opener must outlive the bridge.
    ScriptBridge(LauncherState* state, PageHost& host, ShellOpener& opener)
        : state_(state), host_(host), opener_(opener) {}

    void setState(LauncherState* state) { state_ = state; }

    // True when the call was taken; `answer` then runs exactly once, now or
    // later. False: not handled, `answer` is not called.
    bool dispatch(const std::string& name, const nlohmann::json& args, const Answer& answer);

private:
    LauncherState* state_;
    PageHost& host_;
    ShellOpener& opener_;
};

// openUrl's guard: only http and https addresses are handed to the shell (a
// page must not open local files or programs through it).
bool isWebAddress(std::u16string_view url);

}  // namespace mendly
