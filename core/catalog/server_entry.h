#pragma once
// One catalog entry: an installation of the game client and the patch server
// that keeps it current. Plain data; copied freely between threads.
#include <string>
#include <vector>

namespace mendly {

// Seven UTF-8 strings and the list of mirrors.
struct ServerEntry {
    std::string name;              // identifier; compared ignoring ASCII case
    std::string desc;              // shown to the user; displayName falls back to name
    std::string server;            // patch server name, part of every patch address
    std::string patchBaseUrl;      // scheme, host and port of the patch host
    std::string launchExecutable;  // client executable inside the installation; may be empty
    std::string installPath;       // explicit installation folder; empty = clients/<name>
    std::string manifestKey{};     // public key that must sign the manifest; empty = none asked
    // Further patch hosts serving the same server's files, in the same form
    // as patchBaseUrl, tried after it; none usually. They need not be
    // trusted: every file is checked by its digest, the manifest by its
    // signature, whichever host served it.
    std::vector<std::string> mirrors{};

    bool operator==(const ServerEntry&) const = default;
};

// desc when not empty, else name.
const std::string& displayName(const ServerEntry& entry);

}  // namespace mendly
