#include "model/server_version.h"

#include <gtest/gtest.h>

#include "support/loopback_server.h"
#include "model/status_check.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

TEST(FormatServerVersion, PrefixAndTrailingLineBreakAreRemoved) {
    EXPECT_EQ(formatServerVersion("KaltrisNexum-2.5.1\r\n"), u"2.5.1");
    EXPECT_EQ(formatServerVersion("\xEF\xBB\xBFKaltrisNexum-2.5.1\n"), u"2.5.1");
}

TEST(FormatServerVersion, NothingLeftGivesTheDash) {
    EXPECT_EQ(formatServerVersion(""), u"\u2014");
    EXPECT_EQ(formatServerVersion(" \r\n\t"), u"\u2014");
    EXPECT_EQ(formatServerVersion("\xEF\xBB\xBF"), u"\u2014");
    EXPECT_EQ(formatServerVersion("KaltrisNexum-"), u"\u2014");
}

TEST(FormatServerVersion, InnerLineBreaksSurviveInEveryForm) {
    EXPECT_EQ(formatServerVersion("2.5.1\r\nbuild 7"), u"2.5.1\nbuild 7");
    EXPECT_EQ(formatServerVersion("2.5.1\rbuild 7"), u"2.5.1\nbuild 7");
    EXPECT_EQ(formatServerVersion("2.5.1\\nbuild 7"), u"2.5.1\nbuild 7");
    EXPECT_EQ(formatServerVersion("2.5.1\r\r\nx"), u"2.5.1\n\nx");
}

TEST(FormatServerVersion, TabsBecomeSpacesAndOtherBytesStay) {
    EXPECT_EQ(formatServerVersion("\t2.5\t1\t"), u"2.5 1");
    EXPECT_EQ(formatServerVersion("a\\b"), u"a\\b");
    EXPECT_EQ(formatServerVersion("v\\"), u"v\\");
    EXPECT_EQ(formatServerVersion("Version \xC3\xA9t\xC3\xA9"), u"Version \u00e9t\u00e9");
}

TEST(EntryStatusRule, ComparesWholeTextsCaseSensitively) {
    EXPECT_EQ(entryStatusOf(u"KaltrisNexum-2.5.1", u"KaltrisNexum-2.5.1"), kStatusUpToDate);
    EXPECT_EQ(entryStatusOf(u"kaltrisnexum-2.5.1", u"KaltrisNexum-2.5.1"), kStatusOutOfDate);
    EXPECT_EQ(entryStatusOf(u"", u"2.5.1"), kStatusOutOfDate);
    EXPECT_EQ(entryStatusOf(u"2.5.1", u""), kStatusUndetermined);
}

TEST(ResultAcceptance, StatusNeedsTheCurrentGenerationAndAnIndexInRange) {
    EXPECT_TRUE(acceptsStatusResult(3, 2, 3, 0));
    EXPECT_TRUE(acceptsStatusResult(3, 2, 3, 1));
    EXPECT_FALSE(acceptsStatusResult(3, 2, 2, 0));
    EXPECT_FALSE(acceptsStatusResult(3, 2, 4, 0));
    EXPECT_FALSE(acceptsStatusResult(3, 2, 3, 2));
    EXPECT_FALSE(acceptsStatusResult(3, 2, 3, -1));
    EXPECT_FALSE(acceptsStatusResult(0, 0, 0, 0));
}

class StatusCheckTest : public ::testing::Test {
protected:
    StatusCheckJob installedJob() { return {0, true, server.wideUrl("/aurum/_version._"), client.path()}; }

    test::LoopbackServer server;
    test::TempDir client;
};

TEST_F(StatusCheckTest, SameTextIncludingPrefixIsUpToDate) {
    server.respond("/aurum/_version._", 200, "KaltrisNexum-2.5.1\r\n");
    test::writeFile(client / "_version._", "\xEF\xBB\xBFKaltrisNexum-2.5.1\n");
    EXPECT_EQ(checkEntryStatus(installedJob()).status, kStatusUpToDate);
    const VersionFetch fetch = fetchVersionText(server.wideUrl("/aurum/_version._"));
    EXPECT_EQ(fetch.text, u"2.5.1");
    EXPECT_EQ(fetch.shown, VersionShown::Known);
    EXPECT_TRUE(fetch.failure.empty());
}

TEST_F(StatusCheckTest, LocalTextWithoutThePrefixIsOutOfDate) {
    server.respond("/aurum/_version._", 200, "KaltrisNexum-2.5.1\r\n");
    test::writeFile(client / "_version._", "2.5.1");
    EXPECT_EQ(checkEntryStatus(installedJob()).status, kStatusOutOfDate);
}

TEST_F(StatusCheckTest, MissingLocalVersionIsOutOfDateWhenTheServerAnswers) {
    server.respond("/aurum/_version._", 200, "2.5.1");
    const EntryCheck check = checkEntryStatus(installedJob());
    EXPECT_EQ(check.status, kStatusOutOfDate);
    EXPECT_TRUE(check.asked);
    EXPECT_TRUE(check.failure.empty());
}

TEST_F(StatusCheckTest, ServerFailureOrEmptyFileLeavesTheEntryUnmarked) {
    server.respond("/aurum/_version._", 404, "");
    const EntryCheck failed = checkEntryStatus(installedJob());
    EXPECT_EQ(failed.status, kStatusUndetermined);
    // The HTTP client's sentence travels along for the page.
    EXPECT_NE(failed.failure.find(u"404"), std::u16string::npos);
    const VersionFetch missing = fetchVersionText(server.wideUrl("/aurum/_version._"));
    EXPECT_EQ(missing.text, u"Unavailable");
    EXPECT_EQ(missing.shown, VersionShown::Unavailable);
    EXPECT_NE(missing.failure.find(u"404"), std::u16string::npos);
    server.respond("/aurum/_version._", 200, " \r\n");
    const EntryCheck empty = checkEntryStatus(installedJob());
    EXPECT_EQ(empty.status, kStatusUndetermined);
    EXPECT_TRUE(empty.failure.empty());  // the host answered
    const VersionFetch dash = fetchVersionText(server.wideUrl("/aurum/_version._"));
    EXPECT_EQ(dash.text, u"\u2014");
    EXPECT_EQ(dash.shown, VersionShown::None);
    EXPECT_TRUE(dash.failure.empty());
}

TEST_F(StatusCheckTest, EntryThatIsNotInstalledIsNotFetched) {
    server.respond("/aurum/_version._", 200, "2.5.1");
    auto job = installedJob();
    job.installed = false;
    const EntryCheck check = checkEntryStatus(job);
    EXPECT_EQ(check.status, kStatusUndetermined);
    EXPECT_FALSE(check.asked);
    EXPECT_EQ(server.totalRequests(), 0u);
}

}  // namespace
}  // namespace mendly
