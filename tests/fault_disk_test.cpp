// An installation on a disk that fills up, or that cannot be written at all:
// tidewright must fail with a clear message, leave every file either as it was
// or as the manifest has it (nothing torn, the user's INI files untouched),
// and the next run, once there is room again, must converge.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/client_compare.h"
#include "support/faulty_patch_host.h"
#include "support/patch_fixture.h"
#include "support/scoped_mount.h"
#include "support/temp_dir.h"
#include "support/tidewright_sandbox.h"
#include "support/two_version_client.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

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

    // Publishes version 1 plus `extra` files as the new version.
    void publishWith(const std::vector<std::pair<std::string, std::string>>& extra) {
        v2 = v1;
        for (const auto& [relative, bytes] : extra) v2.addFile(relative, bytes);
        v2.publish();
        host.serve(v2);
    }

    fs::path client() const { return sandbox.client("demo"); }

    void expectConverged() {
        const auto r = sandbox.run({"--update-single", "demo"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_EQ(test::clientDifferences(client(), v2, test::IniScope::KeptOnly), std::vector<std::string>{});
        EXPECT_EQ(test::readFile(client() / "ini" / "user.ini"), kUserIni);
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

TEST_F(DiskFaultTest, LooseFileThatDoesNotFitFailsWithShortWriteAndTheNextRunWithRoomConverges) {
    std::string why;
    auto disk = test::ScopedMount::tmpfs(client(), 3u << 20, why);
    if (!disk) GTEST_SKIP() << "no small disk for this test: " << why;
    installVersionOne();
    publishWith({{"data/file_01.bin", "changed before the big one"},
                 {"data/huge.bin", noise(4u << 20, 1)},
                 {"kaltrisclient.exe", "MZ a new client build"}});

    const auto r = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::string part = (client() / "data" / "huge.bin.part").string();
    EXPECT_NE(r.out.find("\nError: Short write: " + part + "\n"), std::string::npos) << r.out;
    EXPECT_NE(sandbox.log().find("ERROR: data/huge.bin \xE2\x80\x94 Short write: " + part + "\n"), std::string::npos);
    // Files before the big one were replaced, the ones after it not yet; none is torn.
    EXPECT_EQ(test::readFile(client() / "data" / "file_01.bin"), "changed before the big one");
    EXPECT_EQ(test::readFile(client() / "kaltrisclient.exe"), v1.file("kaltrisclient.exe").served);
    EXPECT_EQ(tornFiles(client(), v1, v2), std::vector<std::string>{});
    EXPECT_EQ(test::readFile(client() / "ini" / "user.ini"), kUserIni);

    ASSERT_TRUE(disk->resize(64u << 20));
    expectConverged();
}

TEST_F(DiskFaultTest, ArchiveThatDoesNotFitKeepsTheOldArchiveWhole) {
    std::string why;
    auto disk = test::ScopedMount::tmpfs(client(), 3u << 20, why);
    if (!disk) GTEST_SKIP() << "no small disk for this test: " << why;
    installVersionOne();
    const auto oldGfx = test::readFile(client() / "gfx.pak");
    publishWith({{"gfx/ui/huge.dds", noise(3u << 20, 2)}, {"data/file_03.bin", "a loose change that fits"}});

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

    ASSERT_TRUE(disk->resize(64u << 20));
    expectConverged();
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

TEST_F(DiskFaultTest, ReadOnlyInstallationFailsAtTheFirstLooseFileAndChangesNothing) {
    installVersionOne();
    publishWith({{"_version._", "Kaltris Nexum-2.6.0\r\n"}, {"data/file_02.bin", "new"}});
    const auto before = test::folderSnapshot(client());
    ReadOnlyFolder readOnly(client());
    if (!readOnly.made()) GTEST_SKIP() << "cannot make the folder read-only: " << readOnly.why();

    const auto r = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("\nError: Cannot write: " + (client() / "_version._.part").string() + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::folderSnapshot(client()), before);

    readOnly.undo();
    expectConverged();
}

TEST_F(DiskFaultTest, ReadOnlyInstallationFailsAtTheFirstArchiveAndChangesNothing) {
    installVersionOne();
    publishWith({{"gfx/ui/tex_01.dds", "a changed texture"}, {"worlds/map_00.dat", "a changed map"}});
    const auto before = test::folderSnapshot(client());
    ReadOnlyFolder readOnly(client());
    if (!readOnly.made()) GTEST_SKIP() << "cannot make the folder read-only: " << readOnly.why();

    const auto r = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("\nError: Failed to write archive: " + (client() / "gfx.pak").string() + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::folderSnapshot(client()), before);

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
