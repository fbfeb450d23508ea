// patch_bench: runs one patch run against a patch host and reports how long
// each stage took, for bench/run.sh. Also prints the download list of a
// manifest for curl, and measures the archive codec and the digest on one
// thread so that a run's time can be split into hashing, inflating and
// compressing.
//
//   patch_bench run --mode install|update --base URL --server NAME --dir DIR
//   patch_bench curl-args --manifest FILE --base URL --server NAME --out DIR
//   patch_bench codec --dir DIR [--limit BYTES]
//
// Output is "key value" lines on stdout. Exit codes: 0 ok, 1 failed, 2 usage.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hash/digest.h"
#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/manifest.h"
#include "patch/patch_reporting.h"
#include "patch/patch_run.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/entry_codec.h"

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

std::map<std::string, std::string> options(int argc, char** argv, int first) {
    std::map<std::string, std::string> out;
    for (int i = first; i + 1 < argc; i += 2) out[argv[i]] = argv[i + 1];
    return out;
}

int runCommand(std::map<std::string, std::string> opt) {
    const std::string mode = opt["--mode"];
    if ((mode != "install" && mode != "update") || opt["--base"].empty() || opt["--server"].empty() ||
        opt["--dir"].empty()) {
        std::cerr << "patch_bench run: --mode install|update --base URL --server NAME --dir DIR\n";
        return 2;
    }
    const std::string base = opt["--base"] + "/" + opt["--server"];
    mendly::setPatchCallbacks(onStatus, nullptr);
    mendly::resetPatchCancel();
    std::u16string error;
    gStart = Clock::now();
    const bool ok = mendly::runPatch(nullptr, mendly::toWide(base + ".manifest"), mendly::toWide(base + "/"),
                                     fs::path(opt["--dir"]), mode == "install" ? mendly::PatchMode::Install
                                                                               : mendly::PatchMode::Update,
                                     error);
    const double total = secondsSince(gStart);
    mendly::setPatchCallbacks(nullptr, nullptr);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result %s\n", ok ? "ok" : "failed");
    if (!ok) std::printf("error %s\n", mendly::toUtf8(error).c_str());
    std::printf("total_s %.3f\n", total);
    std::printf("cpu_user_s %.3f\ncpu_sys_s %.3f\nmax_rss_kib %ld\n", cpuSeconds(usage.ru_utime),
                cpuSeconds(usage.ru_stime), usage.ru_maxrss);

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
    std::printf("verify_result %s\n", statusText("Verify done").c_str());
    std::string lastSpeed = "-";
    for (const auto& [at, text] : gTimeline)
        if (text.rfind("Downloading files (", 0) == 0) lastSpeed = text;
    std::printf("last_speed %s\n", lastSpeed.c_str());
    return ok ? 0 : 1;
}

// NUL-separated "-o", target, address triples for `xargs -0 -n 48 curl`.
int curlArgsCommand(std::map<std::string, std::string> opt) {
    std::ifstream in(opt["--manifest"], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    mendly::PatchManifest manifest;
    std::u16string error;
    if (!in || !mendly::parseManifest(bytes, manifest, error) || opt["--out"].empty()) {
        std::cerr << "patch_bench curl-args: cannot read the manifest " << opt["--manifest"] << ' '
                  << mendly::toUtf8(error) << '\n';
        return 1;
    }
    const std::u16string filesBase = mendly::toWide(opt["--base"] + "/" + opt["--server"] + "/");
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

// One thread, members of the installed archives up to `limit` content bytes:
// reading the stored bytes, inflating them, hashing the contents, and
// compressing them again as an install does.
int codecCommand(std::map<std::string, std::string> opt) {
    const fs::path dir = opt["--dir"];
    std::uint64_t limit = opt["--limit"].empty() ? (256ull << 20) : std::stoull(opt["--limit"]);
    double readS = 0, inflateS = 0, md5S = 0, deflateS = 0;
    std::uint64_t contentBytes = 0, storedBytes = 0, members = 0;
    for (const std::string_view name : mendly::archiveNameTable) {
        const auto archive = mendly::vfile::Archive::open(mendly::archivePathFor(dir, name));
        if (!archive) continue;
        for (const auto& entry : archive->entries()) {
            if (contentBytes >= limit) break;
            auto t = Clock::now();
            const auto stored = archive->readStored(entry);
            readS += secondsSince(t);
            if (!stored) return 1;
            t = Clock::now();
            const auto contents = mendly::vfile::expandStoredEntry(stored->bytes, stored->originalSize);
            inflateS += secondsSince(t);
            if (!contents) return 1;
            t = Clock::now();
            const std::string md5 = mendly::md5Hex(*contents);
            md5S += secondsSince(t);
            t = Clock::now();
            const auto again = mendly::vfile::compressEntry(*contents);
            deflateS += secondsSince(t);
            if (md5.empty() || !again) return 1;
            contentBytes += contents->size();
            storedBytes += stored->bytes.size();
            ++members;
        }
    }
    const double mib = static_cast<double>(contentBytes) / 1048576.0;
    std::printf("codec_members %llu\ncodec_content_mib %.1f\ncodec_stored_mib %.1f\n",
                static_cast<unsigned long long>(members), mib, static_cast<double>(storedBytes) / 1048576.0);
    std::printf("codec_read_mibps %.1f\ncodec_inflate_mibps %.1f\ncodec_md5_mibps %.1f\ncodec_deflate_mibps %.1f\n",
                mib / readS, mib / inflateS, mib / md5S, mib / deflateS);
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
    if (command == "codec") return codecCommand(options(argc, argv, 2));
    std::cerr << "Usage: patch_bench run|curl-args|codec [--option value]...\n";
    return 2;
}
