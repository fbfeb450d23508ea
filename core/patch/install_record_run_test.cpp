// Update runs against the installation's record: what it lets a run skip,
// what it must never hide, and when it is written.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "patch/cancel_flag.h"
#include "patch/install_record.h"
#include "patch/patch_reporting.h"
#include "patch/patch_run.h"
#include "patch/vfile/archive.h"
#include "platform/file_stamp.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;

// Overwrites one byte of `path` in place and sets its modification time back:
// size, time and file number stay, so only reading the file can tell.
void flipByteUnseen(const fs::path& path, std::uint64_t offset) {
    const auto time = fs::last_write_time(path);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    const char byte = static_cast<char>(file.get() ^ 0x20);
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(byte);
    file.close();
    fs::last_write_time(path, time);
}

class InstallRecordRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetPatchCancel();
        ASSERT_TRUE(LogFile::open(logDir.path()));
        host.addFile("Kaltris.exe", "MZ game binary v2");
        host.addFile("gfx/ui/a.dds", std::string(5000, 'a'));
        host.addFile("worlds/x.dat", "world x");
        server.serveFolder(hostDir.path(), "/");
        ASSERT_TRUE(run(PatchMode::Install)) << toUtf8(error);
        ASSERT_TRUE(fs::exists(recordPath()));
    }
    void TearDown() override { LogFile::close(); }

    bool run(PatchMode mode) {
        host.publish();
        error.clear();
        return runPatch(nullptr, server.wideUrl(host.manifestUrlPath()), server.wideUrl(host.filesUrlPath()),
                        install.path(), mode, error);
    }
    std::size_t fetches(std::string_view relative) const { return server.requestCount(host.fileUrlPath(relative)); }
    fs::path recordPath() const { return install / std::string(kInstallRecordFileName); }
    fs::path exe() const { return install / "Kaltris.exe"; }

    TempDir hostDir{"record-host"};
    TempDir install{"record-install"};
    TempDir logDir{"record-log"};
    test::LoopbackServer server;
    test::PatchHostFolder host{hostDir.path(), "aurum"};
    std::u16string error;
};

TEST_F(InstallRecordRunTest, UpdateTrustsTheRecordAndVerifyRepairsWhatOnlyReadingSees) {
    flipByteUnseen(exe(), 3);
    const auto archive = vfile::Archive::open(install / "gfx.pak");
    ASSERT_TRUE(archive);
    flipByteUnseen(install / "gfx.pak", archive->find("ui\\a.dds")->offset);

    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_NE(readFile(exe()), "MZ game binary v2");  // the record vouched: nothing was read
    EXPECT_EQ(fetches("Kaltris.exe"), 1u);

    ASSERT_TRUE(run(PatchMode::Verify)) << toUtf8(error);
    EXPECT_EQ(readFile(exe()), "MZ game binary v2");
    EXPECT_EQ(vfile::Archive::open(install / "gfx.pak")->readEntry("ui\\a.dds"), std::string(5000, 'a'));
    EXPECT_EQ(fetches("Kaltris.exe"), 2u);
    EXPECT_EQ(fetches("gfx/ui/a.dds"), 2u);
}

// Changes the record must notice: each leaves the contents different.
struct ChangeBehindTheRecord {
    const char* what;
    std::function<void(const fs::path&)> change;
};

class ChangedFiles : public InstallRecordRunTest, public ::testing::WithParamInterface<ChangeBehindTheRecord> {};

TEST_P(ChangedFiles, AreHashedAgainAndRepaired) {
    GetParam().change(exe());
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(exe()), "MZ game binary v2");
    EXPECT_EQ(fetches("Kaltris.exe"), 2u);
    EXPECT_EQ(fetches("worlds/x.dat"), 1u);  // the rest still came from the record
}

INSTANTIATE_TEST_SUITE_P(
    NewTimeSizeOrFile, ChangedFiles,
    ::testing::Values(
        ChangeBehindTheRecord{"NewContentsAndTime", [](const fs::path& p) { test::writeFile(p, "MZ game binary v1"); }},
        ChangeBehindTheRecord{"SizeChangedTimeRestored",
                              [](const fs::path& p) {
                                  const auto time = fs::last_write_time(p);
                                  test::writeFile(p, "MZ game binary v2 patched");
                                  fs::last_write_time(p, time);
                              }},
        ChangeBehindTheRecord{"ReplacedByRenameSameSizeTimeRestored",
                              [](const fs::path& p) {
                                  const auto time = fs::last_write_time(p);
                                  const fs::path other = p.string() + ".new";
                                  test::writeFile(other, "MZ game binary v1");
                                  fs::last_write_time(other, time);
                                  fs::rename(other, p);
                              }}),
    [](const auto& info) { return std::string(info.param.what); });

