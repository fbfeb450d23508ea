#include "tasks/add_server_action.h"

#include <exception>
#include <optional>
#include <string_view>

#include "bridge/launcher_messages.h"
#include "bridge/page_refresh.h"
#include "catalog/patch_addresses.h"
#include "catalog/path_text.h"
#include "catalog/server_file.h"
#include "checks/background_checks.h"
#include "log/log_file.h"
#include "log/text.h"

namespace mendly {
namespace {

// An addition's check is running (UI thread only).
bool g_adding = false;

std::u16string textField(const nlohmann::json& value, std::string_view key) {
    if (!value.is_object()) return {};
    const auto found = value.find(key);
    if (found == value.end() || !found->is_string()) return {};
    return toWide(found->get_ref<const std::string&>());
}

std::string_view outcomeName(ServerAddition outcome) {
    switch (outcome) {
        case ServerAddition::Added: return "added";
        case ServerAddition::NameRefused: return "name";
        case ServerAddition::AddressRefused: return "address";
        case ServerAddition::KeyRefused: return "key";
        case ServerAddition::FolderRefused: return "folder";
        case ServerAddition::ExecutableRefused: return "executable";
        case ServerAddition::CheckFailed: return "check";
        case ServerAddition::ListRefused: return "list";
        case ServerAddition::ListNotWritten: return "written";
    }
    return "check";
}

nlohmann::json refusedAtOnce(std::u16string_view sentence) {
    ServerAdditionResult result;
    result.outcome = ServerAddition::CheckFailed;
    result.sentence = std::u16string(sentence);
    return serverAdditionJson(result);
}

nlohmann::json fileRefused(std::u16string_view sentence) {
    nlohmann::json answer = refusedAtOnce(sentence);
    answer["outcome"] = "file";
    return answer;
}

// The new entry shown and selected; its name is found in the reloaded catalog.
void showAdded(LauncherState& state, PageHost& host, const std::string& name) {
    reloadCatalog(state, host);
    for (std::size_t i = 0; i < state.catalog.entries.size(); ++i)
        if (state.catalog.entries[i].name == name) (void)selectEntry(state, host, static_cast<std::int32_t>(i));
    (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
    refreshPage(&state, host);
}

// What the page asked for, copied for the worker.
struct PageAddition {
    ServerRequest fields;
    std::u16string file;
};

// The addition of the server file's entry, placed in the player's folder if
// one was given, as the console's --add-server FILE makes it. Nothing with
// the sentence in `refusal` when the file cannot be taken.
std::optional<ServerAdditionResult> addFromFile(const std::filesystem::path& programFolder,
                                                const ServerCatalog& catalog, const PageAddition& ask,
                                                const ServerCheck& check, std::u16string& refusal) {
    if (!trimWide(ask.fields.name).empty() || !trimWide(ask.fields.address).empty() ||
        !trimWide(ask.fields.key).empty()) {
        refusal = kServerFileOrFields;
        return std::nullopt;
    }
    const std::filesystem::path file = widePath(trimWide(ask.file));
    if (!file.is_absolute()) {
        refusal = kServerFileNotFullPath;
        return std::nullopt;
    }
    std::optional<ServerEntry> entry = readServerFile(file, refusal);
    if (!entry) return std::nullopt;
    if (!ask.fields.folder.empty()) entry->installPath = toUtf8(pathText(ask.fields.folder));
    return addServerEntry(programFolder, catalog, *entry, check);
}

// The worker's part: the addition's answer; what was added is logged.
nlohmann::json addOnWorker(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                           const PageAddition& ask, const ServerCheck& check) {
    try {
        ServerAdditionResult result;
        if (trimWide(ask.file).empty()) {
            result = addServer(programFolder, catalog, ask.fields, check);
        } else {
            std::u16string refusal;
            auto fromFile = addFromFile(programFolder, catalog, ask, check, refusal);
            if (!fromFile) return fileRefused(refusal);
            result = std::move(*fromFile);
        }
        if (result.outcome == ServerAddition::Added)
            LogFile::write(u"Added server: " + toWide(result.entry.name) + u" (" + manifestUrl(result.entry) + u")");
        return serverAdditionJson(result);
    } catch (const std::exception& error) {
        LogFile::write(u"ERROR: Adding a server failed \u2014 " + toWide(error.what()));
        return refusedAtOnce(kAddServerFailed);
    }
}

}  // namespace

ServerRequest serverRequestFromPage(const nlohmann::json& value) {
    const std::u16string folder = textField(value, "folder");
    return ServerRequest{textField(value, "name"), textField(value, "address"), textField(value, "key"),
                         folder.empty() ? std::filesystem::path() : widePath(folder)};
}

std::u16string serverFileFromPage(const nlohmann::json& value) { return textField(value, "file"); }

nlohmann::json serverAdditionJson(const ServerAdditionResult& result) {
    nlohmann::json answer = nlohmann::json::object();
    answer["added"] = result.outcome == ServerAddition::Added;
    answer["name"] = result.entry.name;
    answer["outcome"] = outcomeName(result.outcome);
    answer["sentence"] = toUtf8(result.sentence);
    return answer;
}

void addServerFromPage(LauncherState& state, PageHost& host, const nlohmann::json& request,
                       std::function<void(const nlohmann::json&)> answer, ServerCheck check) {
    if (g_adding) {
        answer(refusedAtOnce(kAddServerInProgress));
        return;
    }
    // The worker gets copies: the state stays the UI thread's.
    auto work = [folder = state.programFolder, catalog = state.catalog,
                 ask = PageAddition{serverRequestFromPage(request), serverFileFromPage(request)},
                 check = std::move(check)] { return addOnWorker(folder, catalog, ask, check); };
    auto done = [&state, &host, answer](nlohmann::json result) {
        g_adding = false;
        if (!result.is_object()) result = refusedAtOnce(kAddServerFailed);  // the work threw
        if (result["added"] == true) showAdded(state, host, result["name"].get<std::string>());
        answer(result);
    };
    g_adding = true;
    switch (host.runDetached({}, std::move(work), std::move(done))) {
        case PageHost::DetachedStart::Accepted: return;
        case PageHost::DetachedStart::Busy:
        case PageHost::DetachedStart::NoThread:
            g_adding = false;
            answer(refusedAtOnce(kAddServerNoWorker));
            return;
    }
}

}  // namespace mendly
