// Member names inside an archive are names, never paths: whatever they spell,
// writing, rewriting and reading an archive touches the archive file (and
// its ".part" while writing) and nothing else.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "support/temp_dir.h"

namespace mendly::vfile {
namespace {

using mendly::test::TempDir;

std::set<std::string> everythingBelow(const std::filesystem::path& folder) {
    std::set<std::string> found;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder))
        found.insert(item.path().lexically_relative(folder).generic_string());
    return found;
}

TEST(MemberNameSafety, NamesThatLookLikePathsStayInsideTheArchive) {
    TempDir dir{"vfile-names"};
    const auto pak = dir / "game" / "worlds.pak";
    struct Case {
        std::string name;
        std::string key;  // as stored and listed
    };
    const std::vector<Case> cases = {
        {"..\\..\\evil.txt", "..\\..\\evil.txt"},
        {"../../evil2.txt", "..\\..\\evil2.txt"},
        {"/abs/evil.txt", "abs\\evil.txt"},
        {"C:\\Evil.txt", "c:\\evil.txt"},
        {"a/../../evil3.txt", "a\\..\\..\\evil3.txt"},
        {"x/y/../../../evil4.txt", "x\\..\\..\\evil4.txt"},
    };
    std::vector<NamedEntry> entries;
    for (const auto& c : cases) {
        auto stored = compressEntry("contents of " + c.name);
        ASSERT_TRUE(stored);
        entries.push_back({c.name, *stored});
    }
    ASSERT_TRUE(writeArchiveFile(pak, entries));
    EXPECT_EQ(everythingBelow(dir.path()), (std::set<std::string>{"game", "game/worlds.pak"}));

    auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->entries().size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(archive->entries()[i].name, cases[i].key);
        EXPECT_EQ(archive->readEntry(cases[i].name), "contents of " + cases[i].name);
    }

    // A rewrite with more such names and a removal: still the one file.
    auto extra = compressEntry("more");
    ASSERT_TRUE(extra);
    ASSERT_TRUE(archive->applyChanges({{"../../../../tmp/evil5.txt", *extra}}, {"/abs/evil.txt"}));
    EXPECT_EQ(everythingBelow(dir.path()), (std::set<std::string>{"game", "game/worlds.pak"}));
    EXPECT_EQ(archive->readEntry("..\\..\\..\\..\\tmp\\evil5.txt"), "more");
    EXPECT_FALSE(archive->find("abs\\evil.txt"));
}

}  // namespace
}  // namespace mendly::vfile
