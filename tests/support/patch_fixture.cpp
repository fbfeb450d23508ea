#include "support/patch_fixture.h"

#include "patch/staging_area.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "hash/digest.h"
#include "log/text.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/single_file_payload.h"
#include "support/temp_dir.h"

namespace mendly::test {
namespace fs = std::filesystem;

namespace {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string slashed(std::string_view relative) {
    std::string out(relative);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::mutex g_eventsMutex;
std::vector<std::string> g_events;

void record(std::string event) {
    const std::lock_guard lock(g_eventsMutex);
    g_events.push_back(std::move(event));
}

}  // namespace

PatchHostFolder::PatchHostFolder(fs::path root, std::string server) : root_(std::move(root)), server_(std::move(server)) {}

void PatchHostFolder::addFile(std::string relative, std::string served) {
    removeFile(relative);
    std::string md5 = md5Hex(served);
    std::string sha256 = sha256Hex(served);
    files_.push_back({std::move(relative), std::move(served), std::move(md5), true, std::move(sha256), {}});
}

void PatchHostFolder::addPayloadFile(std::string relative, std::string_view contents) {
    addFile(std::move(relative), singleFilePayload(contents));
}

void PatchHostFolder::removeFile(std::string_view relative) {
    std::erase_if(files_, [&](const File& f) { return f.relative == relative; });
}

const PatchHostFolder::File& PatchHostFolder::file(std::string_view relative) const {
    const auto found = std::find_if(files_.begin(), files_.end(), [&](const File& f) { return f.relative == relative; });
    if (found == files_.end()) {
        ADD_FAILURE() << "no such host file: " << relative;
        static const File none;
        return none;
    }
    return *found;
}

void PatchHostFolder::setManifestMd5(std::string_view relative, std::string md5) {
    for (File& f : files_)
        if (f.relative == relative) f.md5 = std::move(md5);
}

void PatchHostFolder::setManifestSha256(std::string_view relative, std::string sha256) {
    for (File& f : files_)
        if (f.relative == relative) f.sha256 = std::move(sha256);
}

void PatchHostFolder::setPublished(std::string_view relative, bool published) {
    for (File& f : files_)
        if (f.relative == relative) f.published = published;
}

void PatchHostFolder::addDelta(std::string_view relative, std::string from, std::string path, std::string bytes) {
    for (File& f : files_)
        if (f.relative == relative) f.deltas.push_back({std::move(from), std::move(path), std::move(bytes)});
}

namespace {

// ", \"deltas\": [...]" for a file that has deltas; empty otherwise.
std::string deltasJson(const PatchHostFolder::File& file) {
    if (file.deltas.empty()) return {};
    std::string json = ", \"deltas\": [";
    for (std::size_t i = 0; i < file.deltas.size(); ++i) {
        const auto& d = file.deltas[i];
        json += std::string(i == 0 ? "" : ", ") + "{\"from\": " + jsonString(d.from) + ", \"path\": " +
                jsonString(d.path) + ", \"size\": " + std::to_string(d.bytes.size()) +
                ", \"sha256\": " + jsonString(sha256Hex(d.bytes)) + "}";
    }
    return json + "]";
}

}  // namespace

std::string PatchHostFolder::manifestJson() const {
    const bool sizes = std::any_of(files_.begin(), files_.end(), [](const File& f) { return !f.deltas.empty(); });
    std::string json = "{\n  \"files\": [";
    for (std::size_t i = 0; i < files_.size(); ++i) {
        json += i == 0 ? "\n" : ",\n";
        json += "    {\"md5\": " + jsonString(files_[i].md5) + ", \"relative\": " + jsonString(files_[i].relative);
        if (!files_[i].sha256.empty()) json += ", \"sha256\": " + jsonString(files_[i].sha256);
        if (sizes) json += ", \"size\": " + std::to_string(files_[i].served.size());
        json += deltasJson(files_[i]) + "}";
    }
    json += "\n  ],\n  \"generated\": \"2024-05-01T12:00:00Z\"";
    if (release_) json += ",\n  \"release\": " + std::to_string(*release_);
    if (!expires_.empty()) json += ",\n  \"expires\": " + jsonString(expires_);
    if (!serverClaim_.empty()) json += ",\n  \"server\": " + jsonString(serverClaim_);
    return json + "\n}";
}

void PatchHostFolder::publish() const {
    std::error_code ec;
    fs::remove_all(root_ / server_, ec);
    writeFile(root_ / (server_ + ".manifest"), manifestJson());
    for (const File& f : files_) {
        if (f.published) writeFile(root_ / server_ / fs::path(slashed(f.relative)), f.served);
        for (const File::Delta& d : f.deltas) writeFile(root_ / server_ / fs::path(d.path), d.bytes);
    }
}

std::string PatchHostFolder::fileUrlPath(std::string_view relative) const {
    return filesUrlPath() + "/" + slashed(relative);
}

std::string singleFilePayload(std::string_view contents) {
    const auto stream = vfile::zlibCompress(contents);
    if (!stream) {
        ADD_FAILURE() << "cannot compress payload";
        return {};
    }
    const auto payload =
        vfile::buildSingleFilePayload(vfile::StoredEntry{*stream, static_cast<std::uint32_t>(contents.size())});
    if (!payload) ADD_FAILURE() << "cannot build payload";
    return payload.value_or(std::string());
}

void writeGameArchive(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& members) {
    std::vector<vfile::NamedEntry> entries;
    for (const auto& [name, contents] : members) {
        const auto stored = vfile::compressEntry(contents);
        ASSERT_TRUE(stored) << name;
        entries.push_back({name, *stored});
    }
    ASSERT_TRUE(vfile::writeArchiveFile(path, entries)) << path;
}

std::vector<std::string> logMessages(const fs::path& folder) {
    constexpr std::size_t kTimestamp = 24;  // "YYYY-MM-DD HH:MM:SS.mmm "
    std::vector<std::string> messages;
    const std::string text = readFile(folder / "launcher.log");
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        messages.push_back(line.size() >= kTimestamp ? line.substr(kTimestamp) : line);
        start = end + 1;
    }
    return messages;
}

std::vector<std::pair<std::string, std::string>> folderSnapshot(const fs::path& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const auto& item = *it;
        if (it.depth() == 0 && item.path().filename() == kPatchStagingFolderName) {
            it.disable_recursion_pending();
            continue;
        }
        if (item.is_regular_file())
            files.emplace_back(fs::relative(item.path(), folder).generic_string(), readFile(item.path()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

void PatchEventRecorder::onStatus(const std::u16string& text) { record("status: " + toUtf8(text)); }

void PatchEventRecorder::onProgress(std::int32_t done, std::int32_t total) {
    record("progress: " + std::to_string(done) + "/" + std::to_string(total));
}

void PatchEventRecorder::clear() {
    const std::lock_guard lock(g_eventsMutex);
    g_events.clear();
}

std::vector<std::string> PatchEventRecorder::events() {
    const std::lock_guard lock(g_eventsMutex);
    return g_events;
}

std::vector<std::string> PatchEventRecorder::statuses() {
    std::vector<std::string> out;
    for (const std::string& e : events())
        if (e.starts_with("status: ")) out.push_back(e.substr(8));
    return out;
}

std::vector<std::string> PatchEventRecorder::eventsAfter(std::string_view status) {
    const std::vector<std::string> all = events();
    const std::string wanted = "status: " + std::string(status);
    const auto found = std::find(all.begin(), all.end(), wanted);
    if (found == all.end()) return {};
    return {found + 1, all.end()};
}

std::pair<std::string, std::string> contentsAsLongAsTheirZlibStream() {
    for (std::size_t run = 0; run < 300; ++run) {
        for (std::size_t noisy = 1; noisy < 100; ++noisy) {
            std::string candidate;
            std::uint32_t x = 12345;
            for (std::size_t i = 0; i < noisy; ++i) {
                x = (x * 1103515245u + 12345u) & 0x7fffffffu;
                candidate += static_cast<char>((x >> 16) & 0xff);
            }
            candidate.append(run, 'a');
            if (const auto stream = vfile::zlibCompress(candidate); stream && stream->size() == candidate.size())
                return {candidate, *stream};
        }
    }
    return {};
}

}  // namespace mendly::test
