// Appending to customlist.json as text: the player's bytes stay, the new
// entry follows their layout, and anything that is not a server list is
// refused.
#include "catalog/custom_list_splice.h"

#include <gtest/gtest.h>

#include "catalog/json_file.h"
#include "catalog/server_list.h"

namespace mendly {
namespace {

const ServerEntry kNew{"Ember", "Ember", "ember", "https://p.test:8080", "kaltrisclient.exe", "", "a2V5"};

const std::string kNewPretty4 =  // the new object at the indentation of a program-written list
    "    {\n"
    "      \"desc\": \"Ember\",\n"
    "      \"launchExecutable\": \"kaltrisclient.exe\",\n"
    "      \"manifestKey\": \"a2V5\",\n"
    "      \"name\": \"Ember\",\n"
    "      \"patchBaseUrl\": \"https://p.test:8080\",\n"
    "      \"server\": \"ember\"\n"
    "    }";
const std::string kNewCompact =
    R"({"desc":"Ember","launchExecutable":"kaltrisclient.exe","manifestKey":"a2V5","name":"Ember",)"
    R"("patchBaseUrl":"https://p.test:8080","server":"ember"})";

std::string crlf(std::string text) {
    std::string out;
    for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

struct SpliceCase {
    const char* what;
    std::string before;  // customlist.json as the player has it
    std::string after;   // with the new entry
};

TEST(CustomListSplice, TheNewEntryGoesBeforeTheClosingBracketAndEveryOtherByteStays) {
    // A hand-edited entry: members in its own order, an unknown member, an
    // escaped name, odd spacing. None of it may change.
    const std::string mine = "{ \"name\" : \"M\\u00fcne\",  \"server\":\"aurum\", \"patchBaseUrl\":\"https://p.test\","
                             " \"note\": [1, {\"x\": \"]\"}] }";
    const SpliceCase cases[] = {
        {"written by the programs",
         "{\n  \"servers\": [\n" + std::string("    {\n      \"desc\": \"A\",\n      \"name\": \"A\",\n"
                                               "      \"patchBaseUrl\": \"https://p.test\",\n      \"server\": \"s\"\n    }") +
             "\n  ]\n}",
         "{\n  \"servers\": [\n" + std::string("    {\n      \"desc\": \"A\",\n      \"name\": \"A\",\n"
                                               "      \"patchBaseUrl\": \"https://p.test\",\n      \"server\": \"s\"\n    }") +
             ",\n" + kNewPretty4 + "\n  ]\n}"},
        {"hand-edited, other members kept", "{\n  \"servers\": [\n    " + mine + "\n  ]\n}\n",
         "{\n  \"servers\": [\n    " + mine + ",\n" + kNewPretty4 + "\n  ]\n}\n"},
        {"on one line", "{\"servers\":[" + mine + "]}", "{\"servers\":[" + mine + "," + kNewCompact + "]}"},
        {"empty, written by the programs", "{\n  \"servers\": []\n}",
         "{\n  \"servers\": [\n" + kNewPretty4 + "\n  ]\n}"},
        {"empty, on one line", "{\"servers\":[ ]}", "{\"servers\":[" + kNewCompact + "]}"},
        {"CR LF line breaks and a byte-order mark", "\xEF\xBB\xBF" + crlf("{\n  \"servers\": [\n    " + mine + "\n  ]\n}"),
         "\xEF\xBB\xBF" + crlf("{\n  \"servers\": [\n    " + mine + ",\n" + kNewPretty4 + "\n  ]\n}")},
        {"other top-level members around it", "{\"v\": 2, \"servers\": [" + mine + "], \"z\": {\"servers\": []}}",
         "{\"v\": 2, \"servers\": [" + mine + "," + kNewCompact + "], \"z\": {\"servers\": []}}"},
    };
    for (const SpliceCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto spliced = spliceCustomEntry(c.before, kNew);
        ASSERT_TRUE(spliced);
        EXPECT_EQ(*spliced, c.after);
        const auto entries = parseServerList(*spliced);
        ASSERT_TRUE(entries);
        EXPECT_EQ(entries->back(), kNew);
    }
}

TEST(CustomListSplice, ASpliceOfTheProgramsOwnFileIsWhatTheProgramsWouldWrite) {
    const ServerEntry first{"A", "A", "s", "https://p.test", "kaltrisclient.exe", ""};
    nlohmann::json document = nlohmann::json::object();
    document["servers"] = nlohmann::json::array({serverEntryToJson(first)});
    const auto spliced = spliceCustomEntry(*jsonFileText(document), kNew);
    document["servers"].push_back(serverEntryToJson(kNew));
    ASSERT_TRUE(spliced);
    EXPECT_EQ(*spliced, *jsonFileText(document));
}

TEST(CustomListSplice, WhatIsNotAServerListIsRefused) {
    const std::string refused[] = {
        "",
        "   ",
        "{\"servers\":[{\"name\":\"x\"}]}",  // an entry without server: the whole list is rejected
        "{\"servers\":{}}",
        "[]",
        "{\"servers\":[]} trailing",
        "{\"servers\":[] /* comment */}",
        "{\"servers\":[",
    };
    for (const std::string& text : refused) EXPECT_FALSE(spliceCustomEntry(text, kNew)) << text;
    ServerEntry invalid = kNew;
    invalid.desc = "\xC3";  // not UTF-8
    EXPECT_FALSE(spliceCustomEntry("{\"servers\":[]}", invalid));
}

}  // namespace
}  // namespace mendly
