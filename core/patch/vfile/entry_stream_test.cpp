#include "patch/vfile/entry_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "patch/vfile/entry_codec.h"
#include "patch/vfile/vfile_test_bytes.h"

namespace mendly::vfile {
namespace {

using namespace mendly::vfile::test;

// Text that compresses well but not to nothing.
std::string text(std::size_t size) {
    std::string out;
    for (std::size_t line = 0; out.size() < size; ++line)
        out += "entry line " + std::to_string(line * 7919 % 100003) + " of the archive\n";
    out.resize(size);
    return out;
}

// Compares what a sink receives with `expected` as it arrives (no second copy of a large entry).
struct Checker {
    explicit Checker(std::string_view bytes) : expected(bytes) {}
    ContentSink sink() {
        return [this](std::string_view piece) {
            largestPiece = std::max(largestPiece, piece.size());
            matched = matched && expected.substr(std::min(offset, expected.size()), piece.size()) == piece;
            offset += piece.size();
        };
    }
    bool complete() const { return matched && offset == expected.size(); }

    std::string_view expected;
    std::size_t offset = 0, largestPiece = 0;
    bool matched = true;
};

struct RoundTripCase {
    const char* name;
    std::size_t size;
    bool compressible;
};
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class EntryStreamRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(EntryStreamRoundTrip, StoresAtTheStreamPositionsAndExpandsBackInBoundedPieces) {
    const RoundTripCase& c = GetParam();
    const std::string contents = c.compressible ? text(c.size) : noise(c.size, c.size);
    // Both streams start after bytes of their own, as a payload header would be.
    std::istringstream in("pre" + contents);
    in.seekg(3);
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    out << "HEADER";
    CodecBuffers buffers;
    const auto stored = compressStream(in, c.size, out, buffers);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored == c.size, !c.compressible || c.size == 0);
    ASSERT_EQ(out.view().size(), 6 + *stored) << "the output runs past the stored form";
    EXPECT_EQ(out.view().substr(0, 6), "HEADER");
    if (*stored == c.size) {
        EXPECT_TRUE(out.view().substr(6) == contents) << "raw storage is not the contents";
    }
    const bool streaming = c.size > kWholeEntryLimit;
    if (streaming) {
        EXPECT_LE(std::max(buffers.stored.capacity(), buffers.contents.capacity()), kStreamChunk);
    }
    std::istringstream back(std::move(out).str());
    back.seekg(6);
    Checker checker(contents);
    CodecBuffers fresh;
    ASSERT_TRUE(expandStoredStream(back, *stored, static_cast<std::uint32_t>(c.size), checker.sink(), fresh));
    EXPECT_TRUE(checker.complete()) << "contents differ before byte " << checker.offset;
    if (streaming) {
        EXPECT_LE(checker.largestPiece, kStreamChunk);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EntryStreamRoundTrip,
    ::testing::Values(RoundTripCase{"Empty", 0, true}, RoundTripCase{"SmallText", 70000, true},
                      RoundTripCase{"SmallNoise", 4096, false},
                      RoundTripCase{"ExactlyTheWholeLimit", kWholeEntryLimit, true},
                      RoundTripCase{"OneOverTheWholeLimit", kWholeEntryLimit + 1, true},
                      RoundTripCase{"LargeNoise", kWholeEntryLimit + kStreamChunk + 123, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InflateStoredStream, OnlyTheExactOriginalSizeIsAcceptedWholeOrStreaming) {
    for (const std::size_t size : {std::size_t{5000}, std::size_t{kWholeEntryLimit + 1}}) {
        const std::string contents = text(size);
        const std::string stream = *zlibCompress(contents);
        for (const std::size_t claim : {size, size - 1, size + 1}) {
            std::istringstream in(stream);
            Checker checker(contents);
            CodecBuffers buffers;
            const bool ok = inflateStoredStream(in, stream.size(), static_cast<std::uint32_t>(claim), checker.sink(),
                                                buffers);
            EXPECT_EQ(ok && checker.complete(), claim == size) << "contents of " << size << " claimed as " << claim;
        }
    }
}

TEST(InflateStoredStream, AClaimBeyondTheDeflateBoundIsRefusedBeforeReading) {
    // 13 stored bytes inflate to at most 13 * 1032 = 13416 bytes.
    auto positionAfterClaiming = [](std::uint32_t claim) {
        std::istringstream in(kHelloZlib);
        CodecBuffers buffers;
        EXPECT_FALSE(inflateStoredStream(in, kHelloZlib.size(), claim, [](std::string_view) { FAIL(); }, buffers));
        return static_cast<std::streamoff>(in.tellg());
    };
    EXPECT_EQ(positionAfterClaiming(13417), 0);
    EXPECT_EQ(positionAfterClaiming(0xFFFFFFFFu), 0);
    EXPECT_EQ(positionAfterClaiming(13416), 13) << "a claim within the bound is tried";
}

}  // namespace
}  // namespace mendly::vfile
