#include "publish.h"

#include "catalog/file_bytes.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <optional>
#include <set>
#include <system_error>

#include <chrono>
#include <nlohmann/json.hpp>

#include "client_inventory.h"
#include "hash/digest.h"
#include "patch/manifest.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/single_file_payload.h"
#include "payload_pattern.h"
#include "release_deltas.h"
#include "release_preview.h"
#include "served_folder.h"
#include "signing_key.h"
#include "version_check.h"
#include "work_pool.h"

namespace mendly::publish {
namespace {

namespace fs = std::filesystem;

struct HostPaths {
    fs::path root;           // hostRoot
    fs::path folder;         // hostRoot/S
    fs::path manifest;       // hostRoot/S.manifest
    fs::path staging;        // hostRoot/.S.staging
    fs::path manifestPart;   // hostRoot/.S.manifest.part
    fs::path signature;      // hostRoot/S.manifest.sig
    fs::path nextSignature;  // hostRoot/.S.manifest.sig.part
};

HostPaths hostPathsFor(const fs::path& hostRoot, const std::string& server) {
    return {hostRoot,
            hostRoot / server,
            hostRoot / (server + ".manifest"),
            hostRoot / ("." + server + ".staging"),
            hostRoot / ("." + server + ".manifest.part"),
            hostRoot / (server + ".manifest.sig"),
            hostRoot / ("." + server + ".manifest.sig.part")};
}

std::string utcFromNow(std::chrono::seconds ahead) {
    const std::time_t now = std::time(nullptr) + static_cast<std::time_t>(ahead.count());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string utcNow() { return utcFromNow(std::chrono::seconds(0)); }

bool isInside(const fs::path& inner, const fs::path& outer) {
    const fs::path rel = inner.lexically_relative(outer);
    return !rel.empty() && *rel.begin() != "..";
}

bool writeBytes(const fs::path& path, std::string_view bytes, std::string& error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = "Cannot write: " + path.string();
        return false;
    }
    return true;
}

std::optional<std::string> readWhole(const fs::path& path) {
    std::string bytes;
    if (readFileBytes(path, bytes) != FileRead::Read) return std::nullopt;
    return bytes;
}

// "<archive>/<dir>/pak_<file>" for a member key "dir\file".
std::string payloadPathFor(const ClientItem& item) {
    std::string key = item.memberKey;
    std::replace(key.begin(), key.end(), '\\', '/');
    const std::size_t slash = key.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    key.insert(nameStart, "pak_");
    return item.archiveName + "/" + key;
}

// The member's file name begins with "pak_": the client would take a plain
// file of that name for a payload, so it can only be delivered as one.
bool needsPayload(const ClientItem& item) {
    const std::size_t slash = item.memberKey.rfind('\\');
    return item.memberKey.compare(slash == std::string::npos ? 0 : slash + 1, 4, "pak_") == 0;
}

// Works out how every item is served and, given a staging folder, writes it
// there; with an empty staging folder it only reads the client.
class Publisher {
public:
    Publisher(const fs::path& staging, unsigned threads) : staging_(staging), threads_(threads) {}

    // `payload[i]` asks for item i as a payload; `files[i]` is how it is served.
    bool serveAll(const std::vector<ClientItem>& items, const std::vector<bool>& payload,
                  std::vector<ServedFile>& files, std::string& error) {
        files.assign(items.size(), {});
        return forEachItem(
            items.size(), threads_,
            [&](std::size_t i, std::string& message) { return publishOne(items[i], payload[i], files[i], message); },
            error);
    }

private:
    static bool checkPath(const std::string& relative, std::string& error) {
        if (const std::string problem = publishedPathProblem(relative); !problem.empty()) {
            error = "Cannot publish " + relative + ": the path " + problem;
            return false;
        }
        if (isInContentFolder(relative)) {
            error = "Cannot publish " + relative + ": " + std::string(kContentFolder) +
                    "/ holds the copies of the published files named by their digests";
            return false;
        }
        return true;
    }

    bool store(const std::string& relative, std::string_view bytes, std::string& error) const {
        return checkPath(relative, error) && (staging_.empty() || writeBytes(staging_ / relative, bytes, error));
    }

