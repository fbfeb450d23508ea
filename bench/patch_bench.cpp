// patch_bench: runs one patch run against a patch host and reports how long
// each stage took, for bench/run.sh. Also prints the download list of a
// manifest for curl (as xargs arguments or as a config file), and measures
// the archive codec and the digest on one thread so that a run's time can be
// split into hashing, inflating and compressing, next to the compression
// levels the engine could have chosen.
//
//   patch_bench run --mode install|update|verify --base URL --server NAME --dir DIR [--log FOLDER]
//   patch_bench curl-args --manifest FILE --base URL --server NAME --out DIR
//                         [--changed-from OLD_MANIFEST] [--with-manifest yes]
//   patch_bench curl-config --manifest FILE --base URL --server NAME --out DIR [--changed-from OLD_MANIFEST]
//   patch_bench update-size --old OLD_MANIFEST --new NEW_MANIFEST --dir DIR
//   patch_bench codec --dir DIR [--limit BYTES]
//
// run: --mode picks PatchMode::Install, Update or Verify. Besides the stage
// times it prints what the run read and wrote, from /proc/self/io before and
// after runPatch (io_rchar, io_wchar, io_syscr, io_syscw, io_read_bytes,
// io_write_bytes, io_cancelled_write_bytes: the differences, so the start of
// the process itself is not counted).
//
// curl-config writes a config file for `curl -K` with a url/output pair for
// the manifest and for every file it lists, the addresses exactly as a run
// hands them to libcurl (escaped the same way). With --changed-from, both
// download lists hold only the files of --manifest that OLD_MANIFEST does not
// list with the same MD5: what an update from the old release to the new one
// fetches. curl-args lists the manifest too with --with-manifest yes.
//
// update-size: what an update from OLD_MANIFEST to NEW_MANIFEST has to write
// at the least into the installation DIR (run it once DIR holds the new
// release): the changed loose files, the stored bytes of the changed archive
// members (their sizes in DIR's archives), and the directories of the archives
// that gain, change or lose a member (header and records, as in DIR's archives).
//
// --log writes the run's launcher.log into FOLDER (truncating it), e.g. for
// the "Updating archive: <path> ..." lines of the archives a run rewrote.
//
// Output is "key value" lines on stdout. Exit codes: 0 ok, 1 failed, 2 usage.
#include <libdeflate.h>
#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hash/digest.h"
#include "hash/md5_lanes.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/url_split.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/manifest.h"
#include "patch/patch_reporting.h"
#include "patch/patch_run.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/format.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

Clock::time_point gStart;
std::mutex gTimelineMutex;
std::vector<std::pair<double, std::string>> gTimeline;  // seconds since start, status text

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Called on the run's thread and on worker threads.
void onStatus(const std::u16string& text) {
    const double at = secondsSince(gStart);
    std::lock_guard lock(gTimelineMutex);
    gTimeline.emplace_back(at, mendly::toUtf8(text));
}

double cpuSeconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }

// The time of the first status that begins with `prefix`, or -1.
double statusTime(const std::string& prefix) {
    for (const auto& [at, text] : gTimeline)
        if (text.rfind(prefix, 0) == 0) return at;
    return -1;
}

std::string statusText(const std::string& prefix) {
    for (const auto& [at, text] : gTimeline)
        if (text.rfind(prefix, 0) == 0) return text;
    return {};
}

// The counters of /proc/self/io ("rchar: 123" lines); empty when the file
// cannot be read (not Linux, or no task accounting in the kernel).
std::map<std::string, unsigned long long> processIo() {
    std::map<std::string, unsigned long long> out;
    std::ifstream in("/proc/self/io");
    std::string key;
    unsigned long long value = 0;
    while (in >> key >> value) {
        if (!key.empty() && key.back() == ':') key.pop_back();
        out[key] = value;
    }
    return out;
}

std::map<std::string, std::string> options(int argc, char** argv, int first) {
    std::map<std::string, std::string> out;
    for (int i = first; i + 1 < argc; i += 2) out[argv[i]] = argv[i + 1];
    return out;
}

