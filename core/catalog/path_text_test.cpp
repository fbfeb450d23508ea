#include "catalog/path_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <type_traits>

namespace mendly {
namespace {

namespace fs = std::filesystem;

constexpr bool kNativeTextIsBytes = std::is_same_v<fs::path::value_type, char>;

struct NamedText {
    const char* what;
    std::u16string text;
    std::u8string utf8;
    friend void PrintTo(const NamedText& sample, std::ostream* out) { *out << sample.what; }
};

class PathTextRoundTrip : public ::testing::TestWithParam<NamedText> {};

// The same path as the standard library builds it from UTF-8: on Windows a
// conversion through the ANSI code page (path::string()) would not match it.
TEST_P(PathTextRoundTrip, TextAndPathCrossBothWaysUnchanged) {
    const auto& sample = GetParam();
    EXPECT_EQ(widePath(sample.text), fs::path(sample.utf8));
    EXPECT_EQ(pathText(fs::path(sample.utf8)), sample.text);
    EXPECT_EQ(pathText(widePath(sample.text)), sample.text);
}

INSTANTIATE_TEST_SUITE_P(PathText, PathTextRoundTrip,
                         ::testing::Values(NamedText{"Ascii", u"clients/main", u8"clients/main"},
                                           NamedText{"Latin", u"Spielst\u00e4nde", u8"Spielst\u00e4nde"},
                                           NamedText{"Cjk", u"\u5ba2\u6237\u7aef", u8"\u5ba2\u6237\u7aef"},
                                           NamedText{"BeyondTheBasicPlane", u"\U0001F3AE save", u8"\U0001F3AE save"}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(PathText, BytesThatAreNoUtf8BecomeReplacementCharactersInsteadOfFailing) {
    if constexpr (!kNativeTextIsBytes) GTEST_SKIP() << "path text is UTF-16 here";
    EXPECT_EQ(pathText(fs::path(std::string("a\xff" "b\xc3"))), u"a\ufffdb\ufffd");
}

TEST(PathText, ALoneSurrogateIsKeptWhereNamesAreUtf16AndReplacedWhereTheyAreBytes) {
    const std::u16string lone = u"a\xd800" u"b";
    if constexpr (kNativeTextIsBytes) {
        EXPECT_EQ(widePath(lone).native(), "a\xef\xbf\xbd" "b");
    } else {
        EXPECT_EQ(pathText(widePath(lone)), lone);
    }
}

TEST(JoinName, ANameThatStartsWithASeparatorStaysBelowTheFolder) {
    const fs::path folder = fs::path("clients") / "main";
    EXPECT_EQ(joinName(folder, u"data.pak"), folder / "data.pak");
    const fs::path joined = joinName(folder, u"/etc/passwd").lexically_normal();
    EXPECT_EQ(joined, (folder / "etc" / "passwd").lexically_normal());
    EXPECT_EQ(*joined.begin(), fs::path("clients"));
}

}  // namespace
}  // namespace mendly
