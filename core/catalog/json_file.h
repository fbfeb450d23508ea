#pragma once
// Writing a JSON document to a file in the form customlist.json is kept in.
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace mendly {

// Writes `document` as UTF-8 without byte-order mark: 2-space indentation,
// members in byte order of their names, non-ASCII characters unescaped, LF
// line breaks, no line feed after the closing brace. True when the whole
// document was written.
//
// The text replaces the file through platform::replaceWholeFile: a write that
// fails half-way (disk full) leaves the old file as it was, a link is
// followed to the file it names, and a read-only file is not replaced
// (false). A document holding invalid UTF-8 is refused (false) and nothing is
// touched.
[[nodiscard]] bool writeJsonFile(const std::filesystem::path& path, const nlohmann::json& document);

// The exact bytes writeJsonFile writes, or nothing when the document holds
// text that is not valid UTF-8.
std::optional<std::string> jsonFileText(const nlohmann::json& document);

}  // namespace mendly
