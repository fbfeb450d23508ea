#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "page_archive.h"
#include "page_archive_writer.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using namespace std::literals;

// Node bytes: code unit, lower, equal (item number at a 0 unit), higher; all
// 16-bit little-endian, -1 = FF FF.
#define NODE(unit, lower, equal, higher)                                                                     \
    std::string({char(unit), char(0), char((lower) & 0xff), char(((lower) >> 8) & 0xff), char((equal) & 0xff), \
                 char(((equal) >> 8) & 0xff), char((higher) & 0xff), char(((higher) >> 8) & 0xff)})

// "a.txt" = "hi" (stored) and "b.css" = "x{}" (LZF: one literal run of 3
// bytes, control byte 0x02), written out from the format's table.
std::string handWrittenArchive() {
    std::string bytes = "SAr\0"s;
    bytes += "\x0c\x00\x00\x00"s;  // 12 nodes
    bytes += NODE('a', -1, 1, 6);  // 0: root; "b..." hangs off its higher side
    bytes += NODE('.', -1, 2, -1);
    bytes += NODE('t', -1, 3, -1);
    bytes += NODE('x', -1, 4, -1);
    bytes += NODE('t', -1, 5, -1);
    bytes += NODE(0, -1, 1, -1);  // 5: end of "a.txt" -> item 1
    bytes += NODE('b', -1, 7, -1);
    bytes += NODE('.', -1, 8, -1);
    bytes += NODE('c', -1, 9, -1);
    bytes += NODE('s', -1, 10, -1);
    bytes += NODE('s', -1, 11, -1);
    bytes += NODE(0, -1, 2, -1);  // 11: end of "b.css" -> item 2
    bytes += "\x02\x00\x00\x00"s;  // 2 items; the data starts at 8 + 96 + 4 + 24 = 132
    bytes += "\x84\x00\x00\x00" "\x02\x00\x00\x00" "\x00\x00\x00\x00"s;  // a.txt: 132, 2 bytes, stored
    bytes += "\x86\x00\x00\x00" "\x04\x00\x00\x00" "\x03\x00\x00\x00"s;  // b.css: 134, 4 bytes, 3 unpacked
    bytes += "hi";
    bytes += "\x02x{}";
    return bytes;
}

test::ProcessResult runPacker(std::vector<std::string> args) {
    test::ProcessOptions options;
    options.args = std::move(args);
    return test::runProcess(PACK_PAGE_EXE, options);
}

void putU32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void putI16(std::string& bytes, std::size_t at, std::int16_t v) {
    bytes[at] = static_cast<char>(v & 0xff);
    bytes[at + 1] = static_cast<char>((static_cast<std::uint16_t>(v) >> 8) & 0xff);
}

// Offsets into handWrittenArchive().
constexpr std::size_t kNode0 = 8;
constexpr std::size_t kItem2 = 8 + 96 + 4 + 12;

class PageArchiveFormat : public ::testing::Test {
protected:
    static bool opens(const std::string& bytes) {
        PageArchive archive;
        std::u16string error;
        const bool ok = archive.open(bytes, error);
        EXPECT_EQ(ok, error.empty());
        return ok;
    }
    const std::string expected = handWrittenArchive();
};

TEST_F(PageArchiveFormat, TwoFileArchiveMatchesTheHandWrittenBytes) {
    std::string archive;
    std::u16string error;
    // Given out of order: the writer orders by name.
    ASSERT_TRUE(writePageArchive({{u"b.css", "x{}"}, {u"a.txt", "hi"}}, archive, error));
    EXPECT_EQ(archive, expected);
}

