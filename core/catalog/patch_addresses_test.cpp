#include "catalog/patch_addresses.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

TEST(MirrorAddresses, EachMirrorServesTheSameServerAndRepeatsOfAHostAreLeftOut) {
    ServerEntry entry{"n", "d", "aurum", "https://p.example:8080/", "x.exe", ""};
    entry.mirrors = {"https://m1.example/ ", "https://p.example:8080", "http://m2.example:81\\", "https://m1.example"};
    EXPECT_EQ(mirrorAddresses(entry),
              (std::vector<PatchHostAddresses>{
                  {u"https://m1.example/aurum.manifest", u"https://m1.example/aurum/"},
                  {u"http://m2.example:81/aurum.manifest", u"http://m2.example:81/aurum/"},
              }));
    entry.mirrors.clear();
    EXPECT_TRUE(mirrorAddresses(entry).empty());
}

}  // namespace
}  // namespace mendly
