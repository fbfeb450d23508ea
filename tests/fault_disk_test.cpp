// An installation on a disk that fills up, or that cannot be written at all:
// tidewright must fail with a clear message, leave every file either as it was
// or as the manifest has it (nothing torn, the user's INI files untouched),
// and the next run, once there is room again, must converge without fetching
// again what the failed run already staged.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/client_compare.h"
#include "support/faulty_patch_host.h"
#include "support/file_event_watch.h"
#include "support/patch_fixture.h"
#include "support/scoped_mount.h"
#include "support/temp_dir.h"
#include "support/tidewright_sandbox.h"
#include "support/two_version_client.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

const std::string kDash = " \xE2\x80\x94 ";
const std::string kUserIni = "[user]\nname=Player One\n";

test::TwoVersionClientOptions smallClient() {
    test::TwoVersionClientOptions o;
    o.looseFiles = 6;
    o.maxLooseBytes = 40 << 10;
    o.stableFiles = 0;
    o.gfxMembers = 6;
    o.worldMembers = 4;
    o.soundMembers = 2;
    return o;
}

// Differences that neither version explains: a file or member that is
// neither the old nor the new one. Left-over part files are judged apart.
std::vector<std::string> tornFiles(const fs::path& client, const test::PatchHostFolder& before,
                                   const test::PatchHostFolder& after) {
    auto a = test::clientDifferences(client, before, test::IniScope::KeptOnly);
    auto b = test::clientDifferences(client, after, test::IniScope::KeptOnly);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> both;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
    std::erase_if(both, [](const std::string& line) { return line.starts_with("left over: "); });
    return both;
}

// Bytes an unprivileged writer may still use on the volume holding `path`,
// and bytes in use there.
std::uint64_t freeBytes(const fs::path& path) {
    struct statvfs info {};
    EXPECT_EQ(::statvfs(path.c_str(), &info), 0) << path;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}
std::uint64_t usedBytes(const fs::path& path) {
    struct statvfs info {};
    EXPECT_EQ(::statvfs(path.c_str(), &info), 0) << path;
    return static_cast<std::uint64_t>(info.f_blocks - info.f_bfree) * info.f_frsize;
}

// A size as the disk-space sentence shows it below 1 GiB.
std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

// The disk-space sentence for `client` with any numbers, as a pattern.
std::regex diskFullPattern(const fs::path& client) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    const std::string folder = std::regex_replace(client.string(), special, R"(\$&)");
    return std::regex("Not enough disk space in " + folder + R"(: [0-9]+\.[0-9] MB needed, [0-9]+\.[0-9] MB free)");
}

// How many times each file of `host` was requested from it so far.
std::map<std::string, std::size_t> requestCounts(test::FaultyPatchHost& host, const test::PatchHostFolder& folder) {
    std::map<std::string, std::size_t> counts;
    for (const auto& file : folder.files())
        counts[file.relative] = host.server().requestCount(folder.fileUrlPath(file.relative));
    return counts;
}

enum class Sizes { Declared, Absent };

class DiskFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::fillTwoVersionClient(v1, 1, smallClient());
        v1.publish();
        host.serve(v1);
        sandbox.writeCustomList({{"demo", host.baseUrl()}});
    }

    // Installs version 1 and sets the user's own INI file.
    void installVersionOne() {
        const auto r = sandbox.run({"--update-single", "demo"});
        ASSERT_EQ(r.exitCode, 0) << r.out;
        test::writeFile(client() / "ini" / "user.ini", kUserIni);
    }

    // Publishes version 1 plus `extra` files as the new version, its manifest
    // declaring every file's size (the bytes served) or none.
    void publishWith(const std::vector<std::pair<std::string, std::string>>& extra, Sizes sizes = Sizes::Absent) {
        v2 = v1;
        for (const auto& [relative, bytes] : extra) v2.addFile(relative, bytes);
        v2.publish();
        auto manifest = nlohmann::json::parse(v2.manifestJson());
        for (auto& entry : manifest.at("files")) {
            if (sizes == Sizes::Declared)
                entry["size"] = v2.file(entry.at("relative").get<std::string>()).served.size();
            else
                entry.erase("size");
        }
        test::writeFile(hostRoot.path() / v2.manifestUrlPath().substr(1), manifest.dump());
        host.serve(v2);
    }

    fs::path client() const { return sandbox.client("demo"); }
    fs::path staging() const { return client() / test::kStagingFolder; }

    void expectConverged() {
        const auto r = sandbox.run({"--update-single", "demo"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_EQ(test::clientDifferences(client(), v2, test::IniScope::KeptOnly), std::vector<std::string>{});
        EXPECT_EQ(test::readFile(client() / "ini" / "user.ini"), kUserIni);
        EXPECT_FALSE(fs::exists(staging()));
    }

    test::TempDir hostRoot{"disk-host"};
    test::FaultyPatchHost host{hostRoot.path()};
    test::PatchHostFolder v1{hostRoot.path(), "demo"};
    test::PatchHostFolder v2{hostRoot.path(), "demo"};
    test::TidewrightSandbox sandbox{TIDEWRIGHT_EXE};
};

std::string noise(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return out;
}

// With sizes in the manifest the run knows what it needs before it fetches
// anything: it refuses with the numbers, and the disk stays as it was.
TEST_F(DiskFaultTest, DeclaredSizesThatDoNotFitAreRefusedBeforeAnythingIsFetched) {
    std::string why;
    auto disk = test::ScopedMount::tmpfs(client(), 3u << 20, why);
    if (!disk) GTEST_SKIP() << "no small disk for this test: " << why;
    installVersionOne();
    const std::vector<std::pair<std::string, std::string>> changes = {
        {"data/file_01.bin", "changed beside the big one"},
        {"data/huge.bin", noise(4u << 20, 1)},
        {"kaltrisclient.exe", "MZ a new client build"}};
    publishWith(changes, Sizes::Declared);
    std::uint64_t needed = 0;
    for (const auto& [relative, bytes] : changes) needed += bytes.size();
    const auto before = test::folderSnapshot(client());
    const std::uint64_t free = freeBytes(client());
    host.resetFileRequests();

    const auto r = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::string sentence = "Not enough disk space in " + client().string() + ": " + megabytes(needed) +
                                 " needed, " + megabytes(free) + " free";
    EXPECT_NE(r.out.find("\nError: " + sentence + "\n"), std::string::npos) << r.out;
    EXPECT_NE(sandbox.log().find("ERROR: " + sentence + "\n"), std::string::npos) << sandbox.log();
    EXPECT_EQ(host.fileRequests(), 0u);
    EXPECT_EQ(test::folderSnapshot(client()), before);

    ASSERT_TRUE(disk->resize(64u << 20));
    expectConverged();
}

// Without sizes the disk fills up during the download. The files staged
// before it did stay staged, and the next run, with room, fetches only the
// rest.
TEST_F(DiskFaultTest, FullDiskDuringTheDownloadKeepsWhatWasStagedAndTheNextRunFetchesOnlyTheRest) {
    std::string why;
    auto disk = test::ScopedMount::tmpfs(client(), 3u << 20, why);
    if (!disk) GTEST_SKIP() << "no small disk for this test: " << why;
    installVersionOne();
    publishWith({{"data/file_01.bin", "changed before the big one"},
                 {"data/huge.bin", noise(4u << 20, 1)},
                 {"kaltrisclient.exe", "MZ a new client build"}});
    const std::vector<std::string> small = {"data/file_01.bin", "kaltrisclient.exe"};
    const auto before = test::folderSnapshot(client());

    // The big file is answered once both small ones are staged. The staging
    // folder exists from the start, as an interrupted run leaves it, so that
    // the watch sees every file arrive in it.
    fs::create_directories(staging());
    std::mutex mutex;
    std::condition_variable arrived;
    std::set<std::string> waitingFor;
    for (const std::string& relative : small) waitingFor.insert(v2.file(relative).md5);
    test::FileEventWatch watch(staging(), [&](const test::FileEvent& e) {
        if (e.kind != test::FileEvent::Kind::MovedInto) return;
        const std::lock_guard lock(mutex);
        if (waitingFor.erase(e.relative.string()) > 0) arrived.notify_all();
    });
    ASSERT_TRUE(watch.valid());
    host.setRequestHook([&](const std::string& path, std::size_t) {
        if (path != v2.fileUrlPath("data/huge.bin")) return;
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, std::chrono::seconds(20), [&] { return waitingFor.empty(); });
    });

    const auto r = sandbox.run({"--update-single", "demo"});
    host.setRequestHook({});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::regex sentence = diskFullPattern(client());
    std::smatch shown;
    EXPECT_TRUE(std::regex_search(r.out, shown, std::regex("\nError: ([^\n]*)\n")) &&
                std::regex_match(shown[1].str(), sentence))
        << r.out;
    const std::string log = sandbox.log();
    const std::string failedLine = "ERROR: " + host.baseUrl() + v2.fileUrlPath("data/huge.bin") + kDash;
    const auto at = log.find(failedLine);
    ASSERT_NE(at, std::string::npos) << log;
    const std::string logged = log.substr(at + failedLine.size(), log.find('\n', at) - at - failedLine.size());
    EXPECT_TRUE(std::regex_match(logged, sentence)) << logged;
    EXPECT_NE(log.find("ERROR: Patch failed" + kDash + "1 / 3 downloads failed\n"), std::string::npos) << log;
    EXPECT_EQ(test::folderSnapshot(client()), before);
    EXPECT_EQ(test::stagedHostFiles(client(), v2), small);

    ASSERT_TRUE(disk->resize(64u << 20));
    const auto requestsBefore = requestCounts(host, v2);
    expectConverged();
    const auto requestsAfter = requestCounts(host, v2);
    for (const auto& [relative, count] : requestsAfter) {
        const std::size_t expected = relative == "data/huge.bin" ? 1 : 0;
        EXPECT_EQ(count - requestsBefore.at(relative), expected) << relative;
    }
}

