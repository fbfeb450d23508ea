#include "model/news_feed.h"

#include "model/feed_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

std::string fixture(const char* name) {
    return test::readFile(std::filesystem::path(MODEL_TESTDATA_DIR) / name);
}

std::string titledItems(int count) {
    std::string feed = "<rss><channel>";
    for (int i = 0; i < count; ++i) feed += "<item><title>Item " + std::to_string(i) + "</title></item>";
    return feed + "</channel></rss>";
}

// --- entities ---------------------------------------------------------------

TEST(EntityDecoding, NestedAmpersandEscapeResolvesInTwoPasses) {
    EXPECT_EQ(decodeEntities("Tom &amp;amp; Jerry"), "Tom & Jerry");
    EXPECT_EQ(decodeEntities("&amp;lt;b&amp;gt;"), "<b>");
}

TEST(EntityDecoding, PercentMisspellingsAreRepaired) {
    EXPECT_EQ(decodeEntities("Q%amp;A"), "Q&A");
    EXPECT_EQ(fixPercentEntities("%lt;%gt;%quot;%apos;%nbsp;$nbsp;"), "<>\"'  ");
    EXPECT_EQ(fixPercentEntities("%AMP; stays"), "%AMP; stays");
}

TEST(EntityDecoding, NamedEntitiesOfTheTable) {
    EXPECT_EQ(decodeEntities("&lt;&gt;&quot;&apos;&nbsp;"), "<>\"' ");
    EXPECT_EQ(decodeEntities("a&mdash;b&ndash;c"), "a\xE2\x80\x94" "b\xE2\x80\x93" "c");
    EXPECT_EQ(decodeEntities("caf&eacute;"), "caf&eacute;");
}

TEST(EntityDecoding, DecimalAndHexReferencesGiveTheEmDash) {
    EXPECT_EQ(decodeEntities("&#8212;"), "\xE2\x80\x94");
    EXPECT_EQ(decodeEntities("&#x2014;"), "\xE2\x80\x94");
    EXPECT_EQ(decodeEntities("&#X2014;"), "\xE2\x80\x94");
}

TEST(EntityDecoding, CodePointAboveUnicodeRangeStaysAsWritten) {
    EXPECT_EQ(decodeEntities("&#1114112;"), "&#1114112;");
    EXPECT_EQ(decodeEntities("&#x110000;"), "&#x110000;");
    EXPECT_EQ(decodeEntities("&#x10FFFF;"), "\xF4\x8F\xBF\xBF");
}

TEST(EntityDecoding, SemicolonFurtherThanTwelveBytesEndsNoEntity) {
    // "&#000000000065;" has its ";" 14 bytes after the "&".
    EXPECT_EQ(decodeEntities("&#000000000065;"), "&#000000000065;");
    EXPECT_EQ(decodeEntities("&#00000000065;"), "&#00000000065;");  // 13 bytes away
    // 12 bytes after the "&" is still in reach.
    EXPECT_EQ(decodeEntities("&#0000000065;"), "A");
}

TEST(EntityDecoding, UnknownEntityIsSkippedWholeIncludingAnInnerAmpersand) {
    // The first "&" reaches the ";" of "&amp;", so the candidate is "&a&amp;":
    // it stays, and the scan goes on after its ";".
    EXPECT_EQ(decodeEntities("&a&amp;"), "&a&amp;");
    // A lone "&" within reach of a later entity's ";" hides that entity too.
    EXPECT_EQ(decodeEntities("& &amp;"), "& &amp;");
    EXPECT_EQ(decodeEntities("&            &amp;"), "&            &");
}

TEST(EntityDecoding, InsertedTextIsNotRescannedInTheSamePassButLaterPassesSeeIt) {
    // Four passes at most: five levels of escaping leave one.
    EXPECT_EQ(decodeEntities("&amp;amp;amp;amp;amp;"), "&amp;");
}

