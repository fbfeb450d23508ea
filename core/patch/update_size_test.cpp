// What the next run would download, judged from the record without hashing.
#include <gtest/gtest.h>

#include "patch/download_stage.h"
#include "patch/holder_stamps.h"
#include "patch/update_size.h"
#include "platform/file_stamp.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMd5A = "0123456789abcdef0123456789abcdef";
constexpr const char* kMd5B = "0123456789abcdef0123456789abcde0";
constexpr const char* kMd5C = "0123456789abcdef0123456789abcde1";

// What happened to the installed file "b.bin" since the record was written.
enum class Since { Nothing, Rewritten, ManifestChanged, NoRecord };

struct VouchCase {
    const char* name;
    Since since;
    std::vector<std::string> needed;  // relative paths, manifest order
};

class EntriesNotVouched : public ::testing::TestWithParam<VouchCase> {
protected:
    test::TempDir install{"size-install"};
    PatchManifest manifest;
    InstallRecord record;

    void SetUp() override {
        manifest.files = {{"a.bin", kMd5A, 10}, {"b.bin", kMd5B, 20}, {"ini/user.ini", kMd5C, 5}};
        for (const ManifestEntry& entry : manifest.files) {
            test::writeFile(install.path() / entry.relative, std::string(*entry.size, 'x'));
            const EntryHolder holder = holderFor(install.path(), entry);
            record.addHolder(holder.key, *platform::fileStamp(holder.path));
            record.addEntry(entry.relative, RecordedEntry{holder.key, entry.md5, "", 0, 0});
        }
    }
};

TEST_P(EntriesNotVouched, CountsWhatTheRecordCannotVouchFor) {
    const VouchCase& c = GetParam();
    if (c.since == Since::Rewritten) test::writeFile(install.path() / "b.bin", std::string(21, 'y'));
    if (c.since == Since::ManifestChanged) manifest.files[1].md5 = kMd5C;
    const auto list = entriesNotVouched(manifest, install.path(), c.since == Since::NoRecord ? nullptr : &record);
    std::vector<std::string> names;
    for (const std::size_t i : list) names.push_back(manifest.files[i].relative);
    EXPECT_EQ(names, c.needed);
}

INSTANTIATE_TEST_SUITE_P(
    Record, EntriesNotVouched,
    ::testing::Values(VouchCase{"AllVouched", Since::Nothing, {}},
                      VouchCase{"HolderWrittenSince", Since::Rewritten, {"b.bin"}},
                      VouchCase{"ManifestNamesNewContent", Since::ManifestChanged, {"b.bin"}},
                      // A player's own ini files are never fetched by an update.
                      VouchCase{"NoRecordAtAll", Since::NoRecord, {"a.bin", "b.bin"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NextRunBytes, InstallCountsEverythingNotStagedAndUnknownSizesStayUnknown) {
    test::TempDir install{"size-fresh"};
    PatchManifest manifest;
    manifest.files = {{"a.bin", kMd5A, 1000}, {"b.bin", kMd5B, 200}, {"ini/user.ini", kMd5C, 5}};
    EXPECT_EQ(nextRunBytes(manifest, install.path() / "not-yet", PatchMode::Install), 1205u);
    // Update without a record: everything but the user's ini files.
    EXPECT_EQ(nextRunBytes(manifest, install.path(), PatchMode::Update), 1200u);

    const StagingArea staging(install.path());
    ASSERT_TRUE(staging.create());
    test::writeFile(staging.pathFor(stagedNameFor(manifest.files[0])), std::string(1000, 'a'));
    EXPECT_EQ(nextRunBytes(manifest, install.path(), PatchMode::Install), 205u);  // a resumed install

    manifest.files[1].size.reset();
    EXPECT_FALSE(nextRunBytes(manifest, install.path(), PatchMode::Install));
}

}  // namespace
}  // namespace mendly
