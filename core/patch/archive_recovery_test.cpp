// An installation's archives after a run was killed while it updated them in
// place: the next run's start brings each back to a whole archive.
#include <gtest/gtest.h>

#include "log/log_file.h"
#include "patch/archive_update.h"
#include "patch/vfile/archive_journal.h"
#include "patch/vfile/archive_writer.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

class ArchiveRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LogFile::open(logDir.path())); }
    void TearDown() override { LogFile::close(); }

    // Updates `archive` in place and stops right after `step`, as a kill would.
    void interrupt(const fs::path& archive, vfile::InPlaceStep step) {
        const vfile::StoredEntry stored{std::string(300, 'n'), 300};
        vfile::ArchiveUpdateOptions options;
        options.compactionShare = 1;
        options.continueAfter = [step](vfile::InPlaceStep at) { return at != step; };
        vfile::ArchiveUpdateReport report;
        ASSERT_FALSE(vfile::updateArchiveFromSources(archive, {vfile::EntrySource::inMemory("a\\new", stored)}, {},
                                                     options, report));
        ASSERT_TRUE(fs::exists(vfile::journalPathFor(archive)));
    }

    test::TempDir install{"archive-recovery"};
    test::TempDir logDir{"archive-recovery-log"};
};

TEST_F(ArchiveRecoveryTest, EveryInterruptedUpdateIsUndoneOrItsTornJournalRemoved) {
    for (const char* name : {"gfx", "sound", "terrain"})
        test::writeGameArchive(install / (std::string(name) + ".pak"), {{"a\\one", "1111"}, {"b\\two", "2222"}});
    const auto before = test::folderSnapshot(install.path());
    interrupt(install / "gfx.pak", vfile::InPlaceStep::DirectoryWritten);  // reads as the new one
    interrupt(install / "sound.pak", vfile::InPlaceStep::JournalWritten);
    const std::string journal = test::readFile(install / "sound.pak.journal");
    test::writeFile(install / "sound.pak.journal", journal.substr(0, journal.size() / 2));  // torn
    fs::create_directories(install / "models.pak.journal" / "somebody's");

    recoverInterruptedArchiveUpdates(install.path());
    EXPECT_TRUE(fs::is_directory(install / "models.pak.journal" / "somebody's")) << "not a journal: left alone";
    fs::remove_all(install / "models.pak.journal");
    EXPECT_EQ(test::folderSnapshot(install.path()), before);

    auto lines = test::logMessages(logDir.path());
    lines.erase(lines.begin());  // "launcher.log opened"
    const auto path = [&](const char* name) { return (install / name).string(); };
    EXPECT_EQ(lines, (std::vector<std::string>{"Recovering an interrupted archive update: " + path("gfx.pak"),
                                               "Recovering an interrupted archive update: " + path("sound.pak")}));
}

}  // namespace
}  // namespace mendly