TEST(EntityDecoding, LongRunOfLoneAmpersandsCompletes) {
    // Every "&" looks for its ";" only within reach: linear, not quadratic.
    const std::string hostile(4'000'000, '&');
    EXPECT_EQ(decodeEntities(hostile), hostile);
    std::string spaced;
    for (int i = 0; i < 400'000; ++i) spaced += "&&&&&&&&&&";
    spaced += ";";
    EXPECT_EQ(decodeEntities(spaced).size(), spaced.size());
}

TEST(NumericEntity, KnownAnswers) {
    EXPECT_EQ(decodeNumericEntity("&#65;"), "A");
    EXPECT_EQ(decodeNumericEntity("&#x41;"), "A");
    EXPECT_EQ(decodeNumericEntity("&#233;"), "\xC3\xA9");
    EXPECT_EQ(decodeNumericEntity("&#128512;"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(decodeNumericEntity("&#0;"), std::string(1, '\0'));
    // Surrogates are encoded like any other value.
    EXPECT_EQ(decodeNumericEntity("&#xD800;"), "\xED\xA0\x80");
}

TEST(NumericEntity, ReadsTheWayTheLibraryConversionDoes) {
    EXPECT_EQ(decodeNumericEntity("&# 65;"), "A");      // leading white space skipped
    EXPECT_EQ(decodeNumericEntity("&#+66;"), "B");      // sign accepted
    EXPECT_EQ(decodeNumericEntity("&#67abc;"), "C");    // stops at the first non-digit
    EXPECT_EQ(decodeNumericEntity("&#x0x44;"), "D");    // base 16 takes a "0x" prefix
    EXPECT_EQ(decodeNumericEntity("&#-1;"), std::nullopt);  // wraps far above 0x10FFFF
    EXPECT_EQ(decodeNumericEntity("&#-0;"), std::string(1, '\0'));
}

TEST(NumericEntity, MalformedReferencesGiveNoValue) {
    EXPECT_EQ(decodeNumericEntity("&#;"), std::nullopt);        // shorter than 4 bytes
    EXPECT_EQ(decodeNumericEntity("&#x;"), std::nullopt);       // 4 bytes: read as decimal "x"
    EXPECT_EQ(decodeNumericEntity("&#xZZ;"), std::nullopt);
    EXPECT_EQ(decodeNumericEntity("&65;;"), std::nullopt);
    EXPECT_EQ(decodeNumericEntity("&#65"), std::nullopt);
    EXPECT_EQ(decodeNumericEntity("&#99999999999;"), std::nullopt);  // out of range
}

// --- CDATA, tags, cleaning ----------------------------------------------------

TEST(Cdata, UnwrapsOnlyALeadingSectionUpToItsFirstEndMarker) {
    EXPECT_EQ(unwrapCdata("<![CDATA[one]]>two]]>"), "one");
    EXPECT_EQ(unwrapCdata("<![CDATA[no end"), "no end");
    EXPECT_EQ(unwrapCdata(" <![CDATA[x]]>"), " <![CDATA[x]]>");
}

TEST(ExtractTag, ReturnsDecodedContentOfTheFirstElement) {
    EXPECT_EQ(extractTag("<title>A &amp; B</title><title>second</title>", "title"), "A & B");
    EXPECT_EQ(extractTag("<link><![CDATA[https://x.invalid/?a=1&b=2]]></link>", "link"),
              "https://x.invalid/?a=1&b=2");
}

TEST(ExtractTag, LongerTagNameWithTheSameBeginningAlsoMatches) {
    // "<titles>" is found first; its content runs to the first "</title>".
    EXPECT_EQ(extractTag("<titles>x</title>", "title"), "x");
}

TEST(ExtractTag, MissingMarkersGiveNothing) {
    EXPECT_EQ(extractTag("no tag here", "title"), std::nullopt);
    EXPECT_EQ(extractTag("<title", "title"), std::nullopt);
    EXPECT_EQ(extractTag("<title>never closed", "title"), std::nullopt);
    EXPECT_EQ(extractTag("<title></title>", "title"), "");
}

TEST(CleanFeedText, DropsMarkupAndStrayClosingBrackets) {
    EXPECT_EQ(cleanFeedText("<p>Hello <b>world</b></p>"), "Hello world");
    EXPECT_EQ(cleanFeedText("a > b"), "a  b");
    EXPECT_EQ(cleanFeedText("text <unclosed and the rest"), "text");
}

TEST(CleanFeedText, LineBreaksAndTabsBecomeSpacesAndEndsAreTrimmed) {
    EXPECT_EQ(cleanFeedText("\r\n\tone\r\ntwo\tthree \v\f"), "one  two three");
    EXPECT_EQ(cleanFeedText("a\vb"), "a\vb");
}

TEST(CleanFeedText, LongTextIsCutTo237BytesPlusEllipsis) {
    const std::string text(300, 'x');
    EXPECT_EQ(cleanFeedText(text), std::string(237, 'x') + "...");
    EXPECT_EQ(cleanFeedText(std::string(240, 'y')), std::string(240, 'y'));
    EXPECT_EQ(cleanFeedText(std::string(241, 'y')).size(), 240u);
}

TEST(CleanFeedText, CutMaySplitAMultiByteCharacter) {
    const std::string text = std::string(236, 'x') + "\xE2\x80\x94" + std::string(10, 'x');
    EXPECT_EQ(cleanFeedText(text), std::string(236, 'x') + "\xE2" + "...");
}

// --- the item scanner ---------------------------------------------------------

TEST(ParseRssItems, ReadsTheAnnouncementsFixture) {
    const auto items = parseRssItems(fixture("announcements.xml"), 12);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], (RssItem{"Server maintenance on Thursday", "https://www.example.invalid/news/41?a=1&b=2",
                                 "Thu, 04 Sep 2025 08:00:00 +0000",
                                 "The servers will be offline  from 06:00 to 08:00.Thanks for your patience!"}));
    EXPECT_EQ(items[1], (RssItem{"Caf\xC3\xA9 event & prizes", "https://www.example.invalid/news/40",
                                 "Mon, 01 Sep 2025 12:30:00 +0000",
                                 "Join us \xE2\x80\x94 the caf&eacute; is open."}));
    EXPECT_EQ(items[2], (RssItem{"Patch 2.5.1 is live", "https://www.example.invalid/news/39", "",
                                 "Fixes \xE2\x80\x94 see the notes."}));
}

TEST(ParseRssItems, ItemsWithoutTitleAreSkippedAndDoNotCount) {
    const auto items = parseRssItems(fixture("patches.xml"), 1);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0], (RssItem{"Version 2.5.2 \xE2\x80\x94 balance", "https://www.example.invalid/patch/252",
                                 "2025-09-10", "Tom & Jerry's fix: ABC &#1114112; stays."}));
    const auto all = parseRssItems(fixture("patches.xml"), 12);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1], (RssItem{"Version 2.5.1", "https://www.example.invalid/patch/251", "2025-09-01",
                               "Hotfix for crashes on start."}));
}

