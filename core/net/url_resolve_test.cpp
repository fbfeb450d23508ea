#include "net/url_resolve.h"

#include "log/text.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

TEST(ResolveReference, RedirectLocationsResolveAgainstTheAnsweringAddress) {
    struct Case {
        const char* location;
        const char* expected;
    } cases[] = {
        {"g", "http://h:1/a/b/g"},
        {"./g", "http://h:1/a/b/g"},
        {"g/", "http://h:1/a/b/g/"},
        {"/g", "http://h:1/g"},
        {"//x/y", "http://x/y"},
        {"?y", "http://h:1/a/b/c?y"},
        {"g?y#s", "http://h:1/a/b/g?y#s"},
        {"#s", "http://h:1/a/b/c?q"},
        {"..", "http://h:1/a/"},
        {"../g", "http://h:1/a/g"},
        {"../..", "http://h:1/"},
        {"../../../../g", "http://h:1/g"},  // never above the root
        {"/./x/../y", "http://h:1/y"},
        {".", "http://h:1/a/b/"},
        {" https://other/p?q \r\n", "https://other/p?q"},
        {"ftp://x/file", "ftp://x/file"},  // kept: the caller refuses the scheme
    };
    for (const auto& c : cases) {
        const auto resolved = resolveReference(u"http://h:1/a/b/c?q#f", toWide(c.location));
        ASSERT_TRUE(resolved.has_value()) << c.location;
        EXPECT_EQ(toUtf8(*resolved), c.expected) << c.location;
    }
}

TEST(ResolveReference, HostOnlyBaseAndEmptyLocation) {
    EXPECT_EQ(toUtf8(*resolveReference(u"https://h", u"new")), "https://h/new");
    EXPECT_EQ(toUtf8(*resolveReference(u"https://h?x", u"?y")), "https://h/?y");
    EXPECT_FALSE(resolveReference(u"http://h/a", u"  ").has_value());
}

}  // namespace
}  // namespace mendly