TEST_F(PageArchiveFormat, PackerProgramWritesTheSameBytes) {
    test::TempDir dir("pack_page");
    test::writeFile(dir / "page" / "a.txt", "hi");
    test::writeFile(dir / "page" / "b.css", "x{}");
    const test::ProcessResult run =
        runPacker({(dir / "page").string(), (dir / "out.sar").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(test::readFile(dir / "out.sar"), expected);
}

TEST_F(PageArchiveFormat, PackerNamesSubfolderFilesWithForwardSlashes) {
    test::TempDir dir("pack_page");
    test::writeFile(dir / "page" / "img" / "kst.png", "\x89PNG");
    const test::ProcessResult run =
        runPacker({(dir / "page").string(), (dir / "out.sar").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string bytes = test::readFile(dir / "out.sar");
    PageArchive archive;
    std::u16string error;
    ASSERT_TRUE(archive.open(bytes, error));
    std::string contents;
    ASSERT_TRUE(archive.read(u"img/kst.png", contents));
    EXPECT_EQ(contents, "\x89PNG");
}

TEST_F(PageArchiveFormat, PackerRefusesAMissingFolderAndWrongUsage) {
    test::TempDir dir("pack_page");
    EXPECT_EQ(runPacker({(dir / "nothing").string(), (dir / "out.sar").string()}).exitCode, 1);
    EXPECT_EQ(runPacker({dir.path().string()}).exitCode, 2);
}

TEST_F(PageArchiveFormat, ReaderFindsBothFilesOfTheHandWrittenArchive) {
    PageArchive archive;
    std::u16string error;
    ASSERT_TRUE(archive.open(expected, error));
    std::string contents;
    ASSERT_TRUE(archive.read(u"a.txt", contents));
    EXPECT_EQ(contents, "hi");
    ASSERT_TRUE(archive.read(u"b.css", contents));
    EXPECT_EQ(contents, "x{}");
    EXPECT_EQ(archive.findItem(u"a.txt"), 0);
    EXPECT_EQ(archive.findItem(u"b.css"), 1);
}

TEST_F(PageArchiveFormat, LookupIsExactAndCaseSensitive) {
    PageArchive archive;
    std::u16string error;
    ASSERT_TRUE(archive.open(expected, error));
    for (std::u16string_view name : {u"A.txt"sv, u"a.tx"sv, u"a.txtx"sv, u""sv, u"b"sv, u"c.css"sv, u"a.txt\0"sv}) {
        EXPECT_EQ(archive.findItem(name), -1) << std::string(name.begin(), name.end());
    }
}

TEST_F(PageArchiveFormat, EmptyFolderGivesAnEmptyArchiveThatFindsNothing) {
    std::string archive;
    std::u16string error;
    ASSERT_TRUE(writePageArchive({}, archive, error));
    EXPECT_EQ(archive, "SAr\0\0\0\0\0\0\0\0\0"s);
    PageArchive reader;
    ASSERT_TRUE(reader.open(archive, error));
    EXPECT_EQ(reader.findItem(u"main.htm"), -1);
}

TEST_F(PageArchiveFormat, ManyFilesRoundTripWithTheirContents) {
    std::vector<PageFile> files;
    std::string big;
    for (int i = 0; i < 5000; ++i) big += "line " + std::to_string(i % 37) + " of the style sheet;\n";
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 7919) >> 3));
    files.push_back({u"main.css", big});
    files.push_back({u"main.htm", "<html></html>"});
    files.push_back({u"main.js", ""});
    files.push_back({u"background.jpg", binary});
    files.push_back({u"img/kst.png", "png"});
    files.push_back({u"img/k.png", "k"});
    files.push_back({u"bild_\u00e4\u4e2d.png", "unicode name"});
    files.push_back({u"client_icon.ICO", binary.substr(0, 999)});
    std::string archive;
    std::u16string error;
    ASSERT_TRUE(writePageArchive(files, archive, error)) << std::string(error.begin(), error.end());

    PageArchive reader;
    ASSERT_TRUE(reader.open(archive, error));
    ASSERT_EQ(reader.items().size(), files.size());
    for (const PageFile& file : files) {
        std::string contents;
        ASSERT_TRUE(reader.read(file.name, contents));
        EXPECT_EQ(contents, file.contents);
        const auto& item = reader.items()[static_cast<std::size_t>(reader.findItem(file.name))];
        EXPECT_EQ(item.unpackedSize != 0, isCompressedPageFile(file.name) && !file.contents.empty());
    }
    // The repetitive style sheet really is compressed.
    EXPECT_LT(reader.items()[static_cast<std::size_t>(reader.findItem(u"main.css"))].storedSize, big.size() / 4);
}

TEST_F(PageArchiveFormat, OnlyPagesStyleSheetsScriptsAndIconsAreCompressed) {
    for (std::u16string_view name : {u"main.htm", u"MAIN.CSS", u"sub/main.js", u"client_icon.ico"})
        EXPECT_TRUE(isCompressedPageFile(name));
    for (std::u16string_view name : {u"kst.png", u"background.jpg", u"main.json", u"htm", u".css", u"x.jsx"})
        EXPECT_FALSE(isCompressedPageFile(name));
}

TEST_F(PageArchiveFormat, WriterRefusesDuplicateEmptyAndNulNames) {
    std::string archive;
    std::u16string error;
    EXPECT_FALSE(writePageArchive({{u"a.txt", "1"}, {u"a.txt", "2"}}, archive, error));
    EXPECT_EQ(error, u"The page file a.txt is listed twice.");
    EXPECT_FALSE(writePageArchive({{u"", "1"}}, archive, error));
    EXPECT_FALSE(writePageArchive({{u"a\0b"s, "1"}}, archive, error));
    EXPECT_TRUE(archive.empty());
}

TEST_F(PageArchiveFormat, NamesThatShareAPrefixAreAllFound) {
    std::string archive;
    std::u16string error;
    ASSERT_TRUE(writePageArchive({{u"a", "1"}, {u"ab", "2"}, {u"abc", "3"}, {u"b", "4"}, {u"aa", "5"}}, archive, error));
    PageArchive reader;
    ASSERT_TRUE(reader.open(archive, error));
    std::string contents;
    for (auto [name, want] : {std::pair{u"a", "1"}, {u"ab", "2"}, {u"abc", "3"}, {u"b", "4"}, {u"aa", "5"}}) {
        ASSERT_TRUE(reader.read(name, contents));
        EXPECT_EQ(contents, want);
    }
    EXPECT_FALSE(reader.read(u"abcd", contents));
}

class HostilePageArchive : public PageArchiveFormat {};

TEST_F(HostilePageArchive, EveryTruncationIsRejected) {
    for (std::size_t size = 0; size < expected.size(); ++size)
        EXPECT_FALSE(opens(expected.substr(0, size))) << "size " << size;
    EXPECT_TRUE(opens(expected));
}

TEST_F(HostilePageArchive, WrongSignatureIsRejected) {
    std::string bytes = expected;
    bytes[2] = 'R';
    EXPECT_FALSE(opens(bytes));
}

TEST_F(HostilePageArchive, HugeCountsAreRejectedWithoutReadingPastTheEnd) {
    std::string bytes = expected;
    putU32(bytes, 4, 0xffffffffu);
    EXPECT_FALSE(opens(bytes));
    bytes = expected;
    putU32(bytes, 8 + 96, 0x7fffffffu);  // item count
    EXPECT_FALSE(opens(bytes));
}

TEST_F(HostilePageArchive, ItemsOutsideTheDataAreRejected) {
    std::string bytes = expected;
    putU32(bytes, kItem2, 136);  // 136 + 4 > 138
    EXPECT_FALSE(opens(bytes));
    bytes = expected;
    putU32(bytes, kItem2, 0xfffffffeu);  // offset + size overflows 32 bits
    EXPECT_FALSE(opens(bytes));
    bytes = expected;
    putU32(bytes, kItem2, 8);  // inside the name table
    EXPECT_FALSE(opens(bytes));
}

TEST_F(HostilePageArchive, ImpossibleUnpackedSizesAreRejected) {
    std::string bytes = expected;
    putU32(bytes, kItem2 + 8, 4 * 88 + 1);  // more than 4 LZF bytes can ever expand to
    EXPECT_FALSE(opens(bytes));
    bytes = expected;
    putU32(bytes, kItem2 + 8, 0xffffffffu);
    EXPECT_FALSE(opens(bytes));
}

TEST_F(HostilePageArchive, TreeIndicesOutsideTheTablesAreRejected) {
    std::string bytes = expected;
    putI16(bytes, kNode0 + 6, 12);  // root's higher node past the last node
    EXPECT_FALSE(opens(bytes));
    bytes = expected;
    putI16(bytes, kNode0 + 2, -2);
    EXPECT_FALSE(opens(bytes));
    bytes = expected;
    putI16(bytes, kNode0 + 5 * 8 + 4, 3);  // item number 3 of 2
    EXPECT_FALSE(opens(bytes));
    bytes = expected;
    putI16(bytes, kNode0 + 5 * 8 + 4, 0);  // item numbers start at 1
    EXPECT_FALSE(opens(bytes));
}

TEST_F(HostilePageArchive, ACycleInTheTreeEndsTheLookup) {
    std::string bytes = expected;
    putI16(bytes, kNode0 + 6 * 8 + 6, 0);  // 'b' node's higher side points back at the root
    PageArchive archive;
    std::u16string error;
    ASSERT_TRUE(archive.open(bytes, error));
    EXPECT_EQ(archive.findItem(u"c.css"), -1);
    EXPECT_EQ(archive.findItem(u"b.css"), 1);
}

TEST_F(HostilePageArchive, CorruptCompressedDataIsNotReturned) {
    std::string bytes = expected;
    bytes[134] = '\x40';  // a back reference before the start of the output
    PageArchive archive;
    std::u16string error;
    ASSERT_TRUE(archive.open(bytes, error));
    std::string contents = "old";
    EXPECT_FALSE(archive.read(u"b.css", contents));
    EXPECT_TRUE(contents.empty());
}

TEST_F(HostilePageArchive, AnUnpackedSizeThatDoesNotMatchTheDataIsNotReturned) {
    std::string bytes = expected;
    putU32(bytes, kItem2 + 8, 5);  // the stream holds 3 bytes
    PageArchive archive;
    std::u16string error;
    ASSERT_TRUE(archive.open(bytes, error));
    std::string contents;
    EXPECT_FALSE(archive.read(u"b.css", contents));
    putU32(bytes, kItem2 + 8, 2);  // too small for the stream
    ASSERT_TRUE(archive.open(bytes, error));
    EXPECT_FALSE(archive.read(u"b.css", contents));
}

}  // namespace
}  // namespace mendly
