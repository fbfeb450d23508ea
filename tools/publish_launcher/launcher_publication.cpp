#include "launcher_publication.h"

#include <fstream>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

#include "hash/digest.h"
#include "hash/signature.h"
#include "log/text.h"
#include "selfupdate/launcher_files.h"
#include "signing_key.h"
#include "trust/utc_timestamp.h"

namespace mendly::publish {
namespace {

namespace fs = std::filesystem;

// One program copied under its temporary name in the host folder.
struct StagedProgram {
    PublishedProgram program;
    fs::path temporary;
    fs::path target;
};

fs::path temporaryFor(const fs::path& target) { return target.string() + ".tmp"; }

// The names of the updatable programs that are in `folder`.
bool findPrograms(const fs::path& folder, std::vector<std::string>& names, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        error = "Not a folder: " + folder.string();
        return false;
    }
    std::string lookedFor;
    for (const std::string_view name : kUpdatableLauncherFiles) {
        lookedFor += (lookedFor.empty() ? "" : ", ") + std::string(name);
        const fs::path path = folder / name;
        const fs::file_status status = fs::status(path, ec);
        if (!fs::exists(status)) continue;
        if (!fs::is_regular_file(status)) {
            error = path.string() + " is not a file";
            return false;
        }
        names.emplace_back(name);
    }
    if (names.empty()) {
        error = "No program to publish in " + folder.string() + " (looked for " + lookedFor + ")";
        return false;
    }
    return true;
}

// Copies the program under its temporary name and takes the digest and size
// of the copy: exactly the bytes the host will serve.
bool stageProgram(const fs::path& source, const fs::path& hostRoot, const std::string& name, StagedProgram& out,
                  std::string& error) {
    out.target = hostRoot / name;
    out.temporary = temporaryFor(out.target);
    std::error_code ec;
    fs::remove(out.temporary, ec);
    if (!fs::copy_file(source, out.temporary, fs::copy_options::overwrite_existing, ec)) {
        error = "Cannot copy " + source.string() + " to " + out.temporary.string() + " (" + ec.message() + ")";
        return false;
    }
    out.program = {name, sha256FileHex(out.temporary), fs::file_size(out.temporary, ec)};
    if (out.program.sha256.empty() || ec) {
        error = "Cannot read: " + out.temporary.string();
        return false;
    }
    return true;
}

// The release of the latest.json at `path`; nothing when there is none (or
// it is unreadable or has no release).
std::optional<std::uint64_t> servedRelease(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    const auto release = document.find("release");
    if (release == document.end() || !release->is_number_unsigned()) return std::nullopt;
    return release->get<std::uint64_t>();
}

std::string manifestText(const LauncherPublishOptions& options, const std::vector<StagedProgram>& staged,
                         std::uint64_t release) {
    nlohmann::json files = nlohmann::json::array();
    for (const StagedProgram& entry : staged)
        files.push_back({{"name", entry.program.name}, {"sha256", entry.program.sha256}, {"size", entry.program.size}});
    nlohmann::json document = {{"version", options.version}, {"files", std::move(files)}, {"release", release}};
    if (options.signingKey) {
        document["expires"] = formatUtcTimestamp(options.expires);
        document["signedBy"] = publicKeyText(options.signingKey->publicKey());
    }
    return document.dump(2) + "\n";
}

bool writeText(const fs::path& path, std::string_view text, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        error = "Cannot write: " + path.string();
        return false;
    }
    return true;
}

bool writeSignature(const signing::SigningKey& key, std::string_view document, const fs::path& path,
                    std::string& error) {
    const auto signature = key.sign(document);
    if (!signature) {
        error = "Cannot sign latest.json";
        return false;
    }
    return writeText(path, signatureText(*signature) + "\n", error);
}

bool moveIntoPlace(const fs::path& from, const fs::path& to, std::string& error) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) error = "Cannot move " + from.string() + " to " + to.string() + " (" + ec.message() + ")";
    return !ec;
}

// Programs first, then latest.json, then its signature, so latest.json never
// lists a program that is not there yet. Two windows remain, as short as a
// rename, that no order of renames closes: while the programs are replaced
// the old latest.json may list digests the new programs do not have (a
// client downloading then finds the digest wrong and discards the file), and
// between the last two renames the new latest.json stands beside the old
// signature (a client requiring signatures rejects it as not matching).
// Either way the client tries again on its next start.
bool swapIn(const std::vector<StagedProgram>& staged, const fs::path& manifest, const fs::path& signature,
            bool signedManifest, std::string& error) {
    for (const StagedProgram& entry : staged)
        if (!moveIntoPlace(entry.temporary, entry.target, error)) return false;
    if (!moveIntoPlace(temporaryFor(manifest), manifest, error)) return false;
    if (signedManifest) return moveIntoPlace(temporaryFor(signature), signature, error);
    std::error_code ec;
    fs::remove(signature, ec);
    if (ec) error = "Cannot remove the signature of an earlier latest.json: " + signature.string();
    return !ec;
}

}  // namespace

bool isLauncherVersion(std::string_view text) {
    return isHexText(text, 8, true);
}

bool publishLauncher(const LauncherPublishOptions& options, LauncherPublishSummary& summary, std::string& error) {
    summary = {};
    if (!isLauncherVersion(options.version)) {
        error = "The version must be eight lowercase hexadecimal digits: " + options.version;
        return false;
    }
    std::vector<std::string> names;
    if (!findPrograms(options.programs, names, error)) return false;
    std::error_code ec;
    fs::create_directories(options.hostRoot, ec);
    if (ec) {
        error = "Cannot create " + options.hostRoot.string() + " (" + ec.message() + ")";
        return false;
    }
    const fs::path manifest = options.hostRoot / "latest.json";
    const fs::path signature = options.hostRoot / "latest.json.sig";
    const std::optional<std::uint64_t> served = servedRelease(manifest);
    const std::uint64_t release = options.release.value_or(served.value_or(0) + 1);
    if (served && release < *served) {
        error = "Release " + std::to_string(release) + " is lower than the one the host serves now (" +
                std::to_string(*served) + "): players who have that one would refuse it";
        return false;
    }
    // A signature for another document must not be left where an unsigned
    // publication would never overwrite it.
    fs::remove(temporaryFor(signature), ec);
    std::vector<StagedProgram> staged(names.size());
    bool ok = true;
    for (std::size_t i = 0; ok && i < names.size(); ++i)
        ok = stageProgram(options.programs / names[i], options.hostRoot, names[i], staged[i], error);
    const std::string text = ok ? manifestText(options, staged, release) : std::string();
    ok = ok && writeText(temporaryFor(manifest), text, error) &&
         (!options.signingKey || writeSignature(*options.signingKey, text, temporaryFor(signature), error)) &&
         swapIn(staged, manifest, signature, options.signingKey != nullptr, error);
    if (!ok) {
        for (const fs::path& leftover : {temporaryFor(manifest), temporaryFor(signature)}) fs::remove(leftover, ec);
        for (const StagedProgram& entry : staged)
            if (!entry.temporary.empty()) fs::remove(entry.temporary, ec);
        return false;
    }
    for (const StagedProgram& entry : staged) summary.programs.push_back(entry.program);
    summary.release = release;
    summary.manifestPath = manifest;
    if (options.signingKey) summary.signaturePath = signature;
    return true;
}

}  // namespace mendly::publish