int runCommand(std::map<std::string, std::string> opt) {
    const std::string mode = opt["--mode"];
    const std::map<std::string, mendly::PatchMode> modes = {
        {"install", mendly::PatchMode::Install},
        {"update", mendly::PatchMode::Update},
        {"verify", mendly::PatchMode::Verify},
    };
    if (!modes.contains(mode) || opt["--base"].empty() || opt["--server"].empty() || opt["--dir"].empty()) {
        std::cerr << "patch_bench run: --mode install|update|verify --base URL --server NAME --dir DIR\n";
        return 2;
    }
    const std::string base = opt["--base"] + "/" + opt["--server"];
    if (!opt["--log"].empty() && !mendly::LogFile::open(fs::path(opt["--log"]))) {
        std::cerr << "patch_bench run: cannot open launcher.log in " << opt["--log"] << '\n';
        return 1;
    }
    mendly::setPatchCallbacks(onStatus, nullptr);
    mendly::resetPatchCancel();
    std::u16string error;
    const auto ioBefore = processIo();
    gStart = Clock::now();
    const bool ok = mendly::runPatch(nullptr, mendly::toWide(base + ".manifest"), mendly::toWide(base + "/"),
                                     fs::path(opt["--dir"]), modes.at(mode), error);
    const double total = secondsSince(gStart);
    const auto ioAfter = processIo();
    mendly::setPatchCallbacks(nullptr, nullptr);
    mendly::LogFile::close();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result %s\n", ok ? "ok" : "failed");
    if (!ok) std::printf("error %s\n", mendly::toUtf8(error).c_str());
    std::printf("total_s %.3f\n", total);
    std::printf("cpu_user_s %.3f\ncpu_sys_s %.3f\nmax_rss_kib %ld\n", cpuSeconds(usage.ru_utime),
                cpuSeconds(usage.ru_stime), usage.ru_maxrss);
    for (const char* key :
         {"rchar", "wchar", "syscr", "syscw", "read_bytes", "write_bytes", "cancelled_write_bytes"}) {
        const auto before = ioBefore.find(key);
        const auto after = ioAfter.find(key);
        if (before == ioBefore.end() || after == ioAfter.end()) continue;
        std::printf("io_%s %llu\n", key, after->second - before->second);
    }

    const double manifest = statusTime("Downloading manifest...");
    const double verifying = statusTime("Verifying local files...");
    const double verified = statusTime("Verify done");
    const double downloading = statusTime("Downloading files...");
    const double applying = statusTime("Applying patches...");
    const double pruning = statusTime("Pruning orphan archive entries...");
    if (manifest >= 0 && verifying >= 0) std::printf("stage_manifest_s %.3f\n", verifying - manifest);
    if (verifying >= 0 && verified >= 0) std::printf("stage_verify_s %.3f\n", verified - verifying);
    if (downloading >= 0 && applying >= 0) std::printf("stage_download_s %.3f\n", applying - downloading);
    if (applying >= 0) std::printf("stage_apply_s %.3f\n", total - applying);
    if (pruning >= 0) std::printf("stage_prune_s %.3f\n", total - pruning);
    // Nothing to fetch: what follows verification (orphan entries, the record).
    if (verified >= 0 && downloading < 0) std::printf("stage_finish_s %.3f\n", total - verified);
    std::printf("verify_result %s\n", statusText("Verify done").c_str());
    std::string lastSpeed = "-";
    for (const auto& [at, text] : gTimeline)
        if (text.rfind("Downloading files (", 0) == 0) lastSpeed = text;
    std::printf("last_speed %s\n", lastSpeed.c_str());
    return ok ? 0 : 1;
}

// The manifest in the file `path`; false (with a message) when it cannot be read.
bool readManifestFile(const std::string& path, const char* command, mendly::PatchManifest& manifest) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string error;
    if (path.empty() || !in || !mendly::parseManifest(bytes, manifest, error)) {
        std::cerr << "patch_bench " << command << ": cannot read the manifest " << path << ' '
                  << mendly::toUtf8(error) << '\n';
        return false;
    }
    return true;
}

// The manifest named by --manifest, for the download lists below; false
// (with a message) when it cannot be read or --out is missing.
bool readManifestOption(std::map<std::string, std::string>& opt, const char* command,
                        mendly::PatchManifest& manifest) {
    if (!readManifestFile(opt["--manifest"], command, manifest)) return false;
    if (opt["--out"].empty()) {
        std::cerr << "patch_bench " << command << ": --out DIR is missing\n";
        return false;
    }
    return true;
}

