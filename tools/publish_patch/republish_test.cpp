// Republishing over a served publication: what a run holding the replaced
// manifest can still fetch, which copies go when, the manifest's "served"
// paths as the client reads them, and the check of the version text.
#include "publish.h"

#include <gtest/gtest.h>

#include <map>

#include "hash/digest.h"
#include "log/text.h"
#include "net/http_client.h"
#include "patch/manifest.h"
#include "served_folder.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using mendly::publish::PublishOptions;
using mendly::publish::PublishSummary;
using mendly::test::readFile;
using mendly::test::writeFile;

class RepublishTest : public ::testing::Test {
protected:
    fs::path client() const { return dir / "client"; }
    fs::path root() const { return dir / "host"; }

    void writeClient(const std::map<std::string, std::string>& files) {
        fs::remove_all(client());
        for (const auto& [relative, bytes] : files) writeFile(client() / relative, bytes);
    }

    bool publish(bool strict = false) {
        PublishOptions options;
        options.force = true;
        options.strict = strict;
        options.deltasFrom = 0;  // no releases kept as delta bases: copies last one release
        error.clear();
        return mendly::publish::publishClient(client(), "aurum", root(), options, summary, error);
    }

    mendly::PatchManifest manifest() const {
        mendly::PatchManifest parsed;
        std::u16string parseError;
        EXPECT_TRUE(mendly::parseManifest(readFile(root() / "aurum.manifest"), parsed, parseError))
            << mendly::toUtf8(parseError);
        return parsed;
    }

    // Fetches every file of `held` as a patch run does; the paths whose
    // bytes do not have the listed MD5 (or could not be fetched).
    std::vector<std::string> unfetchable(const mendly::PatchManifest& held) {
        std::vector<std::string> out;
        for (const auto& entry : held.files) {
            std::string body;
            std::u16string fetchError;
            if (!mendly::httpGet(mendly::fileUrl(server.wideUrl("/aurum/"), entry), body, fetchError) ||
                mendly::md5Hex(body) != entry.md5)
                out.push_back(entry.relative);
        }
        return out;
    }

    mendly::test::TempDir dir{"republish"};
    mendly::test::LoopbackServer server;
    PublishSummary summary;
    std::string error;
};

TEST_F(RepublishTest, ARunHoldingTheReplacedManifestFetchesEveryFileUntilTheNextRelease) {
    server.serveFolder(root());
    writeClient({{"_version._", "1"}, {"a.txt", "first"}, {"same.txt", "kept"}, {"gone.txt", "only in one"}});
    ASSERT_TRUE(publish()) << error;
    const mendly::PatchManifest one = manifest();
    writeClient({{"_version._", "2"}, {"a.txt", "second"}, {"same.txt", "kept"}, {"a/new.txt", "new"}});
    ASSERT_TRUE(publish()) << error;
    const mendly::PatchManifest two = manifest();

    EXPECT_EQ(unfetchable(one), std::vector<std::string>{});
    EXPECT_EQ(unfetchable(two), std::vector<std::string>{});
    // The plain paths are the new release's alone, for clients that know no "served".
    EXPECT_EQ(readFile(root() / "aurum" / "a.txt"), "second");
    EXPECT_FALSE(fs::exists(root() / "aurum" / "gone.txt"));
    // A copy is the plain file's bytes, not a second set of them.
    EXPECT_TRUE(fs::equivalent(root() / "aurum" / "same.txt", root() / "aurum" / mendly::publish::contentPathFor(
                                                                                     mendly::sha256Hex("kept"))));

    // The release after next takes the first one's copies away, keeps the second's.
    writeClient({{"_version._", "3"}, {"a.txt", "third"}, {"same.txt", "kept"}});
    ASSERT_TRUE(publish()) << error;
    EXPECT_EQ(unfetchable(one), (std::vector<std::string>{"_version._", "a.txt", "gone.txt"}));
    EXPECT_EQ(unfetchable(two), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(root() / "aurum" / "a"));  // emptied folders go too
    EXPECT_FALSE(fs::exists(root() / ".aurum.staging"));
}

TEST_F(RepublishTest, AnUnreadableReplacedManifestKeepsEveryCopy) {
    const fs::path firstCopy = root() / "aurum" / mendly::publish::contentPathFor(mendly::sha256Hex("first"));
    writeClient({{"_version._", "1"}, {"a.txt", "first"}});
    ASSERT_TRUE(publish()) << error;
    writeFile(root() / "aurum.manifest", "{ not a manifest");
    writeClient({{"_version._", "2"}, {"a.txt", "second"}});
    ASSERT_TRUE(publish()) << error;
    EXPECT_TRUE(fs::exists(firstCopy));  // whatever it named may still be fetched
    writeClient({{"_version._", "3"}, {"a.txt", "third"}});
    ASSERT_TRUE(publish()) << error;
    EXPECT_FALSE(fs::exists(firstCopy));  // the readable manifest replaced does not name it
}

