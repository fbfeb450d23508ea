#include "patch/delta_rebuild.h"

#include <gtest/gtest.h>

#include "hash/digest.h"
#include "patch/vfile/delta_codec.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

std::string rows(int count, const char* word) {
    std::string out;
    for (unsigned i = 0; i < static_cast<unsigned>(count); ++i)
        out += std::string(word) + " " + std::to_string(i * 2654435761u % 1000003u) + "\n";
    return out;
}

// An installation holding the first version of a loose file and of an
// archive member, recorded as a run leaves them; the manifest's entries for
// their second versions, each with a delta from the first.
class DeltaRebuildTest : public testing::Test {
protected:
    void SetUp() override {
        if (!vfile::deltaCodecAvailable()) GTEST_SKIP() << "no delta codec in this build";
        looseOld = rows(4000, "tide");
        memberOld = rows(3000, "ember");
        looseNew = looseOld + "one more row\n";
        memberNew = "a new first row\n" + memberOld;
        test::writeFile(install / "data/t.txt", looseOld);
        test::writeGameArchive(install / "gfx.pak", {{"ui\\a.txt", memberOld}});
        record.setManifestDigest(std::string(64, '0'));
        remember("data/t.txt", "data/t.txt", looseOld);
        remember("gfx/ui/a.txt", "gfx.pak", memberOld);
        loose = entryFor("data/t.txt", looseOld, looseNew);
        member = entryFor("gfx/ui/a.txt", memberOld, memberNew);
    }

    void remember(const std::string& relative, const std::string& holder, const std::string& content) {
        record.addHolder(holder, *platform::fileStamp(install / holder));
        record.addEntry(relative, {holder, md5Hex(content), sha256Hex(content), 0,
                                   static_cast<std::uint32_t>(content.size())});
    }

    ManifestEntry entryFor(const std::string& relative, const std::string& from, const std::string& to) {
        ManifestEntry entry(relative, md5Hex(to), to.size());
        entry.sha256 = sha256Hex(to);
        const std::string delta = *vfile::makeDelta(from, to);
        deltas[relative] = delta;
        entry.deltas.push_back({sha256Hex(from), "by-sha256/deltas/x", delta.size(), sha256Hex(delta)});
        return entry;
    }

    test::TempDir install;
    ArchiveCache cache;
    vfile::CodecBuffers scratch;
    InstallRecord record;
    std::string looseOld, looseNew, memberOld, memberNew;
    ManifestEntry loose, member;
    std::map<std::string, std::string> deltas;
};

TEST_F(DeltaRebuildTest, ALooseFileAndAMemberAreRebuiltFromWhatIsInstalled) {
    for (const auto& [entry, expected] : {std::pair{&loose, &looseNew}, std::pair{&member, &memberNew}}) {
        const auto chosen = chooseDelta(*entry, &record, install.path());
        ASSERT_TRUE(chosen) << entry->relative;
        EXPECT_EQ(chosen->delta, entry->deltas[0]);
        EXPECT_EQ(chosen->baseInMemory, entry == &member ? memberOld.size() : 0u);
        std::string out;
        ASSERT_EQ(rebuildFromDelta(install.path(), *entry, deltas[entry->relative], cache, scratch, out),
                  RebuildOutcome::Rebuilt);
        EXPECT_EQ(out, *expected);
    }
}

// The download stage rebuilds into the slot's own output buffer, which a
// longer content left full: the result is exactly the new content, for a
// member (base inflated into the same slot) and for a loose file.
TEST_F(DeltaRebuildTest, LeftoversInTheScratchBuffersDoNotReachTheResult) {
    for (const auto& [entry, expected] : {std::pair{&member, &memberNew}, std::pair{&loose, &looseNew}}) {
        scratch.stored.assign(3 * memberOld.size() + 7, 'q');
        scratch.contents.assign(3 * memberOld.size() + 7, 'q');
        scratch.output.assign(3 * expected->size() + 7, 'q');
        ASSERT_EQ(rebuildFromDelta(install.path(), *entry, deltas[entry->relative], cache, scratch, scratch.output),
                  RebuildOutcome::Rebuilt)
            << entry->relative;
        EXPECT_EQ(scratch.output, *expected) << entry->relative;
    }
}

// Only a holder that is still as recorded, holding the delta's base, gets a
// delta; everything else is fetched whole.
TEST_F(DeltaRebuildTest, NoDeltaWithoutARecordOrWhenTheHolderOrTheBaseDiffers) {
    EXPECT_FALSE(chooseDelta(loose, nullptr, install.path()));
    ManifestEntry otherBase = loose;
    otherBase.deltas[0].from = std::string(64, 'f');
    EXPECT_FALSE(chooseDelta(otherBase, &record, install.path()));
    ManifestEntry unsized = loose;
    unsized.size.reset();
    EXPECT_FALSE(chooseDelta(unsized, &record, install.path()));

    test::writeFile(install / "data/t.txt", looseOld + "edited by hand\n");
    EXPECT_FALSE(chooseDelta(loose, &record, install.path()));
    EXPECT_TRUE(chooseDelta(member, &record, install.path()));
}

TEST_F(DeltaRebuildTest, AMissingBaseOrAForeignDeltaIsRefused) {
    std::string out;
    // Made from another base, which the installed one does not line up with
    // (matches are found backwards from the base's end).
    const std::string foreign = *vfile::makeDelta(looseOld + "and a few bytes more\n", looseNew);
    EXPECT_EQ(rebuildFromDelta(install.path(), loose, foreign, cache, scratch, out), RebuildOutcome::BadDelta);
    EXPECT_EQ(rebuildFromDelta(install.path(), loose, deltas["gfx/ui/a.txt"], cache, scratch, out), RebuildOutcome::BadDelta);
    std::filesystem::remove(install / "data/t.txt");
    EXPECT_EQ(rebuildFromDelta(install.path(), loose, deltas["data/t.txt"], cache, scratch, out), RebuildOutcome::NoBase);
    ManifestEntry absent = member;
    absent.relative = "gfx/ui/missing.txt";
    EXPECT_EQ(rebuildFromDelta(install.path(), absent, deltas["gfx/ui/a.txt"], cache, scratch, out), RebuildOutcome::NoBase);
}

}  // namespace
}  // namespace mendly
