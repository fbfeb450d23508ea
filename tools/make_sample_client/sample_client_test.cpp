// The sample-client generator and its mutations: deterministic, complete
// (every kind of file a client has) and touching exactly what it says.
#include "support/sample_client.h"

#include <gtest/gtest.h>

#include <map>

#include "hash/digest.h"
#include "patch/vfile/archive.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace mendly::test;

// Relative path -> MD5 of every file below `folder`, members of packed
// archives listed as "<archive>.pak:<key>".
std::map<std::string, std::string> digests(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (!item.is_regular_file()) continue;
        const std::string relative = item.path().lexically_relative(folder).generic_string();
        out[relative] = mendly::md5FileHex(item.path());
        if (item.path().extension() == ".pak") {
            const auto archive = mendly::vfile::Archive::open(item.path());
            EXPECT_TRUE(archive) << relative;
            if (!archive) continue;
            for (const auto& entry : archive->entries())
                out[relative + ":" + entry.key] = mendly::md5Hex(archive->readEntry(entry).value_or("<unreadable>"));
        }
    }
    return out;
}

class SampleClientTest : public ::testing::Test {
protected:
    SampleClientOptions small(std::uint64_t seed) {
        SampleClientOptions options;
        options.totalBytes = 1u << 20;
        options.members = 30;
        options.seed = seed;
        options.packedArchives = {"gfx", "worlds"};
        options.folderArchives = {"sound"};
        return options;
    }
    TempDir dir{"sample"};
    SampleClientSummary summary;
    std::string error;
};

TEST_F(SampleClientTest, SameSeedGivesTheSameBytesWhateverTheThreadCount) {
    auto one = small(5);
    one.threads = 1;
    auto four = small(5);
    four.threads = 4;
    ASSERT_TRUE(makeSampleClient(dir / "a", one, summary, error)) << error;
    ASSERT_TRUE(makeSampleClient(dir / "b", four, summary, error)) << error;
    ASSERT_TRUE(makeSampleClient(dir / "c", small(6), summary, error)) << error;
    EXPECT_EQ(digests(dir / "a"), digests(dir / "b"));
    const auto a = digests(dir / "a");
    const auto c = digests(dir / "c");
    ASSERT_EQ(a.size(), c.size());
    EXPECT_NE(a.at("kaltrisclient.exe"), c.at("kaltrisclient.exe"));
}

TEST_F(SampleClientTest, HoldsEveryPartOfAClientAtAboutTheAskedSize) {
    ASSERT_TRUE(makeSampleClient(dir.path(), small(9), summary, error)) << error;
    EXPECT_EQ(readFile(dir / "_version._"), "Kaltris Nexum-2.5.9\r\n");
    for (const char* file : {"kaltrisclient.exe", "ini/updater.ini", "ini/hash.ini", "ini/graphics.ini", "gfx.pak",
                             "worlds.pak", "data/empty.flag"})
        EXPECT_TRUE(fs::is_regular_file(dir / file)) << file;
    EXPECT_TRUE(fs::is_directory(dir / "sound"));
    EXPECT_EQ(summary.members, 30u);
    const auto total = summary.looseBytes + summary.memberBytes;
    EXPECT_GT(total, (1u << 20) * 8 / 10);
    EXPECT_LT(total, (1u << 20) * 12 / 10);

    // Text-like members compress; random ones do not.
    const auto gfx = mendly::vfile::Archive::open(dir / "gfx.pak");
    ASSERT_TRUE(gfx);
    EXPECT_EQ(gfx->entries().size(), 10u);
    int compressed = 0;
    int incompressible = 0;
    for (const auto& entry : gfx->entries()) {
        if (entry.storedSize * 2 < entry.originalSize) ++compressed;
        if (entry.storedSize >= entry.originalSize) ++incompressible;
    }
    EXPECT_GT(compressed, 0);
    EXPECT_GT(incompressible, 0);
}

TEST_F(SampleClientTest, UnknownArchiveNamesAreRefused) {
    auto options = small(1);
    options.folderArchives = {"gfx"};  // already packed
    EXPECT_FALSE(makeSampleClient(dir.path(), options, summary, error));
    EXPECT_EQ(error, "Not a free archive name for a folder: gfx");
    options.folderArchives = {};
    options.packedArchives = {"movies"};
    EXPECT_FALSE(makeSampleClient(dir.path(), options, summary, error));
    EXPECT_EQ(error, "Not an archive name: movies");
}

