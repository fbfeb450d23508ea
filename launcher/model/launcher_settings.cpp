#include "model/launcher_settings.h"

#include <array>
#include <fstream>
#include <iterator>
#include <string_view>

#include <nlohmann/json.hpp>

#include "catalog/json_file.h"
#include "log/text.h"
#include "net/rate_limit.h"

namespace mendly {
namespace {

struct ModeName {
    PatchMode mode;
    std::string_view name;
};
constexpr std::array<ModeName, 4> kModeNames = {{{PatchMode::Update, "update"},
                                                 {PatchMode::Install, "install"},
                                                 {PatchMode::ResetIni, "reset-ini"},
                                                 {PatchMode::Verify, "verify"}}};

std::optional<PatchMode> modeNamed(std::string_view name) {
    for (const ModeName& entry : kModeNames)
        if (entry.name == name) return entry.mode;
    return std::nullopt;
}

std::string_view nameOf(PatchMode mode) {
    for (const ModeName& entry : kModeNames)
        if (entry.mode == mode) return entry.name;
    return "install";
}

std::optional<PausedDownload> readPaused(const nlohmann::json& value) {
    if (!value.is_object()) return std::nullopt;
    const auto name = value.find("name");
    const auto mode = value.find("mode");
    if (name == value.end() || !name->is_string() || name->get_ref<const std::string&>().empty()) return std::nullopt;
    if (mode == value.end() || !mode->is_string()) return std::nullopt;
    const auto parsed = modeNamed(mode->get_ref<const std::string&>());
    if (!parsed) return std::nullopt;
    const auto launch = value.find("launchAfter");
    return PausedDownload{name->get<std::string>(), *parsed,
                          launch != value.end() && launch->is_boolean() && launch->get<bool>()};
}

}  // namespace

LauncherSettings loadLauncherSettings(const std::filesystem::path& programFolder) {
    LauncherSettings settings;
    std::ifstream in(programFolder / kLauncherSettingsFileName, std::ios::binary);
    if (!in) return settings;
    // A settings file is a few dozen bytes; anything past this is not ours.
    constexpr std::size_t kMaxBytes = 64 * 1024;
    std::string text(kMaxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxBytes) return settings;
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (!document.is_object()) return settings;
    if (const auto limit = document.find("downloadLimit"); limit != document.end() && limit->is_string())
        settings.downloadLimit = parseRateLimit(toWide(limit->get_ref<const std::string&>())).value_or(0);
    if (const auto paused = document.find("pausedDownload"); paused != document.end())
        settings.paused = readPaused(*paused);
    return settings;
}

bool saveLauncherSettings(const std::filesystem::path& programFolder, const LauncherSettings& settings) {
    nlohmann::json document = nlohmann::json::object();
    document["downloadLimit"] = settings.downloadLimit > 0 ? toUtf8(formatRateLimit(settings.downloadLimit)) : "";
    if (settings.paused) {
        document["pausedDownload"] = {{"name", settings.paused->name},
                                      {"mode", std::string(nameOf(settings.paused->mode))},
                                      {"launchAfter", settings.paused->launchAfter}};
    }
    return writeJsonFile(programFolder / kLauncherSettingsFileName, document);
}

}  // namespace mendly