TEST(ParseRssItems, StopsAtTheMaximum) {
    const auto items = parseRssItems(titledItems(20), 5);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[4].title, "Item 4");
}

TEST(ParseRssItems, ItemPrefixAlsoMatchesLongerTagNames) {
    // "<items>" opens an item body that runs to the first "</item>".
    const auto items = parseRssItems("<items><title>T</title></item>", 6);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, "T");
}

TEST(ParseRssItems, MissingMarkersEndTheScan) {
    EXPECT_TRUE(parseRssItems("", 6).empty());
    EXPECT_TRUE(parseRssItems("<item", 6).empty());
    EXPECT_TRUE(parseRssItems("<item><title>open</title>", 6).empty());
    const auto items = parseRssItems("<item><title>A</title></item><item><title>B</title>", 6);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, "A");
}

TEST(ParseRssItems, HostileFeedOfUntitledItemsIsScannedOnce) {
    std::string feed;
    for (int i = 0; i < 200'000; ++i) feed += "<item><link>&&&&&&&&</link></item>";
    feed += "<item><title>last</title></item>";
    const auto items = parseRssItems(feed, 12);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, "last");
}

// --- the page function ------------------------------------------------------------

TEST(FeedItemLimit, ZeroOrNonNumberGivesSixAndAboveTwelveOrNegativeGivesTwelve) {
    EXPECT_EQ(feedItemLimit(0), 6);
    EXPECT_EQ(feedItemLimit("8"), 6);
    EXPECT_EQ(feedItemLimit(true), 6);
    EXPECT_EQ(feedItemLimit(20), 12);
    EXPECT_EQ(feedItemLimit(-1), 12);
    EXPECT_EQ(feedItemLimit(7), 7);
    EXPECT_EQ(feedItemLimit(2.9), 2);
    EXPECT_EQ(feedItemLimit(-0.5), 6);
    EXPECT_EQ(feedItemLimit(-1e300), 12);
    EXPECT_EQ(feedItemLimit(std::numeric_limits<double>::quiet_NaN()), 6);
    EXPECT_EQ(feedItemLimit(std::uint64_t{1} << 40), 12);
}

