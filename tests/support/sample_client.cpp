#include "support/sample_client.h"

#include "catalog/file_bytes.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "patch/archive_paths.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"

namespace mendly::test {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Bytes: splitmix64 to derive seeds, xoshiro256** to fill buffers. Fast enough
// that writing a gigabyte is limited by compression and the disk.

std::uint64_t splitmix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    std::uint64_t state = a * 0x100000001B3ull ^ b;
    return splitmix64(state);
}

class Rng {
public:
    explicit Rng(std::uint64_t seed) {
        for (auto& word : s_) word = splitmix64(seed);
    }
    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // Uniform enough in [0, bound) for sizes and picks.
    std::uint64_t below(std::uint64_t bound) { return bound == 0 ? 0 : next() % bound; }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::array<std::uint64_t, 4> s_{};
};

void fillRandom(Rng& rng, std::string& out, std::size_t size) {
    out.resize(size);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t v = rng.next();
        std::memcpy(out.data() + i, &v, 8);
    }
    if (i < size) {
        const std::uint64_t v = rng.next();
        std::memcpy(out.data() + i, &v, size - i);
    }
}

constexpr std::array<std::string_view, 32> kWords{
    "kaltris", "nexum", "tide", "keel", "mesh", "texture", "shader", "vertex",
    "quest", "npc", "spawn", "loot", "armor", "blade", "rune", "harbor",
    "value", "enabled", "false", "true", "level", "region", "sound", "volume",
    "fade", "light", "shadow", "terrain", "water", "sky", "cloud", "stone"};

// Config-like lines of words and numbers: compresses to roughly a quarter.
void fillText(Rng& rng, std::string& out, std::size_t size) {
    out.clear();
    out.reserve(size + 64);
    std::uint64_t line = 0;
    while (out.size() < size) {
        std::uint64_t bits = rng.next();
        out += kWords[bits & 31];
        out += '_';
        out += std::to_string(line++ % 1000);
        out += " =";
        bits >>= 5;
        const int words = 2 + static_cast<int>(bits & 3);
        bits >>= 2;
        for (int w = 0; w < words; ++w, bits >>= 5) {
            out += ' ';
            out += kWords[bits & 31];
        }
        out += ' ';
        out += std::to_string(bits & 0xFFFF);
        out += '\n';
    }
    out.resize(size);
}

// ---------------------------------------------------------------------------
// Work spread over threads: fn(i) for every i < count, each exactly once.
// The first failure stops further items and is reported.

