#include "log/text.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

TEST(TextConversion, EmptyInputsGiveEmptyOutputs) {
    EXPECT_TRUE(toWide("").empty());
    EXPECT_TRUE(toUtf8(u"").empty());
}

TEST(TextConversion, RoundTripsBmpAndAstralCharacters) {
    const std::string utf8 = "Ёлка caf\xC3\xA9 \xF0\x9F\x8E\xAE end";  // Cyrillic, é, U+1F3AE
    const std::u16string wide = toWide(utf8);
    ASSERT_EQ(wide.substr(0, 4), u"Ёлка");
    // The astral character becomes a surrogate pair.
    const auto pos = wide.find(u'\xD83C');
    ASSERT_NE(pos, std::u16string::npos);
    EXPECT_EQ(wide[pos + 1], u'\xDFAE');
    EXPECT_EQ(toUtf8(wide), utf8);
}

TEST(TextConversion, EmbeddedNulIsConvertedLikeAnyCharacter) {
    const std::string utf8("a\0b", 3);
    const std::u16string wide = toWide(utf8);
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[1], u'\0');
    EXPECT_EQ(toUtf8(wide), utf8);
}

TEST(TextConversion, InvalidUtf8BecomesReplacementCharacters) {
    // Lone continuation byte, truncated 3-byte sequence, overlong "/" and a
    // surrogate encoded in UTF-8: each maximal ill-formed part is one U+FFFD.
    EXPECT_EQ(toWide("a\x80z"), u"a\uFFFDz");
    EXPECT_EQ(toWide("a\xE2\x82z"), u"a\uFFFDz");
    EXPECT_EQ(toWide("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(toWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(toWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(toWide("\xF0\x9F\x8E"), u"\uFFFD");  // cut off at the end
}

TEST(TextConversion, LoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(toUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(toUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
    EXPECT_EQ(toUtf8(std::u16string{char16_t(0xD83C)}), "\xEF\xBF\xBD");
}

TEST(AsciiCaseFolding, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(equalsIgnoreAsciiCase("Retail", "rETAIL"));
    EXPECT_FALSE(equalsIgnoreAsciiCase("\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9"));  // Été vs été
    EXPECT_TRUE(equalsIgnoreAsciiCase(u"DATA.PAK", u"data.pak"));
    EXPECT_FALSE(equalsIgnoreAsciiCase(u"\u00C9", u"\u00E9"));
    EXPECT_FALSE(equalsIgnoreAsciiCase("[", "{"));  // not a letter, differs by 32
}

TEST(HexText, OnlyDigitsOfTheGivenLengthCount) {
    EXPECT_TRUE(isHexText("0123456789abcdef", 16));
    EXPECT_TRUE(isHexText("ABCDEF01", 8));
    EXPECT_FALSE(isHexText("ABCDEF01", 8, true));  // lowercase asked for
    EXPECT_TRUE(isHexText("abcdef01", 8, true));
    EXPECT_FALSE(isHexText("abcdef0", 8));          // too short
    EXPECT_FALSE(isHexText("abcdef012", 8));        // too long
    EXPECT_FALSE(isHexText("abcdefg1", 8));         // past f
    EXPECT_FALSE(isHexText(std::string_view("abc\0ef01", 8), 8));
    EXPECT_TRUE(isHexText("", 0));
}

TEST(WideTrim, RemovesWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(trimWide(u"  a b\t\r\n"), u"a b");
    EXPECT_EQ(trimWide(u"\u3000x\u00A0"), u"x");
    EXPECT_EQ(trimWide(u"   "), u"");
}

}  // namespace
}  // namespace mendly
