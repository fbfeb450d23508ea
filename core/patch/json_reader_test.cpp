#include "patch/json_reader.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "patch/install_record.h"
#include "log/text.h"
#include "patch/manifest_document.h"

namespace mendly {
namespace {

using nlohmann::json;

std::string libraryString(const std::string& text) {
    return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string ourString(std::string_view text) {
    std::string out = "\"";
    appendJsonString(out, text);
    return out + "\"";
}

// Every one- and two-byte string and the awkward longer ones (sequences cut
// short, overlong forms, surrogates, past U+10FFFF) come out as the library
// writes them, and what is valid UTF-8 reads back unchanged.
TEST(JsonText, StringsAreWrittenAsTheLibraryWritesThemAndReadBack) {
    std::vector<std::string> cases;
    for (int a = 0; a < 256; ++a) {
        cases.push_back(std::string(1, static_cast<char>(a)));
        for (int b = 0; b < 256; b += 1) cases.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
    for (const char* text : {"\xE2\x82", "\xE2\x82\xAC", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF0\x9F\x98\x80",
                             "\xF4\x90\x80\x80", "\xF0\x9F\x98", "a\xF0\x9F\x98", "\xC3(\xC3\xA9", "q\"\\/\x7F"})
        cases.push_back(text);
    for (const std::string& text : cases) {
        const std::string written = ourString(text);
        ASSERT_EQ(written, libraryString(text)) << testing::PrintToString(text);
        if (written.find("\xEF\xBF\xBD") != std::string::npos && text.find("\xEF\xBF\xBD") == std::string::npos)
            continue;  // not UTF-8: written replaced
        JsonReader reader(written);
        std::string back;
        ASSERT_TRUE(reader.readString(back) && reader.atEnd()) << testing::PrintToString(text);
        EXPECT_EQ(back, text);
    }
}

struct Document {
    const char* text;
    bool plain;  // the plain reader takes it (otherwise it leaves it to the library)
};

void expectSameManifest(const PatchManifest& a, const PatchManifest& b, const char* text) {
    ASSERT_EQ(a.files.size(), b.files.size()) << text;
    for (std::size_t i = 0; i < a.files.size(); ++i) {
        const ManifestEntry &x = a.files[i], &y = b.files[i];
        EXPECT_EQ(std::tie(x.relative, x.md5, x.sha256, x.size, x.served, x.deltas),
                  std::tie(y.relative, y.md5, y.sha256, y.size, y.served, y.deltas))
            << text << " #" << i;
    }
    EXPECT_EQ(std::tie(a.generated, a.release, a.expires, a.server),
              std::tie(b.generated, b.release, b.expires, b.server))
        << text;
}

// For every document the plain reader takes, the library reads the same
// manifest; it declines what it cannot match exactly, and never takes a
// document the library refuses.
TEST(PlainManifestReader, TakesOnlyWhatTheLibraryReadsTheSame) {
    const std::string sha(64, 'a');
    const std::string withSha = R"({"files":[{"relative":"a.txt","md5":"x","sha256":")" + sha +
                                R"(","size":12,"served":"by/a"}],"release":7,"server":"s","expires":"e","generated":"g"})";
    const std::string d = R"("from":")" + sha + R"(","sha256":")" + sha + R"(")";
    // One good item, then items that lack a field or have one of the wrong
    // kind (left out by both readers), then the list in a wrong form.
    const std::string withDeltas = R"({"files":[{"relative":"a","md5":"x","deltas":[{)" + d +
                                   R"(,"path":"deltas/1","size":9},{)" + d + R"(,"path":"deltas/2"},{)" + d +
                                   R"(,"path":5,"size":1},{)" + d + R"(,"path":"p","size":1,"from":7},7,[]]},)" +
                                   R"({"relative":"b","md5":"x","deltas":{}}]})";
    const Document cases[] = {
        {withSha.c_str(), true},
        {withDeltas.c_str(), true},
        {" {\r\n\t\"files\" : [ ] } \n", true},
        {R"({"files":[{"relative":"a","md5":"x","size":1,"size":"big"}]})", true},  // the last one counts
        {R"({"files":[{"relative":"a","md5":"x"}],"files":[{"relative":"b","md5":"y"}]})", true},
        {R"({"x":{"a":[1,-2,2.5e3,-0.1E-2,true,false,null,"s",{}]},"files":[]})", true},
        {R"({"files":[{"relative":"d\u00e9j\u00e0/\"q\"\\x.txt","md5":"x","u":"\u0001"}]})", true},
        {"{\"files\":[{\"relative\":\"caf\xC3\xA9/\xE2\x82\xAC\",\"md5\":\"x\"}]}", true},
        {R"({"files":[],"release":"7","generated":5,"server":null})", true},
        {R"({"files":[{"relative":"a","md5":"x","size":0}]})", true},
        {R"({"files":[{"relative":"a","md5":"x","size":1.0}]})", false},
        {R"({"files":[{"relative":"a","md5":"x","size":-1}]})", false},
        {R"({"files":[{"relative":"a","md5":"x","size":18446744073709551616}]})", false},
        {R"({"files":[{"relative":"\ud83d\ude00","md5":"x"}]})", false},
        {"\xEF\xBB\xBF{\"files\":[]}", false},
        {R"({"files":[{"relative":5,"relative":"a","md5":"x"}]})", false},
        // Refused by both.
        {R"({"files":[{"relative":"a","md5":"x"},]})", false},
        {R"({"files":[],})", false},
        {R"({"files":[]} x)", false},
        {R"({"files":[] /* c */})", false},
        {R"({"files":[{"relative":"a","md5":"x","size":01}]})", false},
        {"{\"files\":[{\"relative\":\"a\x01\",\"md5\":\"x\"}]}", false},
        {"{\"files\":[{\"relative\":\"\xC3(\",\"md5\":\"x\"}]}", false},
        {R"({"files":[{"relative":"a","md5":"x","sha256":"ab"}]})", false},
        {R"({"files":[{"relative":"a"}]})", false},
        {R"({"files":{}})", false},
        {R"({"files":[1]})", false},
        {R"({"files":[{"relative":"a","md5":"x"})", false},
        {R"([])", false},
        {"", false},
    };
    for (const Document& document : cases) {
        PatchManifest plain, library;
        const bool took = readPlainManifest(document.text, plain);
        EXPECT_EQ(took, document.plain) << document.text;
        if (!took) continue;
        ASSERT_NO_THROW(readManifestDocument(document.text, library)) << document.text;
        expectSameManifest(plain, library, document.text);
    }
}