    bool publishOne(const ClientItem& item, bool wantPayload, ServedFile& out, std::string& error) {
        if (!item.member) return copyFile(item.source, item.relative, ServedFile::Kind::Loose, out, error);

        std::optional<std::string> contents;
        if (wantPayload || item.archive) {
            contents = item.archive ? item.archive->readEntry(item.memberKey) : readWhole(item.source);
            if (!contents) {
                error = item.archive ? "Cannot read member " + item.memberKey + " of " + item.source.string()
                                     : "Cannot read: " + item.source.string();
                return false;
            }
        }
        if (wantPayload) {
            // The stored form an installed client will hold, and the payload it
            // rebuilds from it when it verifies the member.
            const auto stored = mendly::vfile::compressEntry(*contents);
            if (!stored) {
                error = "Cannot compress member: " + item.relative;
                return false;
            }
            if (!stored->bytes.empty() && !stored->isRaw()) {
                const auto payload = mendly::vfile::buildSingleFilePayload(*stored);
                if (!payload) {
                    error = "Cannot build the payload of " + item.relative;
                    return false;
                }
                out = {payloadPathFor(item), mendly::md5Hex(*payload), payload->size(), ServedFile::Kind::Payload,
                       mendly::md5Hex(*contents), mendly::sha256Hex(*payload)};
                return store(out.relative, *payload, error);
            }
            if (needsPayload(item)) {
                error = "Cannot publish " + item.relative +
                        ": a member whose name begins with \"pak_\" must travel as a payload, and " +
                        (stored->bytes.empty() ? "it is empty" : "its compressed form is as long as its contents");
                return false;
            }
        }
        if (!contents) return copyFile(item.source, item.relative, ServedFile::Kind::Member, out, error);
        out = {item.relative, mendly::md5Hex(*contents), contents->size(), ServedFile::Kind::Member, {},
               mendly::sha256Hex(*contents)};
        return store(out.relative, *contents, error);
    }

    bool copyFile(const fs::path& source, const std::string& relative, ServedFile::Kind kind, ServedFile& out,
                  std::string& error) const {
        if (!checkPath(relative, error)) return false;
        std::error_code ec;
        if (staging_.empty()) {
            out = {relative, mendly::md5FileHex(source), fs::file_size(source, ec), kind, {},
                   mendly::sha256FileHex(source)};
            if (out.md5.empty() || out.sha256.empty() || ec) {
                error = "Cannot read: " + source.string();
                return false;
            }
            return true;
        }
        const fs::path target = staging_ / relative;
        fs::create_directories(target.parent_path(), ec);
        if (!fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec)) {
            error = "Cannot copy " + source.string() + " to " + target.string() + " (" + ec.message() + ")";
            return false;
        }
        out = {relative, mendly::md5FileHex(target), fs::file_size(target, ec), kind, {},
               mendly::sha256FileHex(target)};
        if (out.md5.empty() || out.sha256.empty() || ec) {
            error = "Cannot read: " + target.string();
            return false;
        }
        return true;
    }

    fs::path staging_;
    unsigned threads_;
};

// Sorts the served files by path; false when two share one.
bool sortServedFiles(std::vector<ServedFile>& files, std::string& error) {
    std::sort(files.begin(), files.end(),
              [](const ServedFile& a, const ServedFile& b) { return a.relative < b.relative; });
    for (std::size_t i = 1; i < files.size(); ++i)
        if (files[i].relative == files[i - 1].relative) {
            error = "Cannot publish " + files[i].relative + ": two files would be published under that path";
            return false;
        }
    return true;
}

// What the manifest says of itself beside its files.
struct ManifestClaims {
    std::string generated;
    std::string server;
    std::uint64_t release = 1;
    std::string expires;  // empty: none (an unsigned manifest)
    std::string signedBy;  // the signing key's public text; empty when unsigned
};

// `files` sorted by sortServedFiles.
std::string manifestText(const std::vector<ServedFile>& files, const ManifestClaims& claims) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& file : files) {
        nlohmann::json entry = {{"relative", file.relative},
                                {"md5", file.md5},
                                {"served", contentPathFor(file.sha256)},
                                {"sha256", file.sha256},
                                {"size", file.size}};
        for (const ManifestDelta& delta : file.deltas)
            entry["deltas"].push_back(
                {{"from", delta.from}, {"path", delta.path}, {"sha256", delta.sha256}, {"size", delta.size}});
        list.push_back(std::move(entry));
    }
    nlohmann::json document = {{"files", std::move(list)},
                               {"generated", claims.generated},
                               {"server", claims.server},
                               {"release", claims.release}};
    if (!claims.expires.empty()) document["expires"] = claims.expires;
    if (!claims.signedBy.empty()) document["signedBy"] = claims.signedBy;
    return document.dump(2);
}

