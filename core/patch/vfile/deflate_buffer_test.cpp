#include "patch/vfile/deflate_buffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include <zlib.h>

namespace mendly::vfile {
namespace {

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

std::string textBytes(std::size_t n) {
    std::string out;
    for (int i = 0; out.size() < n; ++i) out += "row " + std::to_string(i % 53) + ";";
    out.resize(n);
    return out;
}

// The stream deflate_buffer writes for `contents`, with room up to the bound.
std::string streamOf(std::string_view contents) {
    std::string out(deflate_buffer::compressBound(contents.size()), '\0');
    out.resize(deflate_buffer::compress(contents, out.data(), out.size()));
    return out;
}

// zlib's own stream of `contents`.
std::string zlibStreamOf(const std::string& contents) {
    uLongf length = compressBound(static_cast<uLong>(contents.size()));
    std::string out(length, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                        reinterpret_cast<const Bytef*>(contents.data()), static_cast<uLong>(contents.size()), 9),
              Z_OK);
    out.resize(length);
    return out;
}

std::optional<std::string> inflated(std::string_view stream, std::size_t size) {
    std::string out(size, '\0');
    if (!deflate_buffer::inflateExactly(stream, out.data(), size)) return std::nullopt;
    return out;
}

struct Contents {
    const char* name;
    std::string bytes;
};

class DeflateBufferRoundTrip : public ::testing::TestWithParam<Contents> {};

TEST_P(DeflateBufferRoundTrip, StreamsFitTheBoundAndInflateBackHereAndInZlib) {
    const std::string& contents = GetParam().bytes;
    const std::string stream = streamOf(contents);
    ASSERT_FALSE(stream.empty());
    EXPECT_LE(stream.size(), deflate_buffer::compressBound(contents.size()));
    EXPECT_EQ(inflated(stream, contents.size()), contents);

    std::string byZlib(contents.size(), '\0');
    uLongf length = static_cast<uLongf>(byZlib.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(byZlib.data()), &length,
                         reinterpret_cast<const Bytef*>(stream.data()), static_cast<uLong>(stream.size())),
              Z_OK);
    EXPECT_EQ(byZlib, contents);
    EXPECT_EQ(inflated(zlibStreamOf(contents), contents.size()), contents);
}

INSTANTIATE_TEST_SUITE_P(Contents, DeflateBufferRoundTrip,
                         ::testing::Values(Contents{"Empty", ""}, Contents{"OneByte", "x"},
                                           Contents{"Text", textBytes(300000)},
                                           Contents{"Random", randomBytes(200000, 7)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeflateBuffer, ACompressionThatDoesNotFitTheLimitGivesZeroAndTheNextOneStillWorks) {
    const std::string contents = randomBytes(10000, 3);
    std::string small(contents.size() - 1, '\0');
    EXPECT_EQ(deflate_buffer::compress(contents, small.data(), small.size()), 0u);
    // The thread's compressor is reused: a failed call must leave it usable.
    const std::string text = textBytes(5000);
    EXPECT_EQ(inflated(streamOf(text), text.size()), text);
}

TEST(DeflateBuffer, InflatingRefusesEveryOtherLengthAndDamagedStreams) {
    const std::string contents = textBytes(4096);
    const std::string stream = streamOf(contents);
    EXPECT_FALSE(inflated(stream, contents.size() - 1)) << "longer than the buffer";
    EXPECT_FALSE(inflated(stream, contents.size() + 1)) << "shorter than the buffer";
    EXPECT_FALSE(inflated(stream.substr(0, stream.size() / 2), contents.size())) << "truncated";
    std::string damaged = stream;
    damaged[damaged.size() - 1] = static_cast<char>(damaged[damaged.size() - 1] ^ 0x55);  // the checksum
    EXPECT_FALSE(inflated(damaged, contents.size())) << "bad checksum";
    EXPECT_FALSE(inflated("", 0)) << "no stream at all";
    // After the refusals the thread's decompressor still works, and bytes
    // after the end of a stream are not part of it.
    EXPECT_EQ(inflated(stream + "trailing", contents.size()), contents);
}

}  // namespace
}  // namespace mendly::vfile
