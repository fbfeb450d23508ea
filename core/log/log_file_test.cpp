#include "log/log_file.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "log/text.h"
#include "platform/log_output.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override { LogFile::close(); }
    test::TempDir dir{"logtest"};
    std::string content() { return test::readFile(dir / "launcher.log"); }
};

// Another program starting while this one logs empties the file; this one's
// later lines then follow the other's instead of landing at the old offset
// behind a hole of zero bytes.
TEST_F(LogFileTest, AnotherProgramsStartLeavesNoHoleAndNoOverwrittenLine) {
    ASSERT_TRUE(LogFile::open(dir.path()));
    for (int i = 0; i < 20; ++i) LogFile::write(u"first program, a long line of the update run " + toDecimal(i));
    platform::LogOutput other;
    ASSERT_TRUE(other.open(dir / "launcher.log"));  // the other program's start
    ASSERT_TRUE(other.append("other program started\n"));
    LogFile::write(u"first program goes on");
    ASSERT_TRUE(other.append("other program ends\n"));
    const std::string text = content();
    EXPECT_EQ(text.find('\0'), std::string::npos);
    const auto all = lines(text);
    ASSERT_EQ(all.size(), 3u) << text;
    EXPECT_EQ(all[0], "other program started");
    EXPECT_NE(all[1].find("first program goes on"), std::string::npos);
    EXPECT_EQ(all[2], "other program ends");
}

TEST_F(LogFileTest, LinesHaveTimestampPrefixAndEndInLineFeed) {
    ASSERT_TRUE(LogFile::open(dir.path()));
    LogFile::write(u"Ёлка — ok");
    LogFile::write(u"");
    LogFile::writeServerCount(3);
    LogFile::close();
    const std::string text = content();
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const auto l = lines(text);
    ASSERT_EQ(l.size(), 5u);
    for (const auto& line : l) EXPECT_TRUE(std::regex_search(line, kStamp)) << line;
    EXPECT_EQ(l[0].substr(24), "launcher.log opened");
    EXPECT_EQ(l[1].substr(24), "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 \xE2\x80\x94 ok");
    EXPECT_EQ(l[2].size(), 24u);  // empty message: only the timestamp and its space
    EXPECT_EQ(l[3].substr(24), "Loaded 3 of Servers");
    EXPECT_EQ(l[4].substr(24), "launcher exiting");
}

TEST_F(LogFileTest, WritesBeforeOpenAndAfterCloseDoNothing) {
    LogFile::write(u"before");
    ASSERT_TRUE(LogFile::open(dir.path()));
    LogFile::close();
    LogFile::close();
    LogFile::write(u"after");
    const auto l = lines(content());
    ASSERT_EQ(l.size(), 2u);  // opened, exiting: exiting written once
    EXPECT_EQ(l[1].substr(24), "launcher exiting");
}

TEST_F(LogFileTest, EveryOpenTruncatesTheFile) {
    ASSERT_TRUE(LogFile::open(dir.path()));
    LogFile::write(u"first run");
    ASSERT_TRUE(LogFile::open(dir.path()));  // reopen while open
    LogFile::write(u"second run");
    const std::string text = content();
    EXPECT_EQ(text.find("first run"), std::string::npos);
    EXPECT_EQ(lines(text).front().substr(24), "launcher.log opened");
}

TEST_F(LogFileTest, OpenFailsInAMissingFolderAndLaterWritesAreIgnored) {
    EXPECT_FALSE(LogFile::open(dir / "missing"));
    EXPECT_FALSE(LogFile::isOpen());
    LogFile::write(u"nothing");
}

TEST_F(LogFileTest, LinesFromManyThreadsNeverInterleave) {
    ASSERT_TRUE(LogFile::open(dir.path()));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) LogFile::write(u"thread " + toDecimal(t) + u" line " + toDecimal(i));
        });
    for (auto& th : threads) th.join();
    LogFile::close();
    const auto l = lines(content());
    ASSERT_EQ(l.size(), 2u + 800u);
    const std::regex body(R"(^thread \d line \d+$)");
    for (size_t i = 1; i + 1 < l.size(); ++i) EXPECT_TRUE(std::regex_match(l[i].substr(24), body)) << l[i];
}

TEST(LogTimestamp, HasMillisecondsAsThreeDigits) {
    const std::string ts = logTimestamp();
    EXPECT_TRUE(std::regex_match(ts, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )"))) << ts;
}

}  // namespace
}  // namespace mendly
