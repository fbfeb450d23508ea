// tidewright --delete run as a program against custom entries whose folder is
// not a game installation: the user's files, the folder the program was
// started from and customlist.json all stay as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

class DeleteRefusal : public ::testing::Test {
protected:
    void SetUp() override { fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright"); }

    void writeCustomEntry(const std::string& installPath) {
        test::writeFile(program / "customlist.json",
                        R"({"servers":[{"name":"Mine","server":"aurum","patchBaseUrl":"http://127.0.0.1:1/",)"
                        R"("launchExecutable":"kaltrisclient.exe","installPath":")" +
                            installPath + R"("}]})");
    }

    test::ProcessResult deleteFrom(const fs::path& workingFolder) {
        return test::runProcess(program / "tidewright", {{"--delete", "Mine", "--skip-self-update"},
                                                         {},
                                                         workingFolder,
                                                         std::chrono::seconds(60)});
    }

    test::TempDir program{"tw-delete-program"};
    test::TempDir user{"tw-delete-user"};
};

// Each entry names a folder of the user's, directly or through a relative
// path that, read from the current folder, would reach one. The run fails
// with the reason on stdout and removes nothing.
TEST_F(DeleteRefusal, FoldersThatAreNotInstallationsStay) {
    test::writeFile(user / "Documents" / "thesis.txt", "four years of work");
    test::writeFile(user / "Documents" / "drafts" / "chapter1.txt", "draft");
    test::writeFile(user / "letters" / "kaltrisclient.exe", "looks like a client, is the user's");
    test::writeFile(user / "letters" / "mum.txt", "letter");
    test::writeFile(program / "letters" / "notes.txt", "notes beside the program");
    const std::string notInstalled = "Error: That folder does not look like a game installation: ";
    const struct {
        const char* what;
        std::string installPath;
        fs::path workingFolder;
        std::string line;
    } cases[] = {
        {"a documents folder", (user / "Documents").string(), program.path(),
         notInstalled + (user / "Documents").string() + "\n"},
        {". started from the documents folder", ".", user / "Documents", "Error: Refusing to delete that folder.\n"},
        {"a relative path read from the program folder", "letters", user.path(),
         notInstalled + (program / "letters").string() + "\n"},
    };
    const auto userFiles = test::folderSnapshot(user.path());
    const auto programFiles = test::folderSnapshot(program.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeCustomEntry(c.installPath);
        const std::string listed = test::readFile(program / "customlist.json");
        const auto r = deleteFrom(c.workingFolder);
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Deleted"), std::string::npos) << r.out;
        EXPECT_EQ(test::readFile(program / "customlist.json"), listed);
        EXPECT_EQ(test::folderSnapshot(user.path()), userFiles);
        fs::remove(program / "customlist.json");
        fs::remove(program / "launcher.log");
        EXPECT_EQ(test::folderSnapshot(program.path()), programFiles);
    }
}

}  // namespace
}  // namespace mendly
