#include "patch/converge_check.h"

#include <gtest/gtest.h>

#include "hash/digest.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

TEST(ConvergeCheck, FindsTheFirstWrittenFileThatDoesNotVerify) {
    test::TempDir install{"converge"};
    PatchManifest manifest;
    std::vector<std::size_t> list;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "data/" + std::to_string(i) + ".bin";
        test::writeFile(install / name, "contents " + std::to_string(i));
        manifest.files.push_back({name, md5Hex("contents " + std::to_string(i))});
        list.push_back(static_cast<std::size_t>(39 - i));  // the list's own order counts
    }
    test::writeGameArchive(install / "worlds.pak", {{"m.dat", "member"}});
    manifest.files.push_back({"worlds/m.dat", md5Hex("member")});
    list.push_back(40);
    EXPECT_EQ(firstUnconvergedPosition(manifest, list, install.path()), std::nullopt);

    test::writeFile(install / "data/7.bin", "changed");
    test::writeFile(install / "data/30.bin", "changed");
    EXPECT_EQ(firstUnconvergedPosition(manifest, list, install.path()), std::optional<std::size_t>(9));  // data/30.bin
    test::writeGameArchive(install / "worlds.pak", {{"m.dat", "other"}});
    EXPECT_EQ(firstUnconvergedPosition(manifest, {40, 7}, install.path()), std::optional<std::size_t>(0));
}

}  // namespace
}  // namespace mendly