bool parallelFor(std::size_t count, unsigned threads, const std::function<bool(std::size_t, std::string&)>& fn,
                 std::string& error) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(count, 1)));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    auto worker = [&] {
        for (;;) {
            if (failed.load()) return;
            const std::size_t i = next.fetch_add(1);
            if (i >= count) return;
            std::string message;
            if (!fn(i, message)) {
                std::lock_guard lock(errorMutex);
                if (!failed.exchange(true)) error = message;
                return;
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (auto& thread : pool) thread.join();
    return !failed.load();
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


// A size around `average`, between a quarter and seven quarters of it.
std::size_t varied(Rng& rng, std::uint64_t average) {
    const std::uint64_t low = average / 4;
    return static_cast<std::size_t>(low + rng.below(average * 3 / 2 + 1));
}

// ---------------------------------------------------------------------------
// The client's parts.

struct PlannedFile {
    std::string relative;  // '/' separated
    std::size_t size = 0;
    bool text = false;
    std::uint64_t seed = 0;
};

void contentsOf(const PlannedFile& file, std::string& out) {
    Rng rng(file.seed);
    if (file.text)
        fillText(rng, out, file.size);
    else
        fillRandom(rng, out, file.size);
}

const std::vector<std::string> kDefaultPacked{"gfx", "models", "sound", "terrain", "worlds", "definitions"};

constexpr std::array<std::string_view, 4> kLooseFolders{"bin", "data/movies", "data/fonts", "docs"};
constexpr std::array<std::string_view, 4> kMemberFolders{"ui", "textures/common", "meshes", "fx/particles"};

std::vector<PlannedFile> planLooseFiles(const SampleClientOptions& options, std::uint64_t looseBudget) {
    Rng rng(mix(options.seed, 0x100));
    std::vector<PlannedFile> files;
    const std::uint64_t exeSize = std::max<std::uint64_t>(64 * 1024, options.totalBytes / 50);
    files.push_back({"kaltrisclient.exe", static_cast<std::size_t>(exeSize), false, rng.next()});
    files.push_back({"data/empty.flag", 0, false, 0});

    const std::uint64_t remaining = looseBudget > exeSize ? looseBudget - exeSize : 0;
    const std::uint64_t count = 12 + options.totalBytes / (32u << 20);
    const std::uint64_t average = std::max<std::uint64_t>(1, remaining / count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const bool text = (i % 2) == 0;
        const std::string folder(kLooseFolders[i % kLooseFolders.size()]);
        std::string name = folder + "/file_" + std::to_string(i) + (text ? ".txt" : ".bin");
        files.push_back({std::move(name), varied(rng, average), text, rng.next()});
    }
    return files;
}

std::vector<PlannedFile> planIniFiles(const SampleClientOptions& options) {
    Rng rng(mix(options.seed, 0x200));
    std::vector<PlannedFile> files;
    for (const char* name : {"ini/graphics.ini", "ini/sound.ini", "ini/controls.ini", "ini/language.ini",
                             "ini/updater.ini", "ini/hash.ini"})
        files.push_back({name, 200 + static_cast<std::size_t>(rng.below(800)), true, rng.next()});
    return files;
}

// Members of one archive; `mixedCase` gives every fifth name capitals, as a
// folder on disk may have them.
std::vector<PlannedFile> planMembers(const SampleClientOptions& options, std::size_t archiveIndex,
                                     std::uint64_t count, std::uint64_t average, bool mixedCase) {
    Rng rng(mix(options.seed, 0x300 + archiveIndex));
    std::vector<PlannedFile> members;
    for (std::uint64_t i = 0; i < count; ++i) {
        const bool text = rng.below(2) == 0;
        std::string name = std::string(kMemberFolders[i % kMemberFolders.size()]) + "/item_" + std::to_string(i) +
                           (text ? ".xml" : ".dds");
        if (mixedCase && i % 5 == 0) {
            name[0] = static_cast<char>(name[0] - 'a' + 'A');
            const std::size_t dot = name.rfind('.');
            for (std::size_t c = dot; c < name.size(); ++c)
                if (name[c] >= 'a' && name[c] <= 'z') name[c] = static_cast<char>(name[c] - 'a' + 'A');
        }
        members.push_back({std::move(name), varied(rng, average), text, rng.next()});
    }
    return members;
}

bool writePlainFiles(const fs::path& root, const std::vector<PlannedFile>& files, unsigned threads,
                     std::string& error) {
    return parallelFor(
        files.size(), threads,
        [&](std::size_t i, std::string& message) {
            std::string bytes;
            contentsOf(files[i], bytes);
            return writeBytes(root / files[i].relative, bytes, message);
        },
        error);
}

bool writePackedArchive(const fs::path& path, const std::vector<PlannedFile>& members, unsigned threads,
                        std::string& error) {
    std::vector<vfile::NamedEntry> entries(members.size());
    const bool ok = parallelFor(
        members.size(), threads,
        [&](std::size_t i, std::string& message) {
            std::string bytes;
            contentsOf(members[i], bytes);
            // Random bytes do not compress; they are stored raw, as a packer
            // that gives up on them would, which also keeps generation fast.
            // Text-like members get the engine's own compressed form.
            if (!members[i].text) {
                const auto size = static_cast<std::uint32_t>(bytes.size());
                entries[i] = {members[i].relative, {std::move(bytes), size}};
                return true;
            }
            auto stored = vfile::compressEntry(bytes);
            if (!stored) {
                message = "Cannot compress member: " + members[i].relative;
                return false;
            }
            entries[i] = {members[i].relative, std::move(*stored)};
            return true;
        },
        error);
    if (!ok) return false;
    if (!vfile::writeArchiveFile(path, entries)) {
        error = "Cannot write archive: " + path.string();
        return false;
    }
    return true;
}

bool isArchiveName(std::string_view name) {
    return std::find(archiveNameTable.begin(), archiveNameTable.end(), name) != archiveNameTable.end();
}

}  // namespace

std::string sampleClientVersion(std::uint64_t seed) { return "Kaltris Nexum-2.5." + std::to_string(seed); }

bool makeSampleClient(const fs::path& folder, const SampleClientOptions& options, SampleClientSummary& summary,
                      std::string& error) {
    summary = {};
    const std::vector<std::string>& packed = options.packedArchives.empty() ? kDefaultPacked : options.packedArchives;
    for (const auto& name : packed)
        if (!isArchiveName(name)) {
            error = "Not an archive name: " + name;
            return false;
        }
    for (const auto& name : options.folderArchives)
        if (!isArchiveName(name) || std::find(packed.begin(), packed.end(), name) != packed.end()) {
            error = "Not a free archive name for a folder: " + name;
            return false;
        }

    const std::uint64_t looseBudget = options.totalBytes / 5;
    const std::uint64_t memberBudget = options.totalBytes - looseBudget;
    const std::uint64_t memberCount =
        options.members ? options.members : std::max<std::uint64_t>(24, memberBudget / (256 * 1024));
    const std::uint64_t averageMember = std::max<std::uint64_t>(1, memberBudget / memberCount);

    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "Cannot create folder: " + folder.string();
        return false;
    }
    if (!writeBytes(folder / "_version._", sampleClientVersion(options.seed) + "\r\n", error)) return false;

    std::vector<PlannedFile> loose = planLooseFiles(options, looseBudget);
    const std::vector<PlannedFile> ini = planIniFiles(options);
    loose.insert(loose.end(), ini.begin(), ini.end());
    if (!writePlainFiles(folder, loose, options.threads, error)) return false;
    summary.looseFiles = loose.size() + 1;
    summary.looseBytes = sampleClientVersion(options.seed).size() + 2;
    for (const auto& file : loose) summary.looseBytes += file.size;

    // Members are dealt out over all archives, packed ones first.
    std::vector<std::pair<std::string, bool>> archives;  // name, packed
    for (const auto& name : packed) archives.emplace_back(name, true);
    for (const auto& name : options.folderArchives) archives.emplace_back(name, false);
    for (std::size_t a = 0; a < archives.size(); ++a) {
        const auto& [name, isPacked] = archives[a];
        const std::uint64_t count = memberCount / archives.size() + (a < memberCount % archives.size() ? 1 : 0);
        if (count == 0) continue;
        const auto archiveIndex = static_cast<std::size_t>(
            std::find(archiveNameTable.begin(), archiveNameTable.end(), name) - archiveNameTable.begin());
        const std::vector<PlannedFile> members = planMembers(options, archiveIndex, count, averageMember, !isPacked);
        for (const auto& member : members) summary.memberBytes += member.size;
        summary.members += members.size();
        if (isPacked) {
            const fs::path path = folder / (name + ".pak");
            if (!writePackedArchive(path, members, options.threads, error)) return false;
            summary.archiveBytes += fs::file_size(path, ec);
        } else if (!writePlainFiles(folder / name, members, options.threads, error)) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Mutation.

namespace {

enum class Change { Change, Delete, Truncate, Edit };

Change changeFor(std::size_t position, bool edit) { return edit ? Change::Edit : static_cast<Change>(position % 3); }

std::string changedContents(std::string bytes);
std::string truncatedContents(std::string bytes);

// About 2% of the bytes: 1% changed in place, 0.5% inserted, 0.5% removed,
// each at a place of its own, drawn from `seed`.
std::string editedContents(std::string bytes, std::uint64_t seed) {
    if (bytes.size() < 64) return bytes + "edited";
    Rng rng(seed);
    const std::size_t changed = bytes.size() / 100, moved = bytes.size() / 200 + 1;
    const std::size_t at = rng.below(bytes.size() - changed);
    for (std::size_t i = at; i < at + changed; ++i) bytes[i] = static_cast<char>(rng.next());
    std::string inserted(moved, '\0');
    for (char& c : inserted) c = static_cast<char>('a' + rng.below(26));
    bytes.insert(rng.below(bytes.size()), inserted);
    bytes.erase(rng.below(bytes.size() - moved), moved);
    return bytes;
}

// The next contents of a file or member under `change` (not Delete).
std::string nextContents(std::string bytes, Change change, std::uint64_t seed) {
    if (change == Change::Edit) return editedContents(std::move(bytes), seed);
    return change == Change::Change ? changedContents(std::move(bytes)) : truncatedContents(std::move(bytes));
}

std::uint64_t& countFor(MutationSummary& summary, Change change) {
    return change == Change::Edit ? summary.edited : change == Change::Change ? summary.changed : summary.truncated;
}

// Same length when there is anything to change, other bytes; the empty
// contents become a short text.
std::string changedContents(std::string bytes) {
    if (bytes.empty()) return "changed";
    const std::size_t span = std::min<std::size_t>(bytes.size(), 4096);
    for (std::size_t i = 0; i < span; ++i) bytes[i] = static_cast<char>(~static_cast<unsigned char>(bytes[i]));
    return bytes;
}

std::string truncatedContents(std::string bytes) {
    if (bytes.empty()) return "x";
    bytes.resize(bytes.size() / 2);
    return bytes;
}

// ceil(percent of count) picks, at least one when percent > 0, in a shuffled
// but reproducible order.
std::vector<std::size_t> pick(std::size_t count, double percent, std::uint64_t seed) {
    if (count == 0 || percent <= 0) return {};
    const auto k = std::min<std::size_t>(
        count, std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(percent / 100.0 * count))));
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    Rng rng(seed);
    for (std::size_t i = count - 1; i > 0; --i) std::swap(order[i], order[rng.below(i + 1)]);
    order.resize(k);
    std::sort(order.begin(), order.end());
    return order;
}

bool mutateFile(const fs::path& path, Change change, std::uint64_t seed, MutationSummary& summary,
                std::string& error) {
    std::error_code ec;
    if (change == Change::Delete) {
        if (!fs::remove(path, ec)) {
            error = "Cannot delete: " + path.string();
            return false;
        }
        ++summary.deleted;
        return true;
    }
    std::string bytes;
    if (readFileBytes(path, bytes) != FileRead::Read) {
        error = "Cannot read: " + path.string();
        return false;
    }
    const std::string next = nextContents(std::move(bytes), change, seed);
    if (!writeBytes(path, next, error)) return false;
    ++countFor(summary, change);
    return true;
}

std::vector<fs::path> filesUnder(const fs::path& root) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

bool mutateArchive(const fs::path& path, double percent, bool edit, std::uint64_t seed, MutationSummary& summary,
                   std::string& error) {
    auto archive = vfile::Archive::open(path);
    if (!archive) {
        error = "Cannot open archive: " + path.string();
        return false;
    }
    std::vector<std::string> keys;
    for (const auto& entry : archive->entries()) keys.push_back(entry.key);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

    const std::vector<std::size_t> picks = pick(keys.size(), percent, seed);
    std::vector<vfile::NamedEntry> updates;
    std::vector<std::string> removals;
    MutationSummary local;
    for (std::size_t p = 0; p < picks.size(); ++p) {
        const std::string& key = keys[picks[p]];
        Change change = changeFor(p, edit);
        // An archive is never left without entries.
        if (change == Change::Delete && removals.size() + 1 == keys.size()) change = Change::Change;
        if (change == Change::Delete) {
            removals.push_back(key);
            ++local.deleted;
            continue;
        }
        auto contents = archive->readEntry(key);
        if (!contents) {
            error = "Cannot read member " + key + " of " + path.string();
            return false;
        }
        auto stored = vfile::compressEntry(nextContents(std::move(*contents), change, mix(seed, p)));
        if (!stored) {
            error = "Cannot compress member " + key;
            return false;
        }
        updates.push_back({key, std::move(*stored)});
        ++countFor(local, change);
    }
    if (picks.empty()) return true;
    if (!archive->applyChanges(updates, removals)) {
        error = "Cannot rewrite archive: " + path.string();
        return false;
    }
    summary.changed += local.changed;
    summary.deleted += local.deleted;
    summary.truncated += local.truncated;
    summary.edited += local.edited;
    ++summary.archivesRewritten;
    return true;
}

}  // namespace

bool mutateClient(const fs::path& folder, const MutationOptions& options, MutationSummary& summary,
                  std::string& error) {
    summary = {};
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        error = "Not a folder: " + folder.string();
        return false;
    }
    std::vector<fs::path> loose;
    std::vector<fs::path> packed;
    std::vector<fs::path> archiveFolders;
    for (const fs::path& file : filesUnder(folder)) {
        const fs::path relative = file.lexically_relative(folder);
        const std::string first = relative.begin()->string();
        const bool topLevel = std::next(relative.begin()) == relative.end();
        if (topLevel && relative.extension() == ".pak" && isArchiveName(relative.stem().string())) {
            packed.push_back(file);
        } else if (!topLevel && isArchiveName(first)) {
            if (archiveFolders.empty() || archiveFolders.back() != folder / first)
                archiveFolders.push_back(folder / first);
        } else if (first != "ini" && relative != "_version._") {
            loose.push_back(file);
        }
    }

    const auto looseTouched = pick(loose.size(), options.loosePercent, mix(options.seed, 1));
    for (std::size_t p = 0; p < looseTouched.size(); ++p)
        if (!mutateFile(loose[looseTouched[p]], changeFor(p, options.edit), mix(options.seed, 10 + p), summary, error))
            return false;

    std::uint64_t salt = 100;
    for (const fs::path& path : packed)
        if (!mutateArchive(path, options.memberPercent, options.edit, mix(options.seed, ++salt), summary, error))
            return false;
    for (const fs::path& archiveFolder : archiveFolders) {
        const std::vector<fs::path> members = filesUnder(archiveFolder);
        const auto touched = pick(members.size(), options.memberPercent, mix(options.seed, ++salt));
        for (std::size_t p = 0; p < touched.size(); ++p)
            if (!mutateFile(members[touched[p]], changeFor(p, options.edit), mix(salt, p), summary, error)) return false;
    }
    return true;
}

bool parseByteSize(const std::string& text, std::uint64_t& bytes) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 15) return false;
    std::uint64_t value = std::stoull(text.substr(0, digits));
    std::string suffix = text.substr(digits);
    for (char& c : suffix)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (suffix.size() > 1 && (suffix.substr(1) == "B" || suffix.substr(1) == "IB")) suffix.resize(1);
    int shift = 0;
    if (suffix == "K") shift = 10;
    else if (suffix == "M") shift = 20;
    else if (suffix == "G") shift = 30;
    else if (suffix == "T") shift = 40;
    else if (!suffix.empty()) return false;
    if (value == 0 || value > (std::uint64_t{1} << (63 - shift))) return false;
    bytes = value << shift;
    return true;
}

}  // namespace mendly::test