// The relative paths of `older` with their MD5 as the document gives it.
std::map<std::string, std::string> md5ByPath(const mendly::PatchManifest& older) {
    std::map<std::string, std::string> out;
    for (const auto& entry : older.files) out[entry.relative] = entry.md5;
    return out;
}

// True when `older` lists `entry` with the same MD5 (case ignored).
bool unchangedIn(const std::map<std::string, std::string>& older, const mendly::ManifestEntry& entry) {
    const auto it = older.find(entry.relative);
    return it != older.end() && mendly::md5Matches(entry.md5, it->second);
}

// With --changed-from, `manifest` keeps only the files the older manifest
// does not list with the same MD5; false when that manifest cannot be read.
bool keepChanged(std::map<std::string, std::string>& opt, const char* command, mendly::PatchManifest& manifest) {
    if (opt["--changed-from"].empty()) return true;
    mendly::PatchManifest older;
    if (!readManifestFile(opt["--changed-from"], command, older)) return false;
    const auto previous = md5ByPath(older);
    std::erase_if(manifest.files, [&](const mendly::ManifestEntry& entry) { return unchangedIn(previous, entry); });
    return true;
}

// NUL-separated "-o", target, address triples for `xargs -0 -n 48 curl`.
int curlArgsCommand(std::map<std::string, std::string> opt) {
    mendly::PatchManifest manifest;
    if (!readManifestOption(opt, "curl-args", manifest) || !keepChanged(opt, "curl-args", manifest)) return 1;
    const std::u16string filesBase = mendly::toWide(opt["--base"] + "/" + opt["--server"] + "/");
    if (opt["--with-manifest"] == "yes") {
        const std::string target = opt["--out"] + "/" + opt["--server"] + ".manifest";
        const std::string url = opt["--base"] + "/" + opt["--server"] + ".manifest";
        std::fwrite("-o", 1, 3, stdout);
        std::fwrite(target.c_str(), 1, target.size() + 1, stdout);
        std::fwrite(url.c_str(), 1, url.size() + 1, stdout);
    }
    for (const auto& entry : manifest.files) {
        std::string relative = entry.relative;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const std::string target = opt["--out"] + "/" + relative;
        const std::string url = mendly::toUtf8(mendly::fileUrl(filesBase, entry));
        std::fwrite("-o", 1, 3, stdout);
        std::fwrite(target.c_str(), 1, target.size() + 1, stdout);
        std::fwrite(url.c_str(), 1, url.size() + 1, stdout);
    }
    return 0;
}

// A double-quoted string of a curl config file.
std::string curlQuoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\v': out += "\\v"; break;
            default: out += c;
        }
    }
    return out + "\"";
}