TEST_F(RepublishTest, AClientFileAmongTheCopiesIsRefused) {
    writeClient({{"_version._", "1"}, {"by-sha256/x.txt", "x"}});
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, "Cannot publish by-sha256/x.txt: by-sha256/ holds the copies of the published files named by "
                     "their digests");
    EXPECT_FALSE(fs::exists(root() / "aurum.manifest"));
}

// Each case: the client published second, after {_version._ "1", a "a", b "b"}.
struct VersionCase {
    const char* name;
    std::map<std::string, std::string> next;
    const char* changes;  // what the sentence counts; null: no warning
};

TEST_F(RepublishTest, AChangedClientWithTheOldVersionTextIsWarnedAboutAndRefusedWhenStrict) {
    const std::vector<VersionCase> cases = {
        {"contents changed", {{"_version._", "1"}, {"a.txt", "A"}, {"b.txt", "b"}}, "1"},
        {"file added and removed", {{"_version._", "1"}, {"a.txt", "a"}, {"c.txt", "c"}}, "2"},
        {"nothing changed", {{"_version._", "1"}, {"a.txt", "a"}, {"b.txt", "b"}}, nullptr},
        {"version changed too", {{"_version._", "2"}, {"a.txt", "A"}, {"b.txt", "b"}}, nullptr},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root());
        writeClient({{"_version._", "1"}, {"a.txt", "a"}, {"b.txt", "b"}});
        ASSERT_TRUE(publish()) << error;
        const std::string before = readFile(root() / "aurum.manifest");
        writeClient(c.next);
        const std::string sentence = c.changes ? std::string("The client changed (") + c.changes +
                                                     " file(s) added, changed or removed) but _version._ did not "
                                                     "(still \"1\"): every player's listing would keep saying "
                                                     "\"Up To Date\""
                                               : "";
        EXPECT_EQ(publish(true), c.changes == nullptr);
        if (c.changes) {
            EXPECT_EQ(error, sentence + "; change _version._, or publish without --strict");
            EXPECT_EQ(readFile(root() / "aurum.manifest"), before);
            EXPECT_EQ(readFile(root() / "aurum" / "a.txt"), "a");
            EXPECT_FALSE(fs::exists(root() / ".aurum.staging"));
            ASSERT_TRUE(publish()) << error;
        }
        EXPECT_EQ(summary.versionWarning, sentence);
    }
}

TEST(ServedPathTest, AServedPathIsWhereTheFileIsFetchedFrom) {
    mendly::PatchManifest parsed;
    std::u16string error;
    ASSERT_TRUE(mendly::parseManifest(R"({"files":[{"relative":"data\\a.txt","md5":"0","served":"by-sha256/aa/x"},
                                                 {"relative":"data/b.txt","md5":"0"}]})",
                                      parsed, error))
        << mendly::toUtf8(error);
    EXPECT_EQ(mendly::fileUrl(u"http://h/S/", parsed.files[0]), u"http://h/S/by-sha256/aa/x");
    EXPECT_EQ(mendly::fileUrl(u"http://h/S/", parsed.files[1]), u"http://h/S/data/b.txt");
}

TEST(ServedPathTest, AServedPathThatCannotBeFetchedAsItStandsRefusesTheManifest) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("../other/x")", "unusable served path \"../other/x\""},
        {R"("/etc/x")", "unusable served path \"/etc/x\""},
        {R"("a\\b")", "unusable served path \"a\\b\" \xE2\x80\x94 contains '\\'"},
        {R"("a?b")", "unusable served path \"a?b\" \xE2\x80\x94 contains '?'"},
        {R"("a b")", "unusable served path \"a b\" \xE2\x80\x94 contains a space or a control character"},
        {R"(5)", "type must be string"},
    };
    for (const auto& [served, expected] : cases) {
        mendly::PatchManifest parsed;
        std::u16string error;
        EXPECT_FALSE(mendly::parseManifest(R"({"files":[{"relative":"a.txt","md5":"0","served":)" + served + "}]}",
                                           parsed, error))
            << served;
        EXPECT_NE(mendly::toUtf8(error).find(expected), std::string::npos) << served << ": " << mendly::toUtf8(error);
        EXPECT_TRUE(parsed.files.empty());
    }
}

}  // namespace
