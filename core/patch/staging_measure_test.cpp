// What a staging folder holds for a later run, as the listing and the resume
// of an interrupted install see it.
#include <gtest/gtest.h>

#include "patch/interrupted_install.h"
#include "patch/staging_area.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::writeFile;

class StagingMeasure : public ::testing::Test {
protected:
    test::TempDir install{"measure-install"};
    test::TempDir outside{"measure-outside"};
    StagingArea staging{install.path()};
};

TEST_F(StagingMeasure, CountsReusableFilesOnlyNotDownloadsInProgressOrFolders) {
    EXPECT_EQ(staging.measure().files, 0u);  // no folder at all
    ASSERT_TRUE(staging.create());
    writeFile(staging.pathFor("0123456789abcdef0123456789abcdef"), std::string(1000, 'a'));
    writeFile(staging.pathFor("0123456789abcdef0123456789abcde0.payload"), std::string(200, 'b'));
    writeFile(staging.pathFor("0123456789abcdef0123456789abcde1.entry"), std::string(30, 'c'));
    writeFile(staging.pathFor("0123456789abcdef0123456789abcde2.part"), std::string(5000, 'd'));
    writeFile(staging.pathFor("sub") / "deep", std::string(7000, 'e'));
    const StagedContents contents = staging.measure();
    EXPECT_EQ(contents.files, 3u);
    EXPECT_EQ(contents.bytes, 1230u);
}

TEST_F(StagingMeasure, AFileInTheFoldersPlaceHoldsNothing) {
    writeFile(staging.folder(), std::string(100, 'x'));
    EXPECT_EQ(staging.measure().bytes, 0u);
    EXPECT_EQ(interruptedInstallBytes(install.path(), "kaltrisclient.exe"), 0u);
}

TEST_F(StagingMeasure, LinksAreNotCountedNorFollowed) {
    writeFile(outside / "big", std::string(4096, 'x'));
    ASSERT_TRUE(staging.create());
    std::error_code ec;
    fs::create_symlink(outside / "big", staging.pathFor("0123456789abcdef0123456789abcdef"), ec);
    if (ec) GTEST_SKIP() << "no symbolic links here";
    EXPECT_EQ(staging.measure().files, 0u);

    staging.removeAll();
    fs::create_directory_symlink(outside.path(), staging.folder(), ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(staging.measure().files, 0u);
}

TEST_F(StagingMeasure, AnInterruptedInstallIsOneWithStagedBytesAndNoClient) {
    EXPECT_FALSE(isInterruptedInstall(install.path(), "kaltrisclient.exe"));
    writeFile(staging.pathFor("0123456789abcdef0123456789abcdef"), std::string(64, 'a'));
    EXPECT_EQ(interruptedInstallBytes(install.path(), "kaltrisclient.exe"), 64u);
    EXPECT_TRUE(isInterruptedInstall(install.path(), "kaltrisclient.exe"));
    // Any archive in place counts as an installation, whatever is staged.
    writeFile(install / "gfx.pak", "PAK");
    EXPECT_FALSE(isInterruptedInstall(install.path(), "kaltrisclient.exe"));
}

}  // namespace
}  // namespace mendly
