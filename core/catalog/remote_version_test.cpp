#include "catalog/remote_version.h"

#include <gtest/gtest.h>

#include "log/log_file.h"
#include "log/text.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::LoopbackServer;

class RemoteVersion : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LogFile::open(logDir.path())); }
    void TearDown() override { LogFile::close(); }

    ServerEntry entryFor(const std::string& base) const {
        return ServerEntry{"retail", "", "aurum", base, "kaltrisclient.exe", ""};
    }
    // The log's lines after its "opened" line, without their timestamps.
    std::vector<std::string> logMessages() const {
        std::vector<std::string> messages;
        const std::string text = test::readFile(logDir / "launcher.log");
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            const std::string line = text.substr(start, end - start);
            messages.push_back(line.size() > 24 ? line.substr(24) : "");
            if (end == std::string::npos) break;
            start = end + 1;
        }
        if (!messages.empty()) messages.erase(messages.begin());
        return messages;
    }

    test::TempDir logDir{"remote-version"};
    LoopbackServer server;
};

TEST_F(RemoteVersion, FetchesAndCleansThePublishedFile) {
    server.respond("/aurum/_version._", 200, "\xEF\xBB\xBF" "2.5.1-r7\r\n");
    EXPECT_EQ(fetchRemoteVersion(entryFor(server.baseUrl())), u"2.5.1-r7");
    EXPECT_EQ(server.requestCount("/aurum/_version._"), 1u);
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(RemoteVersion, ATrailingSlashAndSpacesInTheBaseAddressAreIgnored) {
    server.respond("/aurum/_version._", 200, "2.6");
    EXPECT_EQ(fetchRemoteVersion(entryFor(server.baseUrl() + "/ \t")), u"2.6");
}

TEST_F(RemoteVersion, AnEmptyFileGivesAnEmptyTextWithoutAnError) {
    server.respond("/aurum/_version._", 200, "");
    EXPECT_EQ(fetchRemoteVersion(entryFor(server.baseUrl())), u"");
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(RemoteVersion, AFailedDownloadIsLoggedWithTheAddressAndGivesNothing) {
    server.respond("/aurum/_version._", 404, "missing");
    const auto entry = entryFor(server.baseUrl());
    EXPECT_EQ(fetchRemoteVersion(entry), u"");
    const auto messages = logMessages();
    ASSERT_EQ(messages.size(), 1u);
    const std::string prefix = "ERROR: " + server.url("/aurum/_version._") + " \xE2\x80\x94 ";
    EXPECT_EQ(messages[0].substr(0, prefix.size()), prefix) << messages[0];
    EXPECT_TRUE(messages[0].ends_with(" (HTTP 404)")) << messages[0];
}

TEST_F(RemoteVersion, AnUnreachableHostIsLoggedAsAnErrorCode) {
    std::string base;
    {
        LoopbackServer gone;
        base = gone.baseUrl();
    }
    EXPECT_EQ(fetchRemoteVersion(entryFor(base)), u"");
    const auto messages = logMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("ERROR: " + base + "/aurum/_version._ \xE2\x80\x94 ", 0), 0u) << messages[0];
    EXPECT_TRUE(messages[0].ends_with(")")) << messages[0];
    EXPECT_NE(messages[0].find(" (error "), std::string::npos) << messages[0];
}

}  // namespace
}  // namespace mendly