TEST(PlainManifestReader, DeltasKeepOnlyCompleteItemsAndTheirPathsFollowTheServedRules) {
    const std::string sha(64, 'e');
    const auto document = [&](const std::string& path) {
        return R"({"files":[{"relative":"a","md5":"x","deltas":[{"from":")" + sha + R"(","sha256":")" + sha +
               R"(","size":3,"path":")" + path + R"("},{"from":"short","sha256":")" + sha +
               R"(","size":3,"path":"d"}]}]})";
    };
    PatchManifest manifest;
    std::u16string error;
    ASSERT_TRUE(parseManifest(document("deltas/ab-cd"), manifest, error)) << toUtf8(error);
    ASSERT_EQ(manifest.files[0].deltas.size(), 1u);
    EXPECT_EQ(manifest.files[0].deltas[0], (ManifestDelta{sha, "deltas/ab-cd", 3, sha}));
    for (const std::string bad : {"../up", "a?b", "/abs"}) {
        EXPECT_FALSE(parseManifest(document(bad), manifest, error)) << bad;
        EXPECT_NE(toUtf8(error).find("unusable delta path"), std::string::npos) << toUtf8(error);
    }
}

TEST(PlainManifestReader, NestingDeeperThanItsLimitIsLeftToTheLibrary) {
    const std::size_t depth = JsonReader::kMaxDepth + 8;
    const std::string deep = R"({"files":[],"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
    PatchManifest plain, library;
    EXPECT_FALSE(readPlainManifest(deep, plain));
    EXPECT_NO_THROW(readManifestDocument(deep, library));
}

// The record is the library's compact JSON, names that are not UTF-8
// included, and reads back; an edited or self-contradicting record does not.
TEST(InstallRecordText, IsTheLibrarysJsonAndReadsBack) {
    InstallRecord record;
    record.setManifestDigest(std::string(64, 'c'));
    const platform::FileStamp stamp{123, -5, 18446744073709551615ull, 7};
    const std::string names[] = {"plain.pak", "q\"u\\o/te", "ctl\x01\x1f\t", "caf\xC3\xA9", "bad\xC3(", "cut\xE2\x82"};
    for (const std::string& name : names) {
        record.addHolder(name, stamp);
        record.addEntry(name + "/m", {name, std::string(32, 'a'), std::string(64, 'b'), 4000000000u, 9});
    }
    record.addEntry("no-sha", {"plain.pak", std::string(32, 'd'), "", 0, 0});

    json holders = json::object(), entries = json::object();
    for (const std::string& name : names) {
        holders[name] = json::array({stamp.size, stamp.mtimeNs, stamp.fileId, stamp.volumeId});
        entries[name + "/m"] = json::array({name, std::string(32, 'a'), 4000000000u, 9, std::string(64, 'b')});
    }
    entries["no-sha"] = json::array({"plain.pak", std::string(32, 'd'), 0, 0, ""});
    const json body = {{"manifest", std::string(64, 'c')}, {"holders", holders}, {"entries", entries}};
    const std::string text = record.text();
    EXPECT_EQ(text.substr(text.find('\n') + 1), body.dump(-1, ' ', false, json::error_handler_t::replace));

    const auto back = InstallRecord::fromText(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->text(), text);
    EXPECT_EQ(back->entryCount(), std::size(names) + 1);
    ASSERT_NE(back->standingEntry("caf\xC3\xA9/m", stamp), nullptr);
    EXPECT_EQ(back->standingEntry("caf\xC3\xA9/m", stamp)->storedSize, 4000000000u);
    EXPECT_EQ(back->standingEntry("no-sha", stamp)->sha256, "");

    InstallRecord orphan;
    orphan.addEntry("a", {"missing-holder", std::string(32, 'a'), "", 0, 0});
    EXPECT_FALSE(InstallRecord::fromText(orphan.text()));
}

}  // namespace
}  // namespace mendly
