#pragma once
// Adding a server to customlist.json from a name, a patch address, an
// optional signing key and an optional installation folder (the console's
// --add-server and the window's Add server), or from a server file that the
// server's operator hands out (server_file.h).
//
// Nothing is saved until every check passed, the address was fetched from
// and its manifest judged as an update run would judge it (`check`), and the
// file could be read as a server list. The entry is appended as text
// (custom_list_splice.h), so the player's other entries keep every byte; a
// missing or empty customlist.json becomes a new list; a file that cannot be
// read or is not a server list is refused and left untouched.
//
// Runs on the calling thread and blocks for the check's download; holds no
// lock (the other program may write the file meanwhile; the last writer wins).
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/server_catalog.h"
#include "trust/trusted_keys.h"

namespace mendly {

// What the player asked for. Texts are trimmed by the function.
struct ServerRequest {
    std::u16string name;
    // Where the server's files are published: the patch host's address and
    // the server's folder, "https://patch.example.org:8080/aurum" (the
    // manifest is that + ".manifest", which may also be given).
    std::u16string address;
    std::u16string key{};             // base64 public key that signs its manifests; empty: none
    std::filesystem::path folder{};   // absolute; empty: programFolder/clients/<name>
};

enum class ServerAddition {
    Added,
    NameRefused,      // not allowed as an installation name, already in use, or leads out of clients
    AddressRefused,   // not an http(s) address naming a server's folder
    KeyRefused,       // not a usable public key
    FolderRefused,    // a folder that cannot hold an installation, or another entry's
    ExecutableRefused,  // a server file's launchExecutable leads out of the installation
    CheckFailed,      // the address did not answer, or what it serves would not be taken
    ListRefused,      // customlist.json cannot be read or is not a server list: left as it is
    ListNotWritten,   // customlist.json could not be written
};

struct ServerAdditionResult {
    ServerAddition outcome = ServerAddition::Added;
    std::u16string sentence;  // for the user; empty when Added
    ServerEntry entry;        // what was (or would have been) saved
};

// Empty when the entry's patch address serves what an update run would take
// under `trust`; otherwise the sentence saying why not (patch_address_check.h
// has the real one).
using PatchAddressCheck = std::function<std::u16string(const ServerEntry& entry, const TrustedKeys& trust)>;

// The entry a request describes: server and patchBaseUrl split from the
// address, desc = name, launchExecutable "kaltrisclient.exe", installPath =
// folder, manifestKey = key in its canonical text. Nothing with the outcome
// and sentence in `refusal` when the address or key cannot be used.
std::optional<ServerEntry> entryForRequest(const ServerRequest& request, ServerAdditionResult& refusal);

// Checks the request, fetches from the address and appends the entry.
// `catalog` is the one the program loaded: its names are taken (as are those
// in the file), and its built-in entries decide whose keys sign a copy of
// theirs (manifest_trust.h).
[[nodiscard]] ServerAdditionResult addServer(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                                             const ServerRequest& request, const PatchAddressCheck& check);
// The same for an entry already made (a server file's); its installPath is
// the player's folder, or empty.
[[nodiscard]] ServerAdditionResult addServerEntry(const std::filesystem::path& programFolder,
                                                  const ServerCatalog& catalog, const ServerEntry& entry,
                                                  const PatchAddressCheck& check);

}  // namespace mendly
