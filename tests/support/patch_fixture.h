#pragma once
// Test helpers for patch runs: a patch host's folder as it is served
// ("<server>.manifest" beside the folder "<server>/" with every listed file),
// game archives and single-file payloads, the run's reports, and the log.
//
// Threads: PatchEventRecorder's functions may be called from any thread (they
// are installed as the process-wide patch callbacks); everything else belongs
// to the test's thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mendly::test {

// The files one server's patch host publishes. The manifest lists the MD5 of
// the bytes served unless a test says otherwise.
class PatchHostFolder {
public:
    struct File {
        std::string relative;  // as written in the manifest ('/' or '\')
        std::string served;    // the bytes served for it
        std::string md5;       // what the manifest claims
        bool published = true; // false: listed but not served (404)
        std::string sha256;    // what the manifest claims; empty: not listed
        // Deltas listed for it: the SHA-256 of the older content, the path
        // below the server's folder, the delta's bytes.
        struct Delta {
            std::string from;
            std::string path;
            std::string bytes;
        };
        std::vector<Delta> deltas;
    };

    PatchHostFolder(std::filesystem::path root, std::string server);

    // Adds or replaces a file.
    void addFile(std::string relative, std::string served);
    // An archive member delivered as a single-file payload of `contents`
    // (relative names a "pak_" file inside an archive folder).
    void addPayloadFile(std::string relative, std::string_view contents);
    void removeFile(std::string_view relative);
    void setManifestMd5(std::string_view relative, std::string md5);
    // Every file is listed with the SHA-256 of what is served; empty: none.
    void setManifestSha256(std::string_view relative, std::string sha256);
    void setPublished(std::string_view relative, bool published);
    // Lists a delta from the content whose SHA-256 is `from` (served at
    // <server>/<path>); listing deltas lists every file's size too.
    void addDelta(std::string_view relative, std::string from, std::string path, std::string bytes);
    // What the manifest says of itself (a signed one must say all three):
    // by default release 1, expiring in 2999, for this host's server.
    void setRelease(std::optional<std::uint64_t> release) { release_ = release; }
    void setExpires(std::string expires) { expires_ = std::move(expires); }
    void setServerClaim(std::string server) { serverClaim_ = std::move(server); }

    const std::vector<File>& files() const { return files_; }
    const File& file(std::string_view relative) const;

    // Writes root/<server>.manifest and root/<server>/<relative> for every
    // published file, replacing what an earlier publish() wrote.
    void publish() const;
    std::string manifestJson() const;

    std::string manifestUrlPath() const { return "/" + server_ + ".manifest"; }
    std::string filesUrlPath() const { return "/" + server_; }
    std::string fileUrlPath(std::string_view relative) const;

private:
    std::filesystem::path root_;
    std::string server_;
    std::vector<File> files_;
    std::optional<std::uint64_t> release_ = 1;
    std::string expires_ = "2999-12-31T23:59:59Z";
    std::string serverClaim_ = server_;
};

// A single-file payload: magic, original size, zlib stream of `contents`.
std::string singleFilePayload(std::string_view contents);

// Contents whose zlib stream is exactly as long as they are (a few noisy
// bytes, then a run that compresses just enough), and that stream: the one
// payload body the archive format cannot keep as it came. Empty when none is
// found.
std::pair<std::string, std::string> contentsAsLongAsTheirZlibStream();

// Writes a game archive holding `members` (name, contents), each compressed
// as an archive stores it. Aborts the test on failure.
void writeGameArchive(const std::filesystem::path& path,
                      const std::vector<std::pair<std::string, std::string>>& members);

// The messages of folder/launcher.log, timestamps removed, UTF-8.
std::vector<std::string> logMessages(const std::filesystem::path& folder);

// Every regular file below `folder` with its bytes, sorted by relative path;
// the staging folder (a run's downloads kept for the next run) is left out.
std::vector<std::pair<std::string, std::string>> folderSnapshot(const std::filesystem::path& folder);

// Records every status and progress report of a run, in arrival order, as
// "status: <text>" and "progress: <done>/<total>".
class PatchEventRecorder {
public:
    static void onStatus(const std::u16string& text);
    static void onProgress(std::int32_t done, std::int32_t total);
    static void clear();
    static std::vector<std::string> events();
    static std::vector<std::string> statuses();
    // The events after the first status equal to `status` (all when absent: empty).
    static std::vector<std::string> eventsAfter(std::string_view status);
};

}  // namespace mendly::test
