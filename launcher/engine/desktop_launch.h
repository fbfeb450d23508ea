#pragma once
// Starting things on the desktop through GIO and GLib: an address or a file
// with its default handler, a program found on PATH, a program started
// detached. What is started gets the player's environment, without the
// settings the launcher made for its own window (engineOnlyVariables).
// UI thread only; nothing here waits for what it started.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace mendly {

// Opens `uri` with the desktop's default handler for it.
bool openWithDefaultHandler(const std::string& uri);
// Opens a file or folder with the desktop's default handler for it.
bool openPathWithDefaultHandler(const std::filesystem::path& path);

// The full path of `name` as found on PATH; nothing when it is not there.
std::optional<std::string> findProgramOnPath(const std::string& name);

// Starts argv[0] with the arguments that follow in `workingFolder` (empty:
// the launcher's own), not waited for. The program is started through a
// short-lived intermediate process, so one that ends is reaped by the
// system and never lingers as a zombie of the launcher.
bool spawnDetached(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder);

}  // namespace mendly
