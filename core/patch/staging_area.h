#pragma once
// The staging folder of one installation, installDir/.mendly-staging: every
// download of a run lands here first and is moved into place (a rename on the
// same volume) by the apply step. A staged file is named by the MD5 the
// manifest gives for it, so a later run recognises what an interrupted one
// already fetched and uses it instead of fetching it again.
//
// Names in the folder:
//   <md5>          a loose file exactly as served
//   <md5>.payload  a single-file payload exactly as served
//   <md5>.entry    an archive member's stored form: a 16-byte payload header
//                  (magic, original size) and the stored bytes, raw when their
//                  length equals the original size
//   <name>.part    a download or conversion in progress (never reused)
// A run removes the folder after it succeeded and keeps it after it failed or
// was cancelled; at its start it removes everything the current manifest does
// not name.
//
// Threads: the functions are thread-safe for distinct names; the folder is
// created and cleaned by the run's own thread before or after the workers run.
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "patch/manifest.h"

namespace mendly {

inline constexpr std::string_view kPatchStagingFolderName = ".mendly-staging";

// What a staging folder holds for a later run to reuse.
struct StagedContents {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;  // sum of the files' sizes
};

enum class StagedForm {
    AsServed,     // a loose file exactly as the host sent it
    Payload,      // a single-file payload exactly as the host sent it
    StoredEntry,  // an archive member compressed into its stored form
};

class StagingArea {
public:
    explicit StagingArea(const std::filesystem::path& installDir);

    const std::filesystem::path& folder() const { return folder_; }

    // The staged file's name for `entry`: its MD5 in lowercase (a manifest
    // value that is not 32 hexadecimal digits gets a name derived from it
    // that cannot clash or leave the folder), plus ".payload" or ".entry".
    static std::string nameFor(const ManifestEntry& entry, StagedForm form);
    std::filesystem::path pathFor(std::string_view name) const { return folder_ / std::string(name); }

    // Creates the folder (a file or link in its place is removed first).
    // False when it cannot be created.
    [[nodiscard]] bool create() const;

    // Removes every file in the folder whose name is not in `keep` (links
    // themselves, never what they point to). Failures are ignored.
    void removeUnlisted(const std::set<std::string>& keep) const;

    // Removes the folder and everything in it. Failures are ignored.
    void removeAll() const;
    // True when the folder is missing or holds nothing.
    bool isEmpty() const;

    // The staged files a later run may reuse: regular files directly in the
    // folder, without downloads in progress (".part") and without links (a
    // run never reads through one). Nothing when the folder is missing or is
    // itself a link. Only reads; safe beside a run in another process, whose
    // files may come and go while they are counted.
    StagedContents measure() const;

private:
    std::filesystem::path folder_;
};

// Which staged file holds `entry` once the download stage has run:
// "<md5>.entry" for a plain archive member, "<md5>.payload" for a single-file
// payload ("<md5>.payload.converted" when its body had to be stored anew),
// "<md5>" for a loose file.
std::string stagedNameFor(const ManifestEntry& entry);

}  // namespace mendly
