#pragma once
// Publishing a complete client folder on a static patch host.
//
// Layout written below hostRoot for server S:
//   S.manifest       {"files":[{"md5":..,"relative":..,"served":..,"sha256":..,
//                    "size":..},..],"generated":"<UTC time>","release":..,
//                    "server":"S"} (and "expires" when signed), two-space
//                    indented, keys in byte order, entries sorted by path, no
//                    final line feed
//   S/<relative>     every listed file, exactly the bytes whose MD5 is listed
//   S/by-sha256/..   the same files under names made of their SHA-256, which
//                    "served" gives (see served_folder.h), and those of the
//                    publication replaced, kept until the next one
//   S/_version._     the client's version file (listed like any loose file)
//   S/by-sha256/deltas/..  deltas from the content of earlier releases, which
//                    an entry's "deltas" lists (see release_deltas.h)
//   S.manifest.sig   when a signing key is given: the signature text of the
//                    manifest's exact bytes and a line feed (otherwise a
//                    signature left by an earlier publication is removed)
// Loose files are copied unchanged. Archive members (from a folder or read out
// of a ".pak") become plain files at S/<archive>/<member key with '/'>, or,
// when chosen, single-file payloads at S/<archive>/<dir>/pak_<file> built from
// the member's compressed form exactly as an installed client rebuilds it to
// verify it. A member that cannot travel as a payload (empty, or stored raw
// because its compressed form is exactly as long) is published plain. A
// member whose own file name begins with "pak_" can only travel as a payload
// (the client takes any "pak_" file for one) and is published as
// "pak_pak_<rest>". A client file below "by-sha256/" cannot be published.
//
// The files go to a staging folder beside S first; nothing served changes
// until all of them are written. Then, with the old manifest still served:
// the new by-digest copies join S/by-sha256 (a run holding the old manifest
// fetches the old copies, which stay), the plain paths are replaced file by
// file, the old manifest is taken away (when the new one is signed) or its
// signature (when not), the new signature and last the manifest are moved
// into place from temporary files, and only then are copies that neither
// manifest names removed. So a client never reads a half-written manifest, a
// manifest whose files are not there or one whose signature is not, and a
// run that fetched the old manifest finishes from the old files. Clients
// that do not read "served" fetch the plain paths, which hold the newest
// files: a run of theirs that was in flight can still meet a changed file.
//
// Runs on the calling thread with its own worker threads, joined before it
// returns. Nothing else may write below hostRoot/S meanwhile.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/manifest.h"

namespace mendly::signing {
class SigningKey;
}

namespace mendly::publish {

struct PublishOptions {
    std::vector<std::string> payloadPatterns;  // see payload_pattern.h
    bool payloadAll = false;                   // every member that can travel as a payload
    bool force = false;                        // replace an existing publication of the server
    std::string generated;                     // the manifest's stamp; empty = the current UTC time
    unsigned threads = 0;                      // 0 = hardware threads
    const signing::SigningKey* signingKey = nullptr;  // signs the manifest when set
    // The manifest's "release"; nothing: one more than the publication it
    // replaces holds (1 for the first).
    std::optional<std::uint64_t> release;
    unsigned expiresDays = 30;  // a signed manifest's "expires": this many days from now
    // A release that changes the client but not its _version._ (see
    // version_check.h) is refused, before anything is written, instead of
    // published with a warning.
    bool strict = false;
    // Deltas from the content of up to this many releases served before
    // (see release_deltas.h); 0 makes none and keeps no older releases.
    unsigned deltasFrom = 3;
};

// One file as the host serves it below hostRoot/S.
struct ServedFile {
    enum class Kind { Loose, Member, Payload };  // Member: an archive member served as its contents
    std::string relative;    // '/' separated, as listed in the manifest
    std::string md5;         // of the served bytes, lowercase hexadecimal
    std::uint64_t size = 0;  // served bytes
    Kind kind = Kind::Loose;
    std::string contentsMd5;  // Payload only: of the member's contents
    std::string sha256;       // of the served bytes, lowercase hexadecimal
    std::vector<ManifestDelta> deltas{};  // listed under "deltas"
};

struct DeltaSummary {
    std::uint64_t files = 0;         // files that got at least one delta
    std::uint64_t deltas = 0;        // deltas listed
    std::uint64_t deltaBytes = 0;    // their size
    std::uint64_t changedBytes = 0;  // the whole size of the files they replace, once per delta
    double seconds = 0;              // spent making and reading them
};

struct PublishSummary {
    std::uint64_t looseFiles = 0;
    std::uint64_t plainMembers = 0;
    std::uint64_t payloads = 0;
    std::uint64_t bytesWritten = 0;                 // of all published files
    std::vector<std::string> unmatchedPatterns;     // payload patterns that chose no member
    std::filesystem::path manifestPath;
    std::filesystem::path signaturePath;            // empty when the manifest is not signed
    // One sentence when the client changed but its _version._ did not, else empty.
    std::string versionWarning;
    DeltaSummary deltas;
};

// False with one sentence in `error` (and nothing of the old publication
// touched, apart from a leftover staging folder being cleared) when the
// client or the server name is unusable, the publication exists and `force`
// is not set, `strict` is set and the version text did not change with the
// client, or reading or writing the new files fails. Failing to move them
// into place is reported the same way; unless it is the manifest or its
// signature that could not be moved, the old manifest and every copy it
// names are then still served.
[[nodiscard]] bool publishClient(const std::filesystem::path& clientFolder, std::string_view serverName,
                                 const std::filesystem::path& hostRoot, const PublishOptions& options,
                                 PublishSummary& summary, std::string& error);
[[nodiscard]] bool publishClient(const std::filesystem::path& clientFolder, std::string_view serverName,
                                 const std::filesystem::path& hostRoot, const PublishOptions& options,
                                 std::string& error);

// What publishClient would serve for the client with these options (the
// signing key, `force` and `generated` play no part), sorted by path, worked
// out by reading the client only: nothing is written anywhere. False with
// one sentence in `error` for the refusals publishClient makes about the
// client; `unmatchedPatterns` gets the payload patterns that chose no member.
[[nodiscard]] bool listServedFiles(const std::filesystem::path& clientFolder, const PublishOptions& options,
                                   std::vector<ServedFile>& files, std::vector<std::string>& unmatchedPatterns,
                                   std::string& error);

// Empty when `name` may name a server on the host, else why not.
std::string serverNameProblem(std::string_view name);

}  // namespace mendly::publish
