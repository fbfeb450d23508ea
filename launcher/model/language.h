#pragma once
// The game's language setting: ini/language.ini inside an installation
// folder. There is no state in memory; every read goes to the file.
// UI thread only (the launcher calls these from page calls).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "model/notice.h"

namespace mendly {

inline constexpr char kDefaultLanguage[] = "en";

// Exactly "en", "de", "es" or "fr" (lower case).
bool isSupportedLanguage(std::string_view code);

// installFolder/ini/language.ini
std::filesystem::path languageFilePath(const std::filesystem::path& installFolder);

// The bytes the launcher writes: "[INI]\r\nLANGUAGE=" + code + "\r\n".
std::string languageFileText(std::string_view code);

// The language named in the text of a language.ini: the first line of the
// form key=value whose key (trailing white space removed) is "LANGUAGE" in any
// ASCII case and whose value (trimmed) is a supported code; "en" when there is
// none. Leading white space before the key does not match.
std::string languageFromIniText(std::string_view text);

// languageFromIniText of installFolder/ini/language.ini; "en" when the file
// cannot be read.
std::string readLanguage(const std::filesystem::path& installFolder);

// Writes the language file of an installation. Creates programFolder/clients
// and installFolder (one level each, errors ignored), then installFolder/ini.
// The new text goes to a temporary file in the ini folder that then replaces
// language.ini in one rename, so a failed write leaves the old file as it was.
// `code` must be supported (the caller checks). On failure the error is
// logged and the returned Notice (caption "Language") is to be shown.
[[nodiscard]] std::optional<Notice> writeLanguage(const std::filesystem::path& programFolder,
                                                  const std::filesystem::path& installFolder,
                                                  std::string_view code);

}  // namespace mendly
