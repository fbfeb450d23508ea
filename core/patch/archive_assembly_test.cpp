#include "patch/archive_assembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "hash/digest.h"
#include "patch/vfile/entry_codec.h"
#include "support/client_compare.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {
namespace fs = std::filesystem;

struct Member {
    std::string name;
    std::string contents;
    ManifestEntry entry() const { return {"gfx/" + name, md5Hex(contents)}; }
};

const std::vector<Member> kMembers = {
    {"a.dds", std::string(300, 'a')}, {"sub/b.txt", "bee"}, {"c.bin", "\x01\x02\x03 raw"}};

class ArchiveAssemblyTest : public ::testing::Test {
protected:
    test::TempDir dir{"assembly"};
    fs::path file = dir / "gfx.pak.assembly";
    fs::path archive = dir / "install" / "gfx.pak";
    vfile::CodecBuffers buffers;

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const Member& m : kMembers) out.push_back(m.name);
        return out;
    }
    std::unique_ptr<ArchiveAssembly> open() { return ArchiveAssembly::open(file, archive, names()); }
    static bool append(ArchiveAssembly& assembly, const Member& m) {
        const auto stored = vfile::compressEntry(m.contents);
        return stored && assembly.append(m.name, md5Hex(m.contents), static_cast<std::uint32_t>(m.contents.size()),
                                         stored->bytes);
    }
    std::map<std::string, std::string> expected() const {
        std::map<std::string, std::string> out;
        for (const Member& m : kMembers) {
            std::string name = m.name;
            std::replace(name.begin(), name.end(), '/', '\\');  // as the archive stores it
            out[name] = m.contents;
        }
        return out;
    }
};

// Members from several threads in any order; the finished archive is the
// reader's, placed, and the assembly and its journal are gone.
TEST_F(ArchiveAssemblyTest, MembersFromManyThreadsBecomeOneArchive) {
    auto assembly = open();
    ASSERT_TRUE(assembly);
    std::vector<std::jthread> threads;
    for (auto it = kMembers.rbegin(); it != kMembers.rend(); ++it)
        threads.emplace_back([&, it] { EXPECT_TRUE(append(*assembly, *it)); });
    threads.clear();
    EXPECT_FALSE(fs::exists(archive));
    ASSERT_TRUE(assembly->finish());
    EXPECT_EQ(test::readArchiveIndependently(archive), expected());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(file.string() + ".journal"));
    ArchiveCache cache;
    for (const Member& m : kMembers) EXPECT_TRUE(assembly->placed(m.name, cache)) << m.name;
}

// Nothing reaches the archive's name while a member is missing.
TEST_F(ArchiveAssemblyTest, AMissingMemberKeepsTheArchiveAway) {
    auto assembly = open();
    ASSERT_TRUE(assembly && append(*assembly, kMembers[0]) && append(*assembly, kMembers[2]));
    EXPECT_FALSE(assembly->finish());
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_TRUE(fs::exists(file));
}

// A later run takes up what an earlier one recorded: intact members are
// held, a torn journal line ends what is taken up, bytes damaged behind the
// journal are not held, and the rest is appended after it.
TEST_F(ArchiveAssemblyTest, ALaterRunTakesUpWhatWasRecordedAndChecksIt) {
    {
        auto first = open();
        ASSERT_TRUE(first && append(*first, kMembers[0]) && append(*first, kMembers[1]));
    }
    {
        std::ofstream torn(file.string() + ".journal", std::ios::app);
        torn << "5 c.bin 0123";  // a line cut short by the kill
    }
    auto second = open();
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->holds(kMembers[0].name, kMembers[0].entry(), buffers));
    EXPECT_TRUE(second->holds(kMembers[1].name, kMembers[1].entry(), buffers));
    EXPECT_FALSE(second->holds(kMembers[2].name, kMembers[2].entry(), buffers));
    EXPECT_FALSE(second->holds(kMembers[1].name, ManifestEntry{"gfx/sub/b.txt", md5Hex("other")}, buffers));
    ASSERT_TRUE(append(*second, kMembers[2]));
    ASSERT_TRUE(second->finish());
    EXPECT_EQ(test::readArchiveIndependently(archive), expected());
}

TEST_F(ArchiveAssemblyTest, BytesChangedBehindTheJournalAreFetchedAgain) {
    {
        auto first = open();
        ASSERT_TRUE(first && append(*first, kMembers[0]));
    }
    {
        std::fstream damage(file, std::ios::in | std::ios::out | std::ios::binary);
        damage.seekp(-3, std::ios::end);
        damage << "xyz";
    }
    auto second = open();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->holds(kMembers[0].name, kMembers[0].entry(), buffers));
}

// A manifest whose names need more directory room than the earlier run
// reserved starts the assembly again.
TEST_F(ArchiveAssemblyTest, ALargerDirectoryStartsAnew) {
    {
        auto first = ArchiveAssembly::open(file, archive, {kMembers[0].name});
        ASSERT_TRUE(first && append(*first, kMembers[0]));
    }
    auto second = open();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->holds(kMembers[0].name, kMembers[0].entry(), buffers));
    for (const Member& m : kMembers) ASSERT_TRUE(append(*second, m));
    ASSERT_TRUE(second->finish());
    EXPECT_EQ(test::readArchiveIndependently(archive), expected());
}

// Only archives that are not there and whose every member is listed are assembled.
TEST(ArchiveAssemblies, OpenForArchivesFilledFromNothingOnly) {
    test::TempDir install{"assemblies"};
    PatchManifest manifest;
    manifest.files = {{"gfx/a", md5Hex("a")}, {"gfx/b", md5Hex("b")}, {"sound/s", md5Hex("s")},
                      {"worlds/w", md5Hex("w")}, {"data/loose.txt", md5Hex("l")}};
    test::writeGameArchive(install / "worlds.pak", {{"old", "old"}});
    const StagingArea staging(install.path());
    ASSERT_TRUE(staging.create());
    const ArchiveAssemblies assemblies = openAssemblies(manifest, {0, 2, 3, 4}, install.path(), staging);
    ASSERT_EQ(assemblies.size(), 1u);  // gfx lacks "b" in the list; worlds exists
    EXPECT_TRUE(assemblies.contains("sound"));
    EXPECT_EQ(assemblies.at("sound")->archivePath(), install / "sound.pak");
}

}  // namespace
}  // namespace mendly
