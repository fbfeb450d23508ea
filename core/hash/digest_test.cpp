#include "hash/digest.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace mendly {
namespace {

TEST(Digest, KnownAnswersFromTheStandards) {
    // RFC 1321 appendix A.5
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    // FIPS 180-4 examples
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Digest, HexIsLowercaseHighNibbleFirst) {
    const unsigned char bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(toHexLower(bytes, 4), "000fa0ff");
}

class DigestFileTest : public ::testing::Test {
protected:
    test::TempDir dir{"digest"};
};

TEST_F(DigestFileTest, FilesAroundTheChunkSizeMatchInMemoryDigests) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{1} << 20, (size_t{1} << 20) + 1, size_t{3} << 20}) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131) ^ (i >> 9));
        const auto path = dir / ("f" + std::to_string(size));
        test::writeFile(path, content);
        EXPECT_EQ(md5FileHex(path), md5Hex(content)) << size;
        EXPECT_EQ(sha256FileHex(path), sha256Hex(content)) << size;
    }
    EXPECT_EQ(md5FileHex(dir / "f0"), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(DigestFileTest, MissingFilesAndFoldersGiveTheEmptyText) {
    EXPECT_EQ(md5FileHex(dir / "missing"), "");
    EXPECT_EQ(sha256FileHex(dir / "missing"), "");
    EXPECT_EQ(md5FileHex(dir.path()), "");
}

}  // namespace
}  // namespace mendly