// The member fits into the staging folder; the archive's new copy, beside the
// old one, does not. The loose change before it is applied, the archive stays
// the old one, whole, and the next run reuses the staged member.
TEST_F(DiskFaultTest, ArchiveThatDoesNotFitKeepsTheOldArchiveWhole) {
    std::string why;
    auto disk = test::ScopedMount::tmpfs(client(), 64u << 20, why);
    if (!disk) GTEST_SKIP() << "no small disk for this test: " << why;
    // A big member makes the archive's rewrite need far more room than the download.
    v1.addFile("gfx/ui/big.dds", noise(3u << 19, 3));
    v1.publish();
    host.serve(v1);
    installVersionOne();
    const auto oldGfx = test::readFile(client() / "gfx.pak");
    const std::string member = noise(512u << 10, 2);
    publishWith({{"gfx/ui/new.dds", member}, {"data/file_03.bin", "a loose change that fits"}});
    // The member (random bytes, stored raw) arrives in memory and is staged
    // once; writing it into the archive, in place or in a new copy, needs at
    // least its size again, which half of it does not leave.
    ASSERT_TRUE(disk->resize(usedBytes(client()) + member.size() + member.size() / 2));

    const auto r = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::string archive = (client() / "gfx.pak").string();
    EXPECT_NE(r.out.find("\nError: Failed to write archive: " + archive + "\n"), std::string::npos) << r.out;
    EXPECT_NE(sandbox.log().find("ERROR: Failed to write archive: " + archive + "\n"), std::string::npos);
    // The archive the game reads is the old one, whole; its new copy is gone again.
    EXPECT_EQ(test::readFile(client() / "gfx.pak"), oldGfx);
    EXPECT_FALSE(fs::exists(client() / "gfx.pak.part"));
    EXPECT_EQ(test::readFile(client() / "data" / "file_03.bin"), "a loose change that fits");
    EXPECT_EQ(tornFiles(client(), v1, v2), std::vector<std::string>{});
    EXPECT_EQ(test::readFile(client() / "ini" / "user.ini"), kUserIni);
    EXPECT_EQ(test::stagedHostFiles(client(), v2), std::vector<std::string>{"gfx/ui/new.dds"});

    ASSERT_TRUE(disk->resize(64u << 20));
    const auto requestsBefore = requestCounts(host, v2);
    expectConverged();
    EXPECT_EQ(requestCounts(host, v2), requestsBefore);
}