class FetchRssFeedTest : public ::testing::Test {
protected:
    test::LoopbackServer server;
};

TEST_F(FetchRssFeedTest, NonStringUrlGivesInvalidRssUrl) {
    EXPECT_EQ(fetchRssFeed(42, 6).dump(), R"({"error":"Invalid RSS URL","items":[]})");
    EXPECT_EQ(server.totalRequests(), 0u);
}

TEST_F(FetchRssFeedTest, ReturnsItemsInFeedOrderWithKeysInOrder) {
    server.respond("/rss/launcher", 200, fixture("announcements.xml"), "application/rss+xml");
    const auto result = fetchRssFeed(server.url("/rss/launcher"), 2);
    EXPECT_EQ(result.dump(),
              R"({"error":"","items":[{"title":"Server maintenance on Thursday",)"
              R"("link":"https://www.example.invalid/news/41?a=1&b=2","date":"Thu, 04 Sep 2025 08:00:00 +0000",)"
              R"("summary":"The servers will be offline  from 06:00 to 08:00.Thanks for your patience!"},)"
              R"({"title":"Café event & prizes","link":"https://www.example.invalid/news/40",)"
              R"("date":"Mon, 01 Sep 2025 12:30:00 +0000","summary":"Join us — the caf&eacute; is open."}]})");
}

TEST_F(FetchRssFeedTest, MaximumRulesApplyToTheDownloadedFeed) {
    server.respond("/feed", 200, titledItems(20));
    EXPECT_EQ(fetchRssFeed(server.url("/feed"), 0)["items"].size(), 6u);
    EXPECT_EQ(fetchRssFeed(server.url("/feed"), "x")["items"].size(), 6u);
    EXPECT_EQ(fetchRssFeed(server.url("/feed"), 20)["items"].size(), 12u);
    EXPECT_EQ(fetchRssFeed(server.url("/feed"), -1)["items"].size(), 12u);
}

TEST_F(FetchRssFeedTest, ServerErrorGivesTheHttpSentenceAndNoItems) {
    server.respond("/rss/patches", 503, "<item><title>not used</title></item>");
    EXPECT_EQ(fetchRssFeed(server.url("/rss/patches"), 6).dump(),
              R"j({"error":"The server ran into a problem. Try again later (HTTP 503)","items":[]})j");
}

TEST_F(FetchRssFeedTest, EmptyBodyGivesNoErrorAndNoItems) {
    server.respond("/rss/patches", 200, "");
    EXPECT_EQ(fetchRssFeed(server.url("/rss/patches"), 6).dump(), R"({"error":"","items":[]})");
}

TEST_F(FetchRssFeedTest, InvalidUtf8AndSplitCharactersReachThePageAsReplacementCharacters) {
    const std::string title = std::string(236, 'x') + "\xE2\x80\x94" + "tail";
    server.respond("/feed", 200, "<item><title>" + title + "</title><link>bad\xFF</link></item>");
    const auto result = fetchRssFeed(server.url("/feed"), 6);
    ASSERT_EQ(result["items"].size(), 1u);
    EXPECT_EQ(result["items"][0]["title"], std::string(236, 'x') + "\xEF\xBF\xBD...");
    EXPECT_EQ(result["items"][0]["link"], "bad\xEF\xBF\xBD");
    EXPECT_NO_THROW((void)result.dump());
}

