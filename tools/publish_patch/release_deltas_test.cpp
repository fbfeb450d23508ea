// Deltas against earlier releases: which files get them, from which
// content, that they rebuild the new content, and what is kept for them.
#include "release_deltas.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>

#include "hash/digest.h"
#include "log/text.h"
#include "patch/vfile/delta_codec.h"
#include "served_folder.h"
#include "delta_preview.h"
#include "release_preview.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using mendly::test::readFile;
using mendly::test::writeFile;

std::string table(unsigned seed, std::size_t rows) {
    std::mt19937 rng(seed);
    std::string out;
    for (std::size_t row = 0; row < rows; ++row)
        out += "row " + std::to_string(row) + ", ember " + std::to_string(rng() % 1000) + ", tide\n";
    return out;
}

std::string noise(std::size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(bytes, '\0');
    for (char& c : out) c = static_cast<char>(rng());
    return out;
}

class ReleaseDeltasTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!mendly::vfile::deltaCodecAvailable()) GTEST_SKIP() << "no delta codec in this build";
    }
    fs::path client() const { return dir / "client"; }
    fs::path root() const { return dir / "host"; }

    void publish(const std::map<std::string, std::string>& files, unsigned deltasFrom = 3) {
        fs::remove_all(client());
        for (const auto& [relative, bytes] : files) writeFile(client() / relative, bytes);
        mendly::publish::PublishOptions options;
        options.force = true;
        options.deltasFrom = deltasFrom;
        std::string error;
        ASSERT_TRUE(mendly::publish::publishClient(client(), "aurum", root(), options, summary, error)) << error;
    }

    const mendly::ManifestEntry& entry(const std::string& relative) {
        std::u16string error;
        EXPECT_TRUE(mendly::parseManifest(readFile(root() / "aurum.manifest"), manifest, error));
        for (const auto& item : manifest.files)
            if (item.relative == relative) return item;
        ADD_FAILURE() << relative << " not listed";
        return manifest.files.front();
    }

    // The content a delta rebuilds from the content it names as its base.
    std::string rebuilt(const mendly::ManifestDelta& delta, const std::string& base, std::uint64_t size) {
        EXPECT_EQ(mendly::sha256Hex(base), delta.from);
        const std::string bytes = readFile(root() / "aurum" / delta.path);
        EXPECT_EQ(bytes.size(), delta.size);
        EXPECT_EQ(mendly::sha256Hex(bytes), delta.sha256);
        std::string out(size, '\0');
        EXPECT_EQ(mendly::vfile::applyDelta(base, bytes, out.data(), size), mendly::vfile::DeltaOutcome::Rebuilt);
        return out;
    }

    mendly::test::TempDir dir;
    mendly::publish::PublishSummary summary;
    mendly::PatchManifest manifest;
};

TEST_F(ReleaseDeltasTest, EachKeptReleaseGetsADeltaThatRebuildsTheNewContent) {
    std::string v1 = table(1, 8000), v2 = v1, v3;
    v2.replace(v2.size() / 2, 6, "EDITED");
    v3 = v2 + "row 8000, new\n";
    const std::string random = noise(60000, 4);
    publish({{"_version._", "K-1\r\n"}, {"data/table.txt", v1}, {"data/noise.bin", random}, {"data/same.txt", v1}});
    EXPECT_TRUE(entry("data/table.txt").deltas.empty());

    publish({{"_version._", "K-2\r\n"}, {"data/table.txt", v2}, {"data/noise.bin", noise(60000, 5)},
             {"data/same.txt", v1}});
    const auto second = entry("data/table.txt");
    ASSERT_EQ(second.deltas.size(), 1u);
    EXPECT_LT(second.deltas[0].size, v2.size() / 20);
    EXPECT_EQ(rebuilt(second.deltas[0], v1, v2.size()), v2);
    // Rewritten whole, unchanged, or too small to gain: sent whole.
    EXPECT_TRUE(entry("data/noise.bin").deltas.empty());
    EXPECT_TRUE(entry("data/same.txt").deltas.empty());
    EXPECT_EQ(summary.deltas.deltas, 1u);
    EXPECT_EQ(summary.deltas.changedBytes, v2.size());

    publish({{"_version._", "K-3\r\n"}, {"data/table.txt", v3}, {"data/noise.bin", random}, {"data/same.txt", v1}});
    const auto third = entry("data/table.txt");
    ASSERT_EQ(third.deltas.size(), 2u);  // from the release before and the one before that
    EXPECT_EQ(rebuilt(third.deltas[0], v2, v3.size()), v3);
    EXPECT_EQ(rebuilt(third.deltas[1], v1, v3.size()), v3);
    // The first release's content is still kept as a base, though neither
    // manifest served now names it.
    EXPECT_TRUE(fs::exists(root() / "aurum" / second.served));
}

