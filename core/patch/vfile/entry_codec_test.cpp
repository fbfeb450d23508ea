#include "patch/vfile/entry_codec.h"

#include <gtest/gtest.h>

#include <random>

#include <zlib.h>

#include "patch/vfile/vfile_test_bytes.h"

namespace mendly::vfile {
namespace {

using namespace mendly::vfile::test;

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

TEST(CompressEntry, WritesAStandardZlibStreamThatZlibItselfInflates) {
    std::string contents;
    for (int i = 0; i < 2000; ++i) contents += "line " + std::to_string(i % 37) + " of the text\n";
    const auto stored = compressEntry(contents);
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->isRaw());
    EXPECT_EQ(stored->originalSize, contents.size());
    std::string inflated(contents.size(), '\0');
    uLongf length = static_cast<uLongf>(inflated.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &length,
                         reinterpret_cast<const Bytef*>(stored->bytes.data()), static_cast<uLong>(stored->bytes.size())),
              Z_OK);
    EXPECT_EQ(inflated, contents);
}

TEST(CompressEntry, ReadsStreamsZlibWrote) {
    EXPECT_EQ(expandStoredEntry(kHelloZlib, 5), "hello");
}

TEST(CompressEntry, StoresEmptyContentsAsNothing) {
    const auto stored = compressEntry("");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->bytes.empty());
    EXPECT_EQ(stored->originalSize, 0u);
    EXPECT_EQ(expandStoredEntry(stored->bytes, stored->originalSize), "");
}

TEST(CompressEntry, StoresIncompressibleContentsRaw) {
    const std::string contents = randomBytes(300, 1);
    const auto stored = compressEntry(contents);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->bytes, contents);
    EXPECT_EQ(stored->originalSize, 300u);
    EXPECT_EQ(expandStoredEntry(stored->bytes, stored->originalSize), contents);
}

// The sampling probe judges by the spread of the bytes, at every size from
// where it starts: evenly spread bytes are stored raw, text-like ones and a
// short random pattern repeated (few distinct bytes per sample) are still
// compressed.
TEST(CompressEntry, SampledBytesDecideRawOrCompressedAtEverySize) {
    for (const std::size_t size : {std::size_t{8} << 10, std::size_t{100} << 10, std::size_t{300} << 10}) {
        SCOPED_TRACE(size);
        const std::string random = randomBytes(size, 3);
        std::string text;
        for (unsigned i = 0; text.size() < size; ++i) text += "<row id=\"" + std::to_string(i * 7919 % 10007) + "\"/>\n";
        text.resize(size);
        std::string pattern;
        const std::string cycle = randomBytes(512, 5);
        while (pattern.size() < size) pattern += cycle;
        pattern.resize(size);

        const auto raw = compressEntry(random);
        ASSERT_TRUE(raw);
        EXPECT_TRUE(raw->isRaw());
        for (const std::string* compressible : {&text, &pattern}) {
            const auto stored = compressEntry(*compressible);
            ASSERT_TRUE(stored);
            EXPECT_LT(stored->bytes.size(), size / 2);
            EXPECT_EQ(expandStoredEntry(stored->bytes, stored->originalSize), *compressible);
        }
    }
}

TEST(CompressEntry, StoresContentsRawWhenTheStreamIsExactlyAsLong) {
    // A run of equal bytes before random ones: the stream grows by about 11
    // bytes of framing and shrinks by the run, so some run length makes both
    // lengths equal. Search for it rather than hard-wiring zlib's choices.
    const std::string tail = randomBytes(200, 7);
    std::optional<std::string> equalCase;
    for (std::size_t run = 0; run < 200 && !equalCase; ++run) {
        const std::string contents = std::string(run, 'q') + tail;
        const auto stored = compressEntry(contents);
        ASSERT_TRUE(stored);
        if (stored->bytes.size() == contents.size()) {
            EXPECT_EQ(stored->bytes, contents) << "a stream as long as its contents was kept, run " << run;
            equalCase = contents;
        }
    }
    ASSERT_TRUE(equalCase) << "no run length gave a stream of the contents' length";
    const auto stored = compressEntry(*equalCase);
    EXPECT_TRUE(stored->isRaw());
    EXPECT_EQ(expandStoredEntry(stored->bytes, stored->originalSize), *equalCase);
}

TEST(CompressEntry, HighlyCompressibleContentsStayWithinTheInflateBound) {
    const std::string zeros(16u << 20, '\0');
    const auto stored = compressEntry(zeros);
    ASSERT_TRUE(stored);
    EXPECT_LT(stored->bytes.size() * 100, zeros.size()) << "expected better than 100:1";
    EXPECT_EQ(expandStoredEntry(stored->bytes, stored->originalSize), zeros);
}

}  // namespace
}  // namespace mendly::vfile