TEST_F(FetchRssFeedTest, ATricklingHostEndsAsNewsUnavailableAtTheDeadline) {
    server.streamBody("/rss", 16, std::chrono::milliseconds(50));  // endless, 320 bytes a second
    const auto start = std::chrono::steady_clock::now();
    const auto result = fetchRssFeed(server.url("/rss"), 6, start + std::chrono::milliseconds(800));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.dump(), R"({"error":"News unavailable","items":[]})");
    EXPECT_GE(took, std::chrono::milliseconds(800));
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(FetchRssFeedTest, ADeadlineAlreadyPastAsksNothing) {
    server.respond("/rss", 200, titledItems(1));
    const auto result = fetchRssFeed(server.url("/rss"), 6, std::chrono::steady_clock::now());
    EXPECT_EQ(result["error"], "News unavailable");
    EXPECT_EQ(server.totalRequests(), 0u);
}

// --- field caps -------------------------------------------------------------

TEST(FeedFieldCaps, EveryFieldOfAHugeItemReachesThePageShort) {
    const std::string word(900 * 1024, 'w');
    const auto items = parseRssItems("<item><title>" + word + "</title><link>https://k.invalid/" + word +
                                         "</link><pubDate>" + word + "</pubDate><description>" + word +
                                         "</description></item>",
                                     6);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, std::string(237, 'w') + "...");
    EXPECT_EQ(items[0].summary, std::string(237, 'w') + "...");
    EXPECT_EQ(items[0].link, "");
    EXPECT_EQ(items[0].date, "");
}

TEST(FeedFieldCaps, LinksAreTrimmedAndKeptUpToTheirLimit) {
    const std::string longest = "https://k.invalid/" + std::string(kMaxFeedLinkBytes - 18, 'a');
    const auto item = [](const std::string& link) {
        return parseRssItems("<item><title>T</title><link>" + link + "</link></item>", 1).at(0).link;
    };
    EXPECT_EQ(item(" \n https://k.invalid/1 \t"), "https://k.invalid/1");
    EXPECT_EQ(item(longest), longest);
    EXPECT_EQ(item(longest + "a"), "");
}

TEST(FeedFieldCaps, DatesAreKeptAsWrittenOnlyWhenTheyReadAsDates) {
    struct Case {
        std::string text;
        std::string kept;  // empty: dropped
    };
    const Case cases[] = {
        {"Thu, 04 Sep 2025 08:00:00 +0000", "Thu, 04 Sep 2025 08:00:00 +0000"},
        {"  Mon, 02 Dec 2024\n", "Mon, 02 Dec 2024"},
        {"4 sep 25 8:00 GMT", "4 sep 25 8:00 GMT"},
        {"Sun, 31 Dec 2023 23:59:60 PDT", "Sun, 31 Dec 2023 23:59:60 PDT"},
        {"Tue, 1 Oct 2024 10:00 Z", "Tue, 1 Oct 2024 10:00 Z"},
        {"2025-09-03", "2025-09-03"},
        {"2025-09-03T08:00:00.250+02:00", "2025-09-03T08:00:00.250+02:00"},
        {"2025-09-03 08:00Z", "2025-09-03 08:00Z"},
        {"", ""},
        {"yesterday", ""},
        {"Thu, 32 Sep 2025", ""},
        {"Thu, 04 Sept 2025", ""},
        {"Thu 04 Sep 2025", ""},
        {"Thu, 04 Sep 2025 24:00", ""},
        {"Thu, 04 Sep 2025 08:00:00 +0000 and more", ""},
        {"Thu, 04 Sep 2025 08:00 J", ""},
        {"04 Sep 725", ""},
        {"2025-13-01", ""},
        {"2025-09-03T08:61", ""},
        {"<script>alert(1)</script>", ""},
        {"04 Sep 2025 " + std::string(kMaxFeedDateBytes, ' ') + "x", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(feedDate(c.text).value_or(""), c.kept) << c.text;
}

}  // namespace
}  // namespace mendly