// The release of the manifest at `path`; nothing when there is none (or it
// is not readable).
std::optional<std::uint64_t> servedRelease(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    const auto release = document.find("release");
    if (release == document.end() || !release->is_number_unsigned()) return std::nullopt;
    return release->get<std::uint64_t>();
}

// The signature text of the manifest's exact bytes, written beside the
// staged manifest.
bool writeStagedSignature(const signing::SigningKey& key, std::string_view manifest, const HostPaths& host,
                        std::string& error) {
    const auto signature = key.sign(manifest);
    if (!signature) {
        error = "Cannot sign the manifest";
        return false;
    }
    return writeBytes(host.nextSignature, signatureText(*signature) + "\n", error);
}

// Moves the staged publication into place (see publish.h for the order and
// why): copies, plain files, then the manifest and its signature.
bool swapIn(const HostPaths& host, bool signedManifest, std::string& error) {
    std::error_code ec;
    if (const auto status = fs::symlink_status(host.folder, ec); fs::exists(status) && !fs::is_directory(host.folder, ec))
        fs::remove(host.folder, ec);  // a file where the folder belongs (replaced under --force)
    fs::create_directories(host.folder, ec);
    if (ec) {
        error = "Cannot create " + host.folder.string() + " (" + ec.message() + ")";
        return false;
    }
    if (!moveContentIntoPlace(host.staging, host.folder, error) || !replacePlainFiles(host.staging, host.folder, error))
        return false;
    fs::remove(signedManifest ? host.manifest : host.signature, ec);
    if (ec) {
        error = "Cannot remove the old " + std::string(signedManifest ? "manifest: " : "signature: ") +
                (signedManifest ? host.manifest : host.signature).string() + " (" + ec.message() + ")";
        return false;
    }
    if (signedManifest) fs::rename(host.nextSignature, host.signature, ec);
    if (ec) {
        error = "Cannot move the signature into place: " + host.signature.string() + " (" + ec.message() + ")";
        return false;
    }
    fs::rename(host.manifestPart, host.manifest, ec);
    if (ec) {
        error = "Cannot move the manifest into place: " + host.manifest.string() + " (" + ec.message() + ")";
        return false;
    }
    return true;
}

// The copies a run may still fetch once `files` are published: theirs and
// those the manifest being replaced names. Nothing when that manifest exists
// but cannot be read: then nothing is removed.
// The bases of later deltas (the copies the kept releases name) stay too.
std::optional<std::set<std::string>> copiesToKeep(const std::vector<ServedFile>& files,
                                                  const std::optional<PatchManifest>& previous, bool previousKnown,
                                                  const std::vector<PatchManifest>& releases) {
    if (!previousKnown) return std::nullopt;
    std::set<std::string> keep;
    for (const ServedFile& file : files) {
        keep.insert(contentPathFor(file.sha256));
        for (const ManifestDelta& delta : file.deltas) keep.insert(delta.path);
    }
    if (previous) {
        for (const ManifestEntry& entry : previous->files)
            if (!entry.served.empty()) keep.insert(entry.served);
        keepListedDeltas(*previous, keep);
    }
    keepReleaseCopies(releases, keep);
    return keep;
}

// Refuses a publication that would overwrite another without `force`, and
// folders that overlap (publishing a client into itself, or a host folder
// inside the client that the next publication would take for client files).
bool checkPlaces(const fs::path& clientFolder, const fs::path& hostRoot, const HostPaths& host, bool force,
                 std::string& error) {
    std::error_code ec;
    const fs::path client = fs::weakly_canonical(clientFolder, ec);
    const fs::path root = fs::weakly_canonical(hostRoot, ec);
    if (client == root || isInside(root, client)) {
        error = "The host folder must not lie inside the client folder: " + hostRoot.string();
        return false;
    }
    for (const fs::path& place : {host.folder, host.staging})
        if (const fs::path canonical = fs::weakly_canonical(place, ec); client == canonical || isInside(client, canonical)) {
            error = "The client folder must not lie inside the publication it is published to: " + clientFolder.string();
            return false;
        }
    if (force) return true;
    if (fs::exists(fs::symlink_status(host.manifest, ec))) {
        error = host.manifest.string() + " already exists; use --force to replace the publication";
        return false;
    }
    if (fs::exists(fs::symlink_status(host.folder, ec)) &&
        (!fs::is_directory(host.folder, ec) || !fs::is_empty(host.folder, ec))) {
        error = host.folder.string() + " is not empty; use --force to replace the publication";
        return false;
    }
    return true;
}