// "url = ..." / "output = ..." lines for `curl -K`: the manifest first, then
// every file of the manifest, each at the address a run requests it from.
int curlConfigCommand(std::map<std::string, std::string> opt) {
    mendly::PatchManifest manifest;
    if (!readManifestOption(opt, "curl-config", manifest) || !keepChanged(opt, "curl-config", manifest)) return 1;
    const std::string base = opt["--base"] + "/" + opt["--server"];
    // The address libcurl is given for `url`, as the engine's HTTP client
    // builds it; false when the engine would refuse the address.
    const auto requested = [](const std::u16string& url, std::string& out) {
        mendly::SplitUrl parts;
        std::u16string error;
        if (!mendly::splitUrl(url, parts, error)) {
            std::cerr << "patch_bench curl-config: " << mendly::toUtf8(url) << ": " << mendly::toUtf8(error) << '\n';
            return false;
        }
        out = parts.requestUrl;
        return true;
    };
    std::string url;
    if (!requested(mendly::toWide(base + ".manifest"), url)) return 1;
    std::string text = "url = " + curlQuoted(url) + "\noutput = " +
                       curlQuoted(opt["--out"] + "/" + opt["--server"] + ".manifest") + "\n";
    const std::u16string filesBase = mendly::toWide(base + "/");
    for (const auto& entry : manifest.files) {
        std::string relative = entry.relative;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        if (!requested(mendly::fileUrl(filesBase, entry), url)) return 1;
        text += "url = " + curlQuoted(url) + "\noutput = " + curlQuoted(opt["--out"] + "/" + relative) + "\n";
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

// What an update from --old to --new writes at the least into --dir (which
// holds the new release): see the comment at the top. Sizes of archive
// members and directories are read from DIR's archives; a changed member
// missing there is reported and counted by its size as served.
int updateSizeCommand(std::map<std::string, std::string> opt) {
    mendly::PatchManifest older, newer;
    if (!readManifestFile(opt["--old"], "update-size", older) || !readManifestFile(opt["--new"], "update-size", newer))
        return 1;
    if (opt["--dir"].empty()) {
        std::cerr << "patch_bench update-size: --old OLD_MANIFEST --new NEW_MANIFEST --dir DIR\n";
        return 2;
    }
    const fs::path dir = opt["--dir"];
    const auto previous = md5ByPath(older);
    std::set<std::string> current;
    for (const auto& entry : newer.files) current.insert(entry.relative);

    std::map<std::string, std::optional<mendly::vfile::Archive>> archives;  // by archive name
    const auto archiveNamed = [&](const std::string& name) -> const mendly::vfile::Archive* {
        auto it = archives.find(name);
        if (it == archives.end())
            it = archives.emplace(name, mendly::vfile::Archive::open(mendly::archivePathFor(dir, name))).first;
        return it->second ? &*it->second : nullptr;
    };
    std::set<std::string> touched;  // archives that gain, change or lose a member
    std::uint64_t looseFiles = 0, looseBytes = 0, members = 0, memberStored = 0, memberContents = 0;
    std::uint64_t servedBytes = 0, missing = 0, deletedMembers = 0, deletedLoose = 0;
    for (const auto& entry : newer.files) {
        if (unchangedIn(previous, entry)) continue;
        servedBytes += entry.size.value_or(0);
        const auto ref = mendly::classifyArchivePath(entry.relative);
        if (!ref) {
            ++looseFiles;
            std::error_code ec;
            const auto size = fs::file_size(mendly::looseFilePath(dir, entry.relative), ec);
            looseBytes += ec ? entry.size.value_or(0) : size;
            if (ec) ++missing;
            continue;
        }
        ++members;
        touched.insert(ref->archiveName);
        const auto* archive = archiveNamed(ref->archiveName);
        const auto found = archive ? archive->find(ref->memberPath) : std::nullopt;
        if (!found) {
            ++missing;
            memberStored += entry.size.value_or(0);
            continue;
        }
        memberStored += found->storedSize;
        memberContents += found->originalSize;
    }
    for (const auto& entry : older.files) {
        if (current.contains(entry.relative)) continue;
        const auto ref = mendly::classifyArchivePath(entry.relative);
        if (!ref) {
            ++deletedLoose;
            continue;
        }
        ++deletedMembers;
        touched.insert(ref->archiveName);
    }
    std::uint64_t directoryBytes = 0, archiveBytes = 0;
    for (const std::string& name : touched) {
        const auto* archive = archiveNamed(name);
        if (!archive) continue;
        directoryBytes += mendly::vfile::kHeaderSize;
        for (const auto& entry : archive->entries()) directoryBytes += mendly::vfile::kRecordFixedSize + entry.name.size();
        std::error_code ec;
        const auto size = fs::file_size(archive->path(), ec);
        if (!ec) archiveBytes += size;
    }
    const auto u = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    std::printf("changed_loose_files %llu\nchanged_loose_bytes %llu\n", u(looseFiles), u(looseBytes));
    std::printf("changed_members %llu\nchanged_member_stored_bytes %llu\nchanged_member_content_bytes %llu\n",
                u(members), u(memberStored), u(memberContents));
    std::printf("deleted_members %llu\ndeleted_loose_files %llu\n", u(deletedMembers), u(deletedLoose));
    std::printf("touched_archives %llu\ntouched_archive_bytes %llu\ntouched_directory_bytes %llu\n",
                u(touched.size()), u(archiveBytes), u(directoryBytes));
    std::printf("changed_served_bytes %llu\nmissing %llu\n", u(servedBytes), u(missing));
    std::printf("floor_bytes %llu\n", u(looseBytes + memberStored + directoryBytes));
    return missing == 0 ? 0 : 1;
}

// One way of writing a zlib stream, measured on the same members as the
// engine's own codec: zlib's compress2 or libdeflate at a given level.
struct LevelCandidate {
    std::string name;  // the key part of its output lines, e.g. "libdeflate6"
    bool zlib = false;
    int level = 0;
    libdeflate_compressor* compressor = nullptr;
    double compressS = 0;
    double inflateS = 0;
    std::uint64_t streamBytes = 0;
    std::uint64_t compressibleStreamBytes = 0;  // of the members zlib level 6 shrinks
};

// Compresses `contents` into `stream` (sized to fit) and inflates it again into
// `check`, timing both. False when a call fails or the round trip does not give
// the contents back: a wrong figure is worse than none.
bool measureCandidate(LevelCandidate& candidate, libdeflate_decompressor* decompressor, const std::string& contents,
                      std::string& stream, std::string& check) {
    std::size_t streamSize = 0;
    auto t = Clock::now();
    if (candidate.zlib) {
        uLongf destLen = compressBound(static_cast<uLong>(contents.size()));
        stream.resize(destLen);
        t = Clock::now();
        if (compress2(reinterpret_cast<Bytef*>(stream.data()), &destLen,
                      reinterpret_cast<const Bytef*>(contents.data()), static_cast<uLong>(contents.size()),
                      candidate.level) != Z_OK)
            return false;
        streamSize = destLen;
    } else {
        stream.resize(libdeflate_zlib_compress_bound(candidate.compressor, contents.size()));
        t = Clock::now();
        streamSize = libdeflate_zlib_compress(candidate.compressor, contents.data(), contents.size(), stream.data(),
                                              stream.size());
        if (streamSize == 0) return false;
    }
    candidate.compressS += secondsSince(t);
    candidate.streamBytes += streamSize;

    // Each library inflates its own streams, as a reader built on it would.
    check.resize(contents.size());
    if (candidate.zlib) {
        uLongf destLen = static_cast<uLongf>(check.size());
        t = Clock::now();
        // zlib wants a non-null destination even for zero bytes; std::string gives one.
        const int rc = uncompress(reinterpret_cast<Bytef*>(check.data()), &destLen,
                                  reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(streamSize));
        candidate.inflateS += secondsSince(t);
        if (rc != Z_OK || destLen != contents.size()) return false;
    } else {
        std::size_t got = 0;
        t = Clock::now();
        const auto rc =
            libdeflate_zlib_decompress(decompressor, stream.data(), streamSize, check.data(), check.size(), &got);
        candidate.inflateS += secondsSince(t);
        if (rc != LIBDEFLATE_SUCCESS || got != contents.size()) return false;
    }
    return std::memcmp(check.data(), contents.data(), contents.size()) == 0;
}

// One thread, a sample of the members of the installed archives of about
// `limit` content bytes (every k-th member across all archives, so that every
// archive and both kinds of contents are represented): reading the stored
// bytes, inflating them, hashing the contents, and compressing them again as
// an install does; then the same contents through zlib at level 6 and
// libdeflate at the levels worth considering.
// What the codec measurement adds up over its sample.
struct CodecTotals {
    double readS = 0, inflateS = 0, md5S = 0, md5LanesS = 0, deflateS = 0;
    std::uint64_t contentBytes = 0, storedBytes = 0, engineStoredBytes = 0, members = 0;
    std::uint64_t compressibleMembers = 0, compressibleBytes = 0;
    std::string stream, check;  // buffers reused from member to member
    // Up to eight members' contents and MD5s, hashed again side by side as
    // Verify does (Md5Lanes) once the group is full.
    std::vector<std::pair<std::string, std::string>> group;
};

// Hashes the group's contents in the lanes of one Md5Lanes; an empty text
// when every digest agrees with the one hashed alone.
std::string hashGroupSideBySide(CodecTotals& totals) {
    const auto t = Clock::now();
    mendly::Md5Lanes lanes;
    for (std::size_t k = 0; k < totals.group.size(); ++k) lanes.give(k, totals.group[k].first);
    for (bool busy = true; busy;) {
        lanes.hash();
        busy = false;
        for (std::size_t k = 0; k < totals.group.size(); ++k) busy = busy || !lanes.wants(k);
    }
    std::vector<std::string> digests;
    for (std::size_t k = 0; k < totals.group.size(); ++k) digests.push_back(lanes.finishHex(k));
    totals.md5LanesS += secondsSince(t);
    for (std::size_t k = 0; k < totals.group.size(); ++k) {
        if (digests[k] != totals.group[k].second) return "MD5 side by side differs from MD5 alone";
    }
    totals.group.clear();
    return {};
}

// One member: read, inflated, hashed and compressed as the engine does, then
// through every candidate. An empty text on success, else what failed.
std::string measureMember(const mendly::vfile::Archive& archive, const mendly::vfile::ArchiveEntry& entry,
                          std::vector<LevelCandidate>& candidates, libdeflate_decompressor* decompressor,
                          CodecTotals& totals) {
    auto t = Clock::now();
    const auto stored = archive.readStored(entry);
    totals.readS += secondsSince(t);
    if (!stored) return "cannot read";
    t = Clock::now();
    const auto contents = mendly::vfile::expandStoredEntry(stored->bytes, stored->originalSize);
    totals.inflateS += secondsSince(t);
    if (!contents) return "does not inflate";
    t = Clock::now();
    const std::string md5 = mendly::md5Hex(*contents);
    totals.md5S += secondsSince(t);
    t = Clock::now();
    const auto again = mendly::vfile::compressEntry(*contents);
    totals.deflateS += secondsSince(t);
    if (md5.empty() || !again) return "cannot hash or compress";
    totals.group.emplace_back(*contents, md5);
    if (totals.group.size() == mendly::Md5Lanes::kLanes) {
        if (auto failed = hashGroupSideBySide(totals); !failed.empty()) return failed;
    }
    // What the engine wrote must read back as the same contents.
    const auto back = mendly::vfile::expandStoredEntry(again->bytes, again->originalSize);
    if (!back || *back != *contents) return "the engine's stored form does not read back";

    // zlib at level 6 (the first candidate) decides which members count as
    // compressible: those whose stream comes out shorter than them.
    std::vector<std::uint64_t> streamSizes;
    for (auto& candidate : candidates) {
        const std::uint64_t before = candidate.streamBytes;
        if (!measureCandidate(candidate, decompressor, *contents, totals.stream, totals.check))
            return candidate.name + " round trip failed";
        streamSizes.push_back(candidate.streamBytes - before);
    }
    const bool compressible = streamSizes.front() < contents->size();
    if (compressible) {
        for (std::size_t i = 0; i < candidates.size(); ++i) candidates[i].compressibleStreamBytes += streamSizes[i];
        ++totals.compressibleMembers;
        totals.compressibleBytes += contents->size();
    }
    totals.contentBytes += contents->size();
    totals.storedBytes += stored->bytes.size();
    totals.engineStoredBytes += again->bytes.size();
    ++totals.members;
    return {};
}

void printCodecTotals(const CodecTotals& totals, const std::vector<LevelCandidate>& candidates,
                      std::uint64_t stride, std::uint64_t allContentBytes) {
    const double mib = static_cast<double>(totals.contentBytes) / 1048576.0;
    const auto percent = [](std::uint64_t part, std::uint64_t whole) {
        return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
    };
    std::printf("codec_members %llu\ncodec_content_mib %.1f\ncodec_stored_mib %.1f\n",
                static_cast<unsigned long long>(totals.members), mib,
                static_cast<double>(totals.storedBytes) / 1048576.0);
    std::printf("codec_sample_stride %llu\ncodec_all_content_mib %.1f\n", static_cast<unsigned long long>(stride),
                static_cast<double>(allContentBytes) / 1048576.0);
    std::printf("codec_read_mibps %.1f\ncodec_inflate_mibps %.1f\ncodec_md5_mibps %.1f\ncodec_deflate_mibps %.1f\n",
                mib / totals.readS, mib / totals.inflateS, mib / totals.md5S, mib / totals.deflateS);
    std::printf("codec_md5_lanes_mibps %.1f\n", mib / totals.md5LanesS);
    std::printf("codec_engine_stored_pct %.1f\n", percent(totals.engineStoredBytes, totals.contentBytes));
    std::printf("codec_compressible_members %llu\ncodec_compressible_mib %.1f\n",
                static_cast<unsigned long long>(totals.compressibleMembers),
                static_cast<double>(totals.compressibleBytes) / 1048576.0);
    std::string names;
    for (const auto& candidate : candidates) names += (names.empty() ? "" : " ") + candidate.name;
    std::printf("codec_levels %s\n", names.c_str());
    for (const auto& candidate : candidates) {
        const char* n = candidate.name.c_str();
        std::printf("codec_%s_size_pct %.2f\n", n, percent(candidate.streamBytes, totals.contentBytes));
        std::printf("codec_%s_compressible_size_pct %.2f\n", n,
                    percent(candidate.compressibleStreamBytes, totals.compressibleBytes));
        std::printf("codec_%s_deflate_mibps %.1f\n", n, mib / candidate.compressS);
        std::printf("codec_%s_inflate_mibps %.1f\n", n, mib / candidate.inflateS);
    }
}

int codecCommand(std::map<std::string, std::string> opt) {
    const fs::path dir = opt["--dir"];
    const std::uint64_t limit = opt["--limit"].empty() ? (256ull << 20) : std::stoull(opt["--limit"]);

    std::vector<mendly::vfile::Archive> archives;
    std::uint64_t allContentBytes = 0;
    for (const std::string_view name : mendly::archiveNameTable) {
        auto archive = mendly::vfile::Archive::open(mendly::archivePathFor(dir, name));
        if (!archive) continue;
        for (const auto& entry : archive->entries()) allContentBytes += entry.originalSize;
        archives.push_back(std::move(*archive));
    }
    if (archives.empty() || limit == 0) {
        std::cerr << "patch_bench codec: no archive in " << dir << '\n';
        return 1;
    }
    const std::uint64_t stride = std::max<std::uint64_t>(1, (allContentBytes + limit - 1) / limit);

    std::vector<LevelCandidate> candidates;
    candidates.push_back({"zlib6", true, 6});
    for (const int level : {1, 3, 4, 6, 9}) candidates.push_back({"libdeflate" + std::to_string(level), false, level});
    for (auto& candidate : candidates) {
        if (candidate.zlib) continue;
        candidate.compressor = libdeflate_alloc_compressor(candidate.level);
        if (!candidate.compressor) return 1;
    }
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    if (!decompressor) return 1;
    CodecTotals totals;
    std::string failure;
    std::uint64_t position = 0;
    for (const auto& archive : archives) {
        for (const auto& entry : archive.entries()) {
            if (position++ % stride != 0) continue;
            if (totals.contentBytes >= limit || !failure.empty()) break;
            failure = measureMember(archive, entry, candidates, decompressor, totals);
            if (!failure.empty())
                std::cerr << "patch_bench codec: " << failure << ": " << entry.name << " in "
                          << archive.path().string() << '\n';
        }
    }
    if (failure.empty() && !totals.group.empty()) failure = hashGroupSideBySide(totals);
    for (auto& candidate : candidates) libdeflate_free_compressor(candidate.compressor);
    libdeflate_free_decompressor(decompressor);
    if (!failure.empty()) return 1;
    if (totals.members == 0 || totals.contentBytes == 0) {
        std::cerr << "patch_bench codec: the archives in " << dir << " hold no contents\n";
        return 1;
    }
    printCodecTotals(totals, candidates, stride, allContentBytes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (argc % 2 != 0 && command != "") {
        std::cerr << "patch_bench: options come in pairs\n";
        return 2;
    }
    if (command == "run") return runCommand(options(argc, argv, 2));
    if (command == "curl-args") return curlArgsCommand(options(argc, argv, 2));
    if (command == "curl-config") return curlConfigCommand(options(argc, argv, 2));
    if (command == "update-size") return updateSizeCommand(options(argc, argv, 2));
    if (command == "codec") return codecCommand(options(argc, argv, 2));
    std::cerr << "Usage: patch_bench run|curl-args|curl-config|update-size|codec [--option value]...\n";
    return 2;
}