// A folder the program may not write: as root a read-only view of it (root
// ignores permission bits), otherwise its permission bits.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const fs::path& folder) : folder_(folder) {
        if (::geteuid() == 0) {
            mount_ = test::ScopedMount::readOnlyView(folder, why_);
            return;
        }
        for (const auto& item : fs::recursive_directory_iterator(folder))
            if (item.is_directory()) folders_.push_back(item.path());
        folders_.push_back(folder);
        for (const auto& f : folders_) fs::permissions(f, fs::perms::owner_write | fs::perms::group_write |
                                                              fs::perms::others_write,
                                                       fs::perm_options::remove);
        made_ = true;
    }
    ~ReadOnlyFolder() { undo(); }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool made() const { return made_ || mount_ != nullptr; }
    const std::string& why() const { return why_; }
    void undo() {
        mount_.reset();
        if (made_)
            for (const auto& f : folders_) fs::permissions(f, fs::perms::owner_write, fs::perm_options::add);
        made_ = false;
    }

private:
    fs::path folder_;
    std::unique_ptr<test::ScopedMount> mount_;
    std::vector<fs::path> folders_;
    bool made_ = false;
    std::string why_;
};

// The first thing a run writes is its staging folder: a read-only
// installation fails there, before any download, whatever the changes are.
TEST_F(DiskFaultTest, ReadOnlyInstallationFailsBeforeFetchingAndChangesNothing) {
    installVersionOne();
    publishWith({{"_version._", "Kaltris Nexum-2.6.0\r\n"},
                 {"data/file_02.bin", "new"},
                 {"gfx/ui/tex_01.dds", "a changed texture"},
                 {"worlds/map_00.dat", "a changed map"}});
    const auto before = test::folderSnapshot(client());
    ReadOnlyFolder readOnly(client());
    if (!readOnly.made()) GTEST_SKIP() << "cannot make the folder read-only: " << readOnly.why();
    host.resetFileRequests();

    const auto r = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::string sentence = "Cannot write: " + staging().string();
    EXPECT_NE(r.out.find("\nError: " + sentence + "\n"), std::string::npos) << r.out;
    EXPECT_NE(sandbox.log().find("ERROR: " + sentence + "\n"), std::string::npos) << sandbox.log();
    EXPECT_EQ(host.fileRequests(), 0u);
    EXPECT_EQ(test::folderSnapshot(client()), before);
    EXPECT_FALSE(fs::exists(staging()));

    readOnly.undo();
    expectConverged();
}

TEST_F(DiskFaultTest, InstallIntoAReadOnlyClientsFolderReportsTheFolder) {
    v2 = v1;
    fs::create_directories(sandbox.folder() / "clients");
    ReadOnlyFolder readOnly(sandbox.folder() / "clients");
    if (!readOnly.made()) GTEST_SKIP() << "cannot make the folder read-only: " << readOnly.why();

    const auto r = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Error: Could not create " + client().string() + "\nUpdated 0, skipped 0, failed 1.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(sandbox.log().find("ERROR: Could not create " + client().string() + "\n"), std::string::npos);

    readOnly.undo();
    const auto again = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(again.exitCode, 0) << again.out;
    EXPECT_EQ(test::clientDifferences(client(), v1, test::IniScope::All), std::vector<std::string>{});
}

}  // namespace
}  // namespace mendly
