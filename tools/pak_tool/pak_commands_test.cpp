#include "pak_commands.h"

#include <gtest/gtest.h>

#include <sstream>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/single_file_payload.h"
#include "support/temp_dir.h"

namespace pakinspect {
namespace {

using mendly::test::readFile;
using mendly::test::TempDir;
using mendly::test::writeFile;
using namespace mendly::vfile;

class PakInspect : public ::testing::Test {
protected:
    int run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        return pakinspect::run(args, out, err);
    }
    std::string p(const std::filesystem::path& rel) const { return (dir / rel).string(); }

    TempDir dir{"pak-inspect"};
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(PakInspect, ListShowsStoredAndOriginalSizes) {
    ASSERT_TRUE(writeArchiveFile(dir / "a.pak", {{"Dir/One.txt", {"abc", 3}}, {"two", {std::string(13, 'z'), 5}}}));
    EXPECT_EQ(run({"list", p("a.pak")}), 0);
    EXPECT_EQ(out.str(),
              "    stored   original  name\n"
              "         3          3  dir\\one.txt\n"
              "        13          5  two\n"
              "2 entries, 16 bytes stored, 8 bytes original\n");
}

TEST_F(PakInspect, PackThenExtractGivesBackEveryFile) {
    writeFile(dir / "src" / "top.txt", "top level");
    writeFile(dir / "src" / "sub" / "Deep.BIN", std::string(5000, 'x'));
    writeFile(dir / "src" / "sub" / "empty", "");
    ASSERT_EQ(run({"pack", p("src"), p("out.pak")}), 0) << err.str();
    EXPECT_EQ(out.str(), "packed 3 files into " + p("out.pak") + "\n");

    const auto archive = Archive::open(dir / "out.pak");
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->entries().size(), 3u);
    EXPECT_EQ(archive->entries()[0].name, "sub\\deep.bin");
    EXPECT_EQ(archive->entries()[1].name, "sub\\empty");
    EXPECT_EQ(archive->entries()[2].name, "top.txt");

    ASSERT_EQ(run({"extract", p("out.pak"), "SUB/deep.bin", p("deep")}), 0) << err.str();
    EXPECT_EQ(readFile(dir / "deep"), std::string(5000, 'x'));
    ASSERT_EQ(run({"extract", p("out.pak"), "sub\\empty", p("e")}), 0) << err.str();
    EXPECT_EQ(readFile(dir / "e"), "");
    EXPECT_EQ(run({"check", p("out.pak")}), 0);
    EXPECT_EQ(out.str(), "OK: 3 entries\n");
}

TEST_F(PakInspect, PackingIntoTheFolderItselfLeavesTheOldArchiveOut) {
    writeFile(dir / "src" / "a.txt", "a");
    ASSERT_EQ(run({"pack", p("src"), p("src/self.pak")}), 0) << err.str();
    ASSERT_EQ(run({"pack", p("src"), p("src/self.pak")}), 0) << err.str();
    EXPECT_EQ(Archive::open(dir / "src" / "self.pak")->entries().size(), 1u);
}

TEST_F(PakInspect, PackRefusesEmptyFoldersAndNamesDifferingOnlyInCase) {
    std::filesystem::create_directory(dir / "empty");
    EXPECT_EQ(run({"pack", p("empty"), p("x.pak")}), 1);
    EXPECT_NE(err.str().find("holds no files"), std::string::npos);

    writeFile(dir / "twins" / "Name.txt", "1");
    writeFile(dir / "twins" / "name.TXT", "2");
    EXPECT_EQ(run({"pack", p("twins"), p("x.pak")}), 1);
    EXPECT_NE(err.str().find("differ only in letter case"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.pak"));
}

TEST_F(PakInspect, CheckNamesEveryDamagedEntryAndFails) {
    ASSERT_TRUE(writeArchiveFile(dir / "d.pak", {{"good", {"fine", 4}}, {"bad", {"not zlib", 20}}}));
    EXPECT_EQ(run({"check", p("d.pak")}), 1);
    EXPECT_EQ(err.str(), "damaged: bad: does not inflate to 20 bytes\nFAILED: 1 of 2 entries are damaged\n");
}

TEST_F(PakInspect, ExtractFailsForAMissingMemberOrArchive) {
    ASSERT_TRUE(writeArchiveFile(dir / "a.pak", {{"x", {"1", 1}}}));
    EXPECT_EQ(run({"extract", p("a.pak"), "y", p("out")}), 1);
    EXPECT_EQ(err.str(), "pak_tool: no member y in " + p("a.pak") + "\n");
    EXPECT_EQ(run({"list", p("none.pak")}), 1);
    EXPECT_EQ(err.str(), "pak_tool: cannot open " + p("none.pak") + ": missing, unreadable or not a valid archive\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST_F(PakInspect, PayloadDecodesToTheSourceFile) {
    const std::string contents = "payload contents, payload contents, payload contents";
    writeFile(dir / "in", contents);
    ASSERT_EQ(run({"payload", p("in"), p("pak_in")}), 0) << err.str();
    EXPECT_EQ(decodeSingleFilePayload(readFile(dir / "pak_in")), contents);
    writeFile(dir / "zero", "");
    EXPECT_EQ(run({"payload", p("zero"), p("pak_zero")}), 1);
}

TEST_F(PakInspect, WrongCommandLinesAreUsageErrors) {
    EXPECT_EQ(run({}), 2);
    EXPECT_NE(err.str().find("usage: pak_tool list FILE"), std::string::npos);
    EXPECT_EQ(run({"list"}), 2);
    EXPECT_EQ(run({"extract", "a", "b"}), 2);
    EXPECT_EQ(run({"frobnicate", "x"}), 2);
    EXPECT_NE(err.str().find("unknown command frobnicate"), std::string::npos);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_TRUE(err.str().empty());
}

}  // namespace
}  // namespace pakinspect