TEST_F(ReleaseDeltasTest, FewerReleasesKeptMeansFewerDeltasAndNoneKeepsNothing) {
    const std::string v1 = table(2, 6000);
    std::string v2 = v1, v3 = v1;
    v2[100] = '#';
    v3[200] = '#';
    publish({{"_version._", "K-1\r\n"}, {"t.txt", v1}});
    publish({{"_version._", "K-2\r\n"}, {"t.txt", v2}});
    publish({{"_version._", "K-3\r\n"}, {"t.txt", v3}}, 1);
    const auto third = entry("t.txt");
    ASSERT_EQ(third.deltas.size(), 1u);
    EXPECT_EQ(third.deltas[0].from, mendly::sha256Hex(v2));

    // The first release's content is no base any more once only one is kept.
    EXPECT_FALSE(fs::exists(root() / "aurum" / mendly::publish::contentPathFor(mendly::sha256Hex(v1))));
    publish({{"_version._", "K-4\r\n"}, {"t.txt", v1}}, 0);
    EXPECT_TRUE(entry("t.txt").deltas.empty());
    EXPECT_FALSE(fs::exists(root() / ".aurum.releases"));
}

// The preview tells what each player behind fetches, whole and with the
// deltas the release would get, and writes nothing.
TEST_F(ReleaseDeltasTest, APreviewCountsWhatPlayersBehindFetchWithAndWithoutDeltas) {
    std::string v1 = table(3, 8000), v2 = v1;
    v2.replace(500, 4, "EDIT");
    publish({{"_version._", "K-1\r\n"}, {"t.txt", v1}});
    publish({{"_version._", "K-2\r\n"}, {"t.txt", v2}});
    fs::remove_all(client());
    writeFile(client() / "_version._", "K-3\r\n");
    writeFile(client() / "t.txt", v2 + "row 8000\n");
    std::vector<mendly::publish::ServedFile> files;
    std::vector<std::string> unmatched;
    std::string error, report;
    mendly::publish::PublishOptions options;
    ASSERT_TRUE(mendly::publish::listServedFiles(client(), options, files, unmatched, error)) << error;
    std::optional<mendly::PatchManifest> served;
    ASSERT_TRUE(mendly::publish::readServedManifest(root(), "aurum", served, error)) << error;
    const auto before = readFile(root() / "aurum.manifest");
    ASSERT_TRUE(mendly::publish::previewDeltaCosts(client(), root(), "aurum", served, files, options, report, error))
        << error;
    EXPECT_EQ(readFile(root() / "aurum.manifest"), before);
    EXPECT_FALSE(fs::exists(root() / "aurum" / mendly::publish::deltaPathFor(mendly::sha256Hex(v2),
                                                                              mendly::sha256Hex(v2 + "row 8000\n"))));
    // Both players fetch the version file and the table, which travels as a
    // delta of a few bytes in place of the whole.
    EXPECT_TRUE(std::regex_search(report, std::regex("^Behind by 1 release: 2 files, [0-9.]+ KiB whole, [0-9]+ B with "
                                                     "deltas\n")))
        << report;
    EXPECT_TRUE(std::regex_search(report, std::regex("\nBehind by 2 releases: 2 files, [0-9.]+ KiB whole, [0-9]+ B "
                                                     "with deltas\n$")))
        << report;
}

}  // namespace
