#include "patch/download_stage.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_client.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/patch_reporting.h"
#include "patch/speed_reporter.h"
#include "patch/vfile/entry_codec.h"
#include "patch/worker_count.h"

namespace mendly {
namespace {

// Shared by the workers of one stage.
struct StageState {
    StageState(const PatchManifest& m, const std::vector<std::size_t>& l, std::u16string_view base, PatchWindow* w,
               std::vector<DownloadSlot>& s)
        : manifest(m), list(l), filesBaseUrl(base), window(w), slots(s) {}

    const PatchManifest& manifest;
    const std::vector<std::size_t>& list;
    std::u16string_view filesBaseUrl;
    PatchWindow* window;
    std::vector<DownloadSlot>& slots;

    std::atomic<std::uint64_t> next{0};
    std::atomic<std::int32_t> failed{0};
    std::atomic<std::int32_t> done{0};
    std::atomic<std::uint64_t> bytesReceived{0};
    std::mutex firstErrorMutex;
    std::u16string firstError;
};

void recordFailure(StageState& state, const std::u16string& url, const std::u16string& message) {
    state.failed.fetch_add(1);
    LogFile::write(u"ERROR: " + url + u" \u2014 " + message);
    const std::lock_guard lock(state.firstErrorMutex);
    if (state.firstError.empty()) state.firstError = message;
}

// One position of the list; false when the worker must end (cancelled). Never
// throws: running out of memory for a body counts as that file's failure.
bool downloadOne(StageState& state, SpeedReporter& speed, std::size_t position) {
    const std::size_t index = state.list[position];
    const ManifestEntry& entry = state.manifest.files[index];
    DownloadSlot& slot = state.slots[position];
    slot.index = index;

    std::u16string url;
    try {
        url = fileUrl(state.filesBaseUrl, entry);
        const std::u16string name = toWide(entry.relative);
        std::string bytes;
        std::u16string error;
        if (!httpGet(url, bytes, error, &patchCancelFlag())) {
            if (isPatchCancelRequested() || error == u"Cancelled") return false;
            recordFailure(state, url, error.empty() ? std::u16string(u"Download failed") : error);
            return true;
        }
        state.bytesReceived.fetch_add(bytes.size());
        if (!md5Matches(md5Hex(bytes), entry.md5)) {
            recordFailure(state, url, u"Hash mismatch after download: " + name);
            return true;
        }
        const auto member = classifyArchivePath(entry.relative);
        if (member && !member->hadPakPrefix) {
            if (auto stored = vfile::compressEntry(bytes)) {
                slot.prepared = std::move(*stored);
                bytes = std::string();
            }
        }
        slot.bytes = std::move(bytes);
        slot.ok = true;
    } catch (...) {
        slot.bytes.clear();
        slot.ok = false;
        try {
            recordFailure(state, url, u"Download failed");
        } catch (...) {
            state.failed.fetch_add(1);  // at least the count must show the failure
        }
        return true;
    }
    const std::int32_t done = state.done.fetch_add(1) + 1;
    try {
        reportProgress(state.window, done, static_cast<std::int32_t>(state.list.size()));
        speed.tick();
    } catch (...) {
        // A report that could not be allocated is lost; the file itself is safe.
    }
    return true;
}

}  // namespace

DownloadResult downloadFiles(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                             std::u16string_view filesBaseUrl, PatchWindow* window) {
    DownloadResult result;
    result.slots.resize(list.size());
    StageState state(manifest, list, filesBaseUrl, window, result.slots);
    SpeedReporter speed(state.bytesReceived, window);

    auto worker = [&] {
        while (!isPatchCancelRequested()) {
            const std::uint64_t position = state.next.fetch_add(1);
            if (position >= list.size()) return;
            if (!downloadOne(state, speed, static_cast<std::size_t>(position))) return;
        }
    };

    {
        std::vector<std::jthread> workers;
        const unsigned count = workerCount(static_cast<std::int64_t>(list.size()));
        workers.reserve(count);
        for (unsigned w = 0; w < count; ++w) workers.emplace_back(worker);
    }  // joined here

    result.failed = state.failed.load();
    result.firstError = std::move(state.firstError);
    return result;
}

}  // namespace mendly
