#pragma once
// The page's Add server: a server from a name, a patch address, an optional
// signing key and an optional folder, or from a server file an operator
// handed out (server_file.h) and an optional folder, checked the way the
// console's --add-server checks it (its manifest fetched and judged as an
// update run would, server_addition.h) before customlist.json is written.
// The file is read and the check runs on the host's worker pool; the answer,
// and the catalog reload that shows and selects the new entry, come on the UI
// thread.
//
// Thread: the UI thread only, like patch_tasks.h.
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/page_host.h"
#include "catalog/server_addition.h"
#include "model/launcher_state.h"

namespace mendly {

// One addition at a time: two at once would both read customlist.json and
// the second write would lose the first's entry.
inline constexpr char16_t kAddServerInProgress[] = u"Another server is being checked. Wait for it to finish.";
inline constexpr char16_t kAddServerFailed[] = u"The server could not be added. See launcher.log.";
inline constexpr char16_t kAddServerNoWorker[] = u"The launcher could not start the check of this server. Try again.";
inline constexpr char16_t kServerFileOrFields[] =
    u"Give either a server file or a name and a patch address, not both.";
inline constexpr char16_t kServerFileNotFullPath[] = u"The server file must be given as a full path.";

// The page's argument {"name","address","key","folder"} or {"file","folder"}:
// strings (anything else counts as empty); a folder is taken as the player
// wrote it.
ServerRequest serverRequestFromPage(const nlohmann::json& value);
// The argument's "file": a server file's path as the player wrote it; empty: none.
std::u16string serverFileFromPage(const nlohmann::json& value);

// The answer to the page: {"added":bool,"name":entry name,"outcome":one of
// "added","name","address","key","folder","executable","check","list","written",
// or "file" (the server file is missing, unreadable or not one, or was given
// with a name, address or key), "sentence":the sentence to show ("" when added)}.
nlohmann::json serverAdditionJson(const ServerAdditionResult& result);

using ServerCheck = std::function<std::u16string(const ServerEntry& entry, const TrustedKeys& trust)>;

// Starts the addition; `answer` receives serverAdditionJson later on the UI
// thread, or at once when it is refused before any check (another addition
// runs, no worker). After an addition the catalog is reloaded (entries are
// appended, so a running task's index stays) and the new entry selected
// unless a task runs.
// `check` is patchAddressProblem outside tests.
void addServerFromPage(LauncherState& state, PageHost& host, const nlohmann::json& request,
                       std::function<void(const nlohmann::json&)> answer, ServerCheck check);

}  // namespace mendly
