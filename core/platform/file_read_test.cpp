#include "platform/file.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using platform::FileRead;

// On both systems: what is at the path decides between Missing and
// Unreadable before any byte is read, and a read is all or nothing.
class ReadWholeFile : public ::testing::Test {
protected:
    test::TempDir dir{"read-file"};
    std::string bytes = "left over from before";
};

TEST_F(ReadWholeFile, NothingThereIsMissingAndLeavesNoBytes) {
    EXPECT_EQ(platform::readWholeFile(dir / "customlist.json", bytes), FileRead::Missing);
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(platform::readWholeFile(dir / "no folder" / "customlist.json", bytes), FileRead::Missing);
}

TEST_F(ReadWholeFile, AFolderIsUnreadable) {
    fs::create_directory(dir / "customlist.json");
    EXPECT_EQ(platform::readWholeFile(dir / "customlist.json", bytes), FileRead::Unreadable);
    EXPECT_EQ(bytes, "");
}

TEST_F(ReadWholeFile, EveryByteIsReadFromAnEmptyFileAndFromOneLargerThanTheBuffer) {
    test::writeFile(dir / "empty", "");
    EXPECT_EQ(platform::readWholeFile(dir / "empty", bytes), FileRead::Read);
    EXPECT_EQ(bytes, "");

    std::string large(40000, 'x');
    large[0] = '\0';
    large[16384] = '\r';
    large[39999] = '\n';
    test::writeFile(dir / "large", large);
    EXPECT_EQ(platform::readWholeFile(dir / "large", bytes), FileRead::Read);
    EXPECT_EQ(bytes, large);
}

TEST(TemporaryName, IsTheNameWithThisProcessAndACountBeside) {
    const fs::path file = fs::path("folder") / "customlist.json";
    const std::string prefix = "customlist.json." + std::to_string(platform::currentProcessId()) + "-";
    const fs::path first = platform::temporaryNameFor(file);
    const fs::path second = platform::temporaryNameFor(file);
    EXPECT_EQ(first.parent_path(), file.parent_path());
    for (const auto& name : {first.filename().string(), second.filename().string()}) {
        EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".tmp") << name;
    }
    EXPECT_NE(first, second);
}

}  // namespace
}  // namespace mendly