// Which items travel as payloads; the patterns that chose none go to
// `unmatched`.
std::vector<bool> choosePayloads(const std::vector<ClientItem>& items, const PublishOptions& options,
                                 std::vector<std::string>& unmatched) {
    std::vector<bool> payload(items.size(), false);
    std::vector<bool> patternUsed(options.payloadPatterns.size(), false);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i].member) continue;
        payload[i] = options.payloadAll || needsPayload(items[i]);
        for (std::size_t p = 0; p < options.payloadPatterns.size(); ++p)
            if (matchesPayloadPattern(options.payloadPatterns[p], items[i].relative)) {
                payload[i] = true;
                patternUsed[p] = true;
            }
    }
    for (std::size_t p = 0; p < patternUsed.size(); ++p)
        if (!patternUsed[p]) unmatched.push_back(options.payloadPatterns[p]);
    return payload;
}

bool checkClientFolder(const fs::path& clientFolder, std::string& error) {
    std::error_code ec;
    if (fs::is_regular_file(clientFolder / "_version._", ec)) return true;
    error = "Not a client folder (no _version._): " + clientFolder.string();
    return false;
}

// What the publication being replaced tells the new one.
struct Previous {
    std::optional<PatchManifest> manifest;  // nothing: none is served, or it cannot be read
    bool known = true;                      // false: one is there but it cannot be read
};

Previous readPrevious(const fs::path& hostRoot, const std::string& server) {
    Previous previous;
    std::string unusable;  // such a manifest is replaced like any other under --force
    previous.known = readServedManifest(hostRoot, server, previous.manifest, unusable);
    return previous;
}

// With `strict`: refuses a changed client whose version file is the one
// served now. Reads the client (only when the version file is unchanged),
// writes nothing.
bool checkStrictVersion(const fs::path& clientFolder, const PublishOptions& options, const Previous& previous,
                        std::string& error) {
    if (!options.strict || !previous.manifest || !versionFileUnchanged(clientFolder, *previous.manifest)) return true;
    std::vector<ServedFile> next;
    std::vector<std::string> unmatched;
    if (!listServedFiles(clientFolder, options, next, unmatched, error)) return false;
    const std::string problem = unchangedVersionProblem(clientFolder, *previous.manifest, next);
    if (problem.empty()) return true;
    error = problem + "; change _version._, or publish without --strict";
    return false;
}

// An empty staging folder, and no temporary files of an earlier run.
bool prepareStaging(const fs::path& hostRoot, const HostPaths& host, std::string& error) {
    std::error_code ec;
    fs::create_directories(hostRoot, ec);
    fs::remove_all(host.staging, ec);
    fs::remove(host.manifestPart, ec);
    fs::remove(host.nextSignature, ec);
    fs::create_directories(host.staging, ec);
    if (ec) {
        error = "Cannot create " + host.staging.string() + " (" + ec.message() + ")";
        return false;
    }
    return true;
}

void removeStaging(const HostPaths& host) {
    std::error_code ignored;
    fs::remove_all(host.staging, ignored);
    fs::remove(host.manifestPart, ignored);
    fs::remove(host.nextSignature, ignored);
}

// The content of a served file as staged for publication.
ContentReader stagedContent(const fs::path& staging) {
    return [staging](const ServedFile& file) { return readWhole(staging / file.relative); };
}

