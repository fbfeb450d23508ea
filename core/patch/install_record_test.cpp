#include "patch/install_record.h"

#include <gtest/gtest.h>

#include "hash/digest.h"
#include "patch/run_record.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

const std::string kMd5 = md5Hex("contents");

InstallRecord sampleRecord() {
    InstallRecord record;
    record.setManifestDigest(sha256Hex("manifest"));
    record.addHolder("Kaltris.exe", {10, 1'700'000'000'123'456'789, 42, 7});
    record.addEntry("Kaltris.exe", {"Kaltris.exe", kMd5, "", 0, 0});
    return record;
}

// A record whose self-check is right but whose body says `body`.
std::string signedBody(const std::string& body) {
    return "mendly-install-record 1 " + sha256Hex(body) + "\n" + body;
}

TEST(InstallRecordText, RoundTripsAndVouchesOnlyForTheSameStampAndDigest) {
    const auto reread = InstallRecord::fromText(sampleRecord().text());
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->text(), sampleRecord().text());
    EXPECT_EQ(reread->manifestDigest(), sha256Hex("manifest"));
    const platform::FileStamp same{10, 1'700'000'000'123'456'789, 42, 7};
    std::string upper = kMd5;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(reread->vouchedEntry("Kaltris.exe", upper, "", same));
    EXPECT_FALSE(reread->vouchedEntry("Kaltris.exe", md5Hex("other"), "", same));
    EXPECT_FALSE(reread->vouchedEntry("other.exe", kMd5, "", same));
    for (const platform::FileStamp& changed : {platform::FileStamp{11, same.mtimeNs, 42, 7},
                                               platform::FileStamp{10, same.mtimeNs + 1, 42, 7},
                                               platform::FileStamp{10, same.mtimeNs, 43, 7},
                                               platform::FileStamp{10, same.mtimeNs, 42, 8}})
        EXPECT_FALSE(reread->vouchedEntry("Kaltris.exe", kMd5, "", changed));
}

// Entries normally arrive in path order; any other order, or a path given
// again, ends as the same record, with the last entry for that path.
TEST(InstallRecordText, EntriesInAnyOrderMakeTheSameRecordTheLastOfAPathWinning) {
    const auto recordOf = [](const std::vector<std::pair<std::string, std::string>>& entries) {
        InstallRecord record;
        record.addHolder("x.pak", {1, 2, 3, 4});
        for (const auto& [path, contents] : entries) record.addEntry(path, {"x.pak", md5Hex(contents), "", 1, 1});
        return record.text();
    };
    const std::string inOrder = recordOf({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    EXPECT_EQ(recordOf({{"c", "3"}, {"a", "1"}, {"b", "2"}}), inOrder);
    EXPECT_EQ(recordOf({{"a", "1"}, {"b", "old"}, {"c", "3"}, {"b", "2"}}), inOrder);

    const std::string entry = R"(["x.pak",")";
    const std::string tail = R"(",1,1,""])";
    const auto body = R"({"entries":{"b":)" + entry + md5Hex("old") + tail + R"(,"a":)" + entry + md5Hex("1") +
                      tail + R"(,"c":)" + entry + md5Hex("3") + tail + R"(,"b":)" + entry + md5Hex("2") + tail +
                      R"(},"holders":{"x.pak":[1,2,3,4]},"manifest":""})";
    const auto loaded = InstallRecord::fromText(signedBody(body));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->text(), inOrder);
}

TEST(InstallRecordText, AnyRecordThatIsNotWhollyOursIsRefused) {
    const std::string good = sampleRecord().text();
    std::string edited = good;
    edited[edited.size() - 5] ^= 1;
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"cut short", good.substr(0, good.size() - 10)},
        {"one byte edited", edited},
        {"other format", "mendly-install-record 2" + good.substr(23)},
        {"not JSON", signedBody("{not json")},
        {"entry of an unrecorded holder",
         signedBody(R"({"entries":{"a":["b.pak",")" + kMd5 + R"(",1,1,""]},"holders":{},"manifest":""})")},
        {"digest not hex", signedBody(R"({"entries":{"a":["a","xyz",0,0,""]},"holders":{"a":[1,2,3,4]},"manifest":""})")},
        {"stamp of three parts", signedBody(R"({"entries":{},"holders":{"a":[1,2,3]},"manifest":""})")},
    };
    for (const auto& [what, text] : cases) EXPECT_FALSE(InstallRecord::fromText(text)) << what;
}

TEST(RunRecord, LeavesOutHoldersWrittenSinceTheyWereStamped) {
    TempDir install{"run-record"};
    writeFile(install / "a.txt", "a");
    writeFile(install / "b.txt", "b");
    writeFile(install / "c.txt", "c");
    PatchManifest manifest;
    manifest.files = {{"a.txt", md5Hex("a")}, {"b.txt", md5Hex("b")}, {"c.txt", md5Hex("c")}};
    HolderStamps before, after;
    for (const char* name : {"a.txt", "b.txt"}) (void)before.noteNow(name, install / name);
    // c.txt was written by the run and stamped after.
    (void)after.noteNow("c.txt", install / "c.txt");
    // b.txt changes behind the run's back, to a new size.
    writeFile(install / "b.txt", "bb");
    const InstallRecord record =
        buildRunRecord(manifest, "", {0, 1, 2}, install.path(), before, after, {"c.txt"});
    EXPECT_EQ(record.entryCount(), 2u);
    EXPECT_TRUE(record.vouchedEntry("a.txt", md5Hex("a"), "", *platform::fileStamp(install / "a.txt")));
    EXPECT_FALSE(record.vouchedEntry("b.txt", md5Hex("b"), "", *platform::fileStamp(install / "b.txt")));
    EXPECT_TRUE(record.vouchedEntry("c.txt", md5Hex("c"), "", *platform::fileStamp(install / "c.txt")));
}

}  // namespace
}  // namespace mendly
