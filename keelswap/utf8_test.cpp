#include "utf8.h"

#include <gtest/gtest.h>

namespace mendly::keelswap {
namespace {

TEST(Utf8ToWide, EmptyTextGivesEmptyResult) {
    const auto wide = utf8ToWide("");
    ASSERT_TRUE(wide.has_value());
    EXPECT_TRUE(wide->empty());
}

TEST(Utf8ToWide, ConvertsOneToFourByteForms) {
    // "aä€" and U+1F600, which takes a surrogate pair.
    EXPECT_EQ(utf8ToWide("a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (std::u16string{u'a', char16_t{0x00E4}, char16_t{0x20AC}, char16_t{0xD83D}, char16_t{0xDE00}}));
    EXPECT_EQ(utf8ToWide("\xF4\x8F\xBF\xBF"), (std::u16string{char16_t{0xDBFF}, char16_t{0xDFFF}}));
}

TEST(Utf8ToWide, RefusesMalformedBytes) {
    EXPECT_FALSE(utf8ToWide("\x80"));                  // continuation byte without a lead
    EXPECT_FALSE(utf8ToWide("ab\xC3"));                // truncated at the end
    EXPECT_FALSE(utf8ToWide("\xC3(x"));                // lead followed by a non-continuation
    EXPECT_FALSE(utf8ToWide("\xC0\xAF"));              // overlong "/"
    EXPECT_FALSE(utf8ToWide("\xE0\x80\xAF"));          // overlong "/" in three bytes
    EXPECT_FALSE(utf8ToWide("\xED\xA0\x80"));          // encoded surrogate
    EXPECT_FALSE(utf8ToWide("\xF4\x90\x80\x80"));      // above U+10FFFF
    EXPECT_FALSE(utf8ToWide("\xFF"));
}

}  // namespace
}  // namespace mendly::keelswap
