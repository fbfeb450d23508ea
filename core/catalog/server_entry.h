#pragma once
// One catalog entry: an installation of the game client and the patch server
// that keeps it current. Plain data; copied freely between threads.
#include <string>

namespace mendly {

// Seven UTF-8 strings.
struct ServerEntry {
    std::string name;              // identifier; compared ignoring ASCII case
    std::string desc;              // shown to the user; displayName falls back to name
    std::string server;            // patch server name, part of every patch address
    std::string patchBaseUrl;      // scheme, host and port of the patch host
    std::string launchExecutable;  // client executable inside the installation; may be empty
    std::string installPath;       // explicit installation folder; empty = clients/<name>
    std::string manifestKey{};     // public key that must sign the manifest; empty = none asked

    bool operator==(const ServerEntry&) const = default;
};

// desc when not empty, else name.
const std::string& displayName(const ServerEntry& entry);

}  // namespace mendly