// Records a run cannot trust: each makes the next update hash everything.
struct UntrustedRecord {
    const char* what;
    std::function<void(const fs::path& record)> spoil;
};

class UntrustedRecords : public InstallRecordRunTest, public ::testing::WithParamInterface<UntrustedRecord> {};

TEST_P(UntrustedRecords, MeanAFullVerification) {
    flipByteUnseen(exe(), 3);
    GetParam().spoil(recordPath());
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(exe()), "MZ game binary v2");
    EXPECT_TRUE(InstallRecord::load(install.path()));  // a good one is written again
}

INSTANTIATE_TEST_SUITE_P(
    CorruptTruncatedForeign, UntrustedRecords,
    ::testing::Values(UntrustedRecord{"Missing", [](const fs::path& r) { fs::remove(r); }},
                      UntrustedRecord{"Truncated",
                                      [](const fs::path& r) { fs::resize_file(r, fs::file_size(r) / 2); }},
                      UntrustedRecord{"OneByteEdited",
                                      [](const fs::path& r) {
                                          std::string bytes = readFile(r);
                                          bytes[bytes.size() - 3] ^= 1;
                                          test::writeFile(r, bytes);
                                      }},
                      UntrustedRecord{"Foreign",
                                      [](const fs::path& r) {
                                          // Another installation's record: its files have other numbers.
                                          InstallRecord other;
                                          other.addHolder("Kaltris.exe", {17, 1, 2, 3});
                                          other.addEntry("Kaltris.exe", {"Kaltris.exe", md5Hex("MZ game binary v2"), "", 0, 0});
                                          test::writeFile(r, other.text());
                                      }}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(InstallRecordRunTest, AFailedRunLeavesTheRecordAsItWas) {
    const std::string before = readFile(recordPath());
    host.addFile("Kaltris.exe", "MZ game binary v3");
    host.setPublished("Kaltris.exe", false);
    EXPECT_FALSE(run(PatchMode::Update));
    EXPECT_EQ(readFile(recordPath()), before);

    TempDir fresh{"record-fresh"};
    EXPECT_FALSE(runPatch(nullptr, server.wideUrl(host.manifestUrlPath()), server.wideUrl(host.filesUrlPath()),
                          fresh.path(), PatchMode::Install, error));
    EXPECT_FALSE(fs::exists(fresh / std::string(kInstallRecordFileName)));
}

TEST_F(InstallRecordRunTest, AServerChangeRefetchesOnlyWhatChanged) {
    host.addFile("worlds/x.dat", "world x v2");
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(vfile::Archive::open(install / "worlds.pak")->readEntry("x.dat"), "world x v2");
    EXPECT_EQ(fetches("worlds/x.dat"), 2u);
    EXPECT_EQ(fetches("Kaltris.exe"), 1u);
    // The changed archive is recorded anew: the next update reads nothing.
    flipByteUnseen(install / "worlds.pak", vfile::Archive::open(install / "worlds.pak")->find("x.dat")->offset);
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(fetches("worlds/x.dat"), 2u);
}

TEST_F(InstallRecordRunTest, AnUpToDateCheckKeepsTheRecordAsItIs) {
    const auto before = platform::fileStamp(recordPath());
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(platform::fileStamp(recordPath()), before);  // not rewritten: it already says the same
}

TEST_F(InstallRecordRunTest, AnEntryTheRecordKnowsToHoldOtherContentIsFetchedUnread) {
    // The disk already holds the new release's bytes, with the old stamp; the
    // record says the file holds the old release, so it is fetched, not read.
    const auto time = fs::last_write_time(exe());
    { std::ofstream(exe(), std::ios::binary | std::ios::in) << "MZ game binary v3"; }
    fs::last_write_time(exe(), time);
    host.addFile("Kaltris.exe", "MZ game binary v3");
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(fetches("Kaltris.exe"), 2u);
    EXPECT_EQ(readFile(exe()), "MZ game binary v3");
}

}  // namespace
}  // namespace mendly