// Writes every file, its copy, the manifest and its signature to staging,
// then moves them into place; `files` gets what is served.
bool stageAndSwap(const std::vector<ClientItem>& items, const std::vector<bool>& payload, const std::string& server,
                  const PublishOptions& options, const HostPaths& host, const std::vector<PatchManifest>& releases,
                  std::vector<ServedFile>& files, PublishSummary& summary, std::string& error) {
    Publisher publisher(host.staging, options.threads);
    if (!publisher.serveAll(items, payload, files, error) || !sortServedFiles(files, error) ||
        !makeReleaseDeltas(host.staging, host.folder, releases, files, options.threads, stagedContent(host.staging),
                           summary.deltas, error) ||
        !stageContentCopies(host.staging, files, error))
        return false;
    ManifestClaims claims;
    claims.generated = options.generated.empty() ? utcNow() : options.generated;
    claims.server = server;
    claims.release = options.release.value_or(servedRelease(host.manifest).value_or(0) + 1);
    if (options.signingKey) {
        claims.expires = utcFromNow(std::chrono::hours(24) * options.expiresDays);
        claims.signedBy = publicKeyText(options.signingKey->publicKey());
    }
    const std::string text = manifestText(files, claims);
    if (!writeBytes(host.manifestPart, text, error) ||
        (options.signingKey && !writeStagedSignature(*options.signingKey, text, host, error)) ||
        !swapIn(host, options.signingKey != nullptr, error))
        return false;
    rememberRelease(host.root, server, claims.release, text, options.deltasFrom);
    return true;
}

}  // namespace

std::string serverNameProblem(std::string_view name) {
    if (name.empty()) return "is empty";
    if (name.front() == '.') return "begins with '.'";
    for (const char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-'))
            return "may hold only letters, digits, '.', '_' and '-'";
    return {};
}

bool publishClient(const fs::path& clientFolder, std::string_view serverName, const fs::path& hostRoot,
                   const PublishOptions& options, PublishSummary& summary, std::string& error) {
    summary = {};
    const std::string server(serverName);
    if (const std::string problem = serverNameProblem(server); !problem.empty()) {
        error = "The server name \"" + server + "\" " + problem;
        return false;
    }
    if (!checkClientFolder(clientFolder, error)) return false;
    const HostPaths host = hostPathsFor(hostRoot, server);
    if (!checkPlaces(clientFolder, hostRoot, host, options.force, error)) return false;
    const Previous previous = readPrevious(hostRoot, server);
    if (!checkStrictVersion(clientFolder, options, previous, error)) return false;

    std::vector<ClientItem> items;
    if (!collectClientItems(clientFolder, items, error)) return false;
    const std::vector<bool> payload = choosePayloads(items, options, summary.unmatchedPatterns);
    if (!prepareStaging(hostRoot, host, error)) return false;

    std::vector<ServedFile> files;
    const auto releases = recentReleases(hostRoot, server, previous.manifest, options.deltasFrom);
    const bool published = stageAndSwap(items, payload, server, options, host, releases, files, summary, error);
    removeStaging(host);
    if (!published) return false;
    if (const auto keep = copiesToKeep(files, previous.manifest, previous.known, releases))
        pruneContent(host.folder, *keep);
    if (previous.manifest) summary.versionWarning = unchangedVersionProblem(clientFolder, *previous.manifest, files);

    for (const auto& file : files) {
        summary.bytesWritten += file.size;
        switch (file.kind) {
            case ServedFile::Kind::Loose: ++summary.looseFiles; break;
            case ServedFile::Kind::Member: ++summary.plainMembers; break;
            case ServedFile::Kind::Payload: ++summary.payloads; break;
        }
    }
    summary.manifestPath = host.manifest;
    if (options.signingKey) summary.signaturePath = host.signature;
    return true;
}

bool publishClient(const fs::path& clientFolder, std::string_view serverName, const fs::path& hostRoot,
                   const PublishOptions& options, std::string& error) {
    PublishSummary summary;
    return publishClient(clientFolder, serverName, hostRoot, options, summary, error);
}

bool listServedFiles(const fs::path& clientFolder, const PublishOptions& options, std::vector<ServedFile>& files,
                     std::vector<std::string>& unmatchedPatterns, std::string& error) {
    files.clear();
    unmatchedPatterns.clear();
    if (!checkClientFolder(clientFolder, error)) return false;
    std::vector<ClientItem> items;
    if (!collectClientItems(clientFolder, items, error)) return false;
    const std::vector<bool> payload = choosePayloads(items, options, unmatchedPatterns);
    Publisher reader({}, options.threads);
    if (reader.serveAll(items, payload, files, error) && sortServedFiles(files, error)) return true;
    files.clear();
    return false;
}

}  // namespace mendly::publish