TEST_F(SampleClientTest, MutationTouchesTheAskedShareAndNothingElse) {
    ASSERT_TRUE(makeSampleClient(dir.path(), small(2), summary, error)) << error;
    const auto before = digests(dir.path());

    MutationOptions options;
    options.memberPercent = 30;  // of 10 members per archive: 3 each
    MutationSummary mutated;
    ASSERT_TRUE(mutateClient(dir.path(), options, mutated, error)) << error;
    EXPECT_EQ(mutated.changed + mutated.deleted + mutated.truncated, 9u);
    EXPECT_EQ(mutated.changed, 3u);
    EXPECT_EQ(mutated.deleted, 3u);
    EXPECT_EQ(mutated.truncated, 3u);
    EXPECT_EQ(mutated.archivesRewritten, 2u);

    const auto after = digests(dir.path());
    std::size_t differing = 0;
    for (const auto& [path, md5] : before) {
        const bool isMember = path.find(".pak:") != std::string::npos || path.rfind("sound/", 0) == 0;
        const auto now = after.find(path);
        if (now == after.end() || now->second != md5) {
            if (path == "gfx.pak" || path == "worlds.pak") continue;  // the archive files themselves
            EXPECT_TRUE(isMember) << path << " changed although only members were asked for";
            ++differing;
        }
    }
    EXPECT_EQ(differing, 9u);
}

TEST_F(SampleClientTest, MutationIsReproducible) {
    ASSERT_TRUE(makeSampleClient(dir / "a", small(4), summary, error)) << error;
    ASSERT_TRUE(makeSampleClient(dir / "b", small(4), summary, error)) << error;
    MutationOptions options;
    options.memberPercent = 10;
    options.loosePercent = 20;
    MutationSummary mutated;
    ASSERT_TRUE(mutateClient(dir / "a", options, mutated, error)) << error;
    ASSERT_TRUE(mutateClient(dir / "b", options, mutated, error)) << error;
    EXPECT_GT(mutated.changed, 0u);
    EXPECT_EQ(digests(dir / "a"), digests(dir / "b"));
}

// Editing keeps every file and member, the same length, with other bytes,
// alike in two folders of the same client.
TEST_F(SampleClientTest, EditingChangesTheBytesInsideEachFileTouchedAndDeletesNothing) {
    ASSERT_TRUE(makeSampleClient(dir / "a", small(5), summary, error)) << error;
    ASSERT_TRUE(makeSampleClient(dir / "b", small(5), summary, error)) << error;
    const auto before = digests(dir / "a");
    MutationOptions options;
    options.memberPercent = 30;
    options.loosePercent = 50;
    options.edit = true;
    MutationSummary mutated;
    ASSERT_TRUE(mutateClient(dir / "a", options, mutated, error)) << error;
    ASSERT_TRUE(mutateClient(dir / "b", options, mutated, error)) << error;
    EXPECT_GE(mutated.edited, 10u);
    EXPECT_EQ(mutated.changed + mutated.deleted + mutated.truncated, 0u);
    const auto after = digests(dir / "a");
    EXPECT_EQ(after, digests(dir / "b"));
    ASSERT_EQ(after.size(), before.size());
    std::size_t differing = 0;
    for (const auto& [path, md5] : before) differing += after.at(path) != md5;
    EXPECT_GE(differing, mutated.edited / 2);
}

TEST(ByteSizeTest, ReadsPowersOfTwoSuffixes) {
    std::uint64_t bytes = 0;
    ASSERT_TRUE(parseByteSize("4096", bytes));
    EXPECT_EQ(bytes, 4096u);
    ASSERT_TRUE(parseByteSize("64K", bytes));
    EXPECT_EQ(bytes, 65536u);
    ASSERT_TRUE(parseByteSize("300m", bytes));
    EXPECT_EQ(bytes, 300u << 20);
    ASSERT_TRUE(parseByteSize("1GiB", bytes));
    EXPECT_EQ(bytes, 1u << 30);
    EXPECT_FALSE(parseByteSize("0", bytes));
    EXPECT_FALSE(parseByteSize("G", bytes));
    EXPECT_FALSE(parseByteSize("12X", bytes));
    EXPECT_FALSE(parseByteSize("-5M", bytes));
}

}  // namespace
