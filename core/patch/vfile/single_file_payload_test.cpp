#include "patch/vfile/single_file_payload.h"

#include <gtest/gtest.h>

#include "patch/vfile/entry_codec.h"
#include "patch/vfile/vfile_test_bytes.h"

namespace mendly::vfile {
namespace {

using namespace mendly::vfile::test;

const std::string kPayloadMagicBytes =
    bytes({0x0A, 0xF7, 0x3D, 0x88, 0x84, 0x75, 0x84, 0x93, 0xBD, 0xEF, 0xFD, 0xAB});

TEST(SingleFilePayload, BuildLaysOutMagicSizeAndBody) {
    const auto payload = buildSingleFilePayload({kHelloZlib, 5});
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, kPayloadMagicBytes + bytes({5, 0, 0, 0}) + kHelloZlib);
}

TEST(SingleFilePayload, BuildParseDecodeRoundTrip) {
    const std::string contents = "The quick brown fox jumps over the lazy dog, twice: the quick brown fox.";
    const auto stream = zlibCompress(contents);  // a payload body is always a stream
    ASSERT_TRUE(stream);
    const std::optional<StoredEntry> stored = StoredEntry{*stream, static_cast<std::uint32_t>(contents.size())};
    const auto payload = buildSingleFilePayload(*stored);
    ASSERT_TRUE(payload);
    EXPECT_EQ(parseSingleFilePayload(*payload), stored);
    EXPECT_EQ(decodeSingleFilePayload(*payload), contents);
}

TEST(SingleFilePayload, BuildRefusesEmptyBodiesAndZeroSizes) {
    EXPECT_FALSE(buildSingleFilePayload({"", 0}));
    EXPECT_FALSE(buildSingleFilePayload({"", 5}));
    EXPECT_FALSE(buildSingleFilePayload({kHelloZlib, 0}));
}

TEST(SingleFilePayload, BuildPassesARawBodyThroughUnchanged) {
    const auto payload = buildSingleFilePayload({"abc", 3});
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, kPayloadMagicBytes + bytes({3, 0, 0, 0}) + "abc");
    // It parses, but a raw body is no zlib stream, so it does not decode.
    EXPECT_EQ(parseSingleFilePayload(*payload), (StoredEntry{"abc", 3}));
    EXPECT_FALSE(decodeSingleFilePayload(*payload));
}

TEST(SingleFilePayload, SixteenBytesAreTooFewAndSeventeenParse) {
    const std::string headerOnly = kPayloadMagicBytes + bytes({1, 0, 0, 0});
    EXPECT_FALSE(parseSingleFilePayload(headerOnly));
    EXPECT_FALSE(decodeSingleFilePayload(headerOnly));
    EXPECT_FALSE(parseSingleFilePayload(headerOnly.substr(0, 15)));
    EXPECT_EQ(parseSingleFilePayload(headerOnly + "x"), (StoredEntry{"x", 1}));
}

TEST(SingleFilePayload, RejectsAnyOtherMagic) {
    for (std::size_t i = 0; i < 12; ++i) {
        std::string payload = kPayloadMagicBytes + bytes({5, 0, 0, 0}) + kHelloZlib;
        payload[i] ^= 0x40;
        EXPECT_FALSE(parseSingleFilePayload(payload)) << "byte " << i;
        EXPECT_FALSE(decodeSingleFilePayload(payload)) << "byte " << i;
    }
}

TEST(SingleFilePayload, ABodyInflatingShortOfTheSizeParsesButDoesNotDecode) {
    const std::string payload = kPayloadMagicBytes + bytes({6, 0, 0, 0}) + kHelloZlib;
    EXPECT_EQ(parseSingleFilePayload(payload), (StoredEntry{kHelloZlib, 6}));
    EXPECT_FALSE(decodeSingleFilePayload(payload));
    EXPECT_FALSE(decodeSingleFilePayload(kPayloadMagicBytes + bytes({4, 0, 0, 0}) + kHelloZlib));
}

TEST(SingleFilePayload, AHugeClaimedSizeIsRefusedWithoutInflating) {
    const std::string payload = kPayloadMagicBytes + bytes({0xFF, 0xFF, 0xFF, 0xFF}) + kHelloZlib;
    EXPECT_EQ(parseSingleFilePayload(payload)->originalSize, 0xFFFFFFFFu);
    EXPECT_FALSE(decodeSingleFilePayload(payload));
}

}  // namespace
}  // namespace mendly::vfile
