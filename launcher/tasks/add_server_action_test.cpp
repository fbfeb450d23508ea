// The page's Add server against a loopback patch host: the address (or a
// server file's entry) checked on a worker, the refusal sentence handed back,
// the new entry shown and selected.
#include "tasks/add_server_action.h"

#include <gtest/gtest.h>

#include "bridge/recording_page_host_testing.h"
#include "bridge/script_bridge.h"
#include "catalog/entry_confinement.h"
#include "model/fake_shell_opener.h"
#include "model/state_test_fixture.h"
#include "support/loopback_server.h"

namespace mendly {
namespace {

class AddServerAction : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        server.respond("/ember.manifest", 200,
                       R"({"files":[{"md5":"0123456789abcdef0123456789abcdef","relative":"a.bin","size":3}]})");
        server.respond("/empty.manifest", 200, R"({"files":[]})");
        test::writeFile(program / "customlist.json", kList);
        state.applyCatalog(loadUsableCatalog(program.path()));
    }

    // Calls addServer as the page does and runs the UI side until it answers.
    nlohmann::json add(const nlohmann::json& request) {
        nlohmann::json result = "(no answer)";
        EXPECT_TRUE(bridge.dispatch("addServer", nlohmann::json::array({request}),
                                    [&](const nlohmann::json& value) { result = value; }));
        EXPECT_EQ(result, "(no answer)");  // the check runs on a worker
        EXPECT_TRUE(host.deliverDetached(1));
        return result;
    }
    std::size_t indexOf(const std::string& name) const {
        for (std::size_t i = 0; i < state.catalog.entries.size(); ++i)
            if (state.catalog.entries[i].name == name) return i;
        return state.catalog.entries.size();
    }

    static constexpr char kList[] =
        "{ \"servers\": [\n  {\"name\": \"mine\", \"server\": \"aurum\", \"patchBaseUrl\": \"http://127.0.0.1:1\"}\n] }\n";
    test::LoopbackServer server;
    test::RecordingPageHost host;
    test::FakeShellOpener opener;
    ScriptBridge bridge{&state, host, opener};
};

struct RefusalCase {
    const char* name;
    std::string address;  // below the loopback host unless it has a scheme
    const char* outcome;
    const char* sentenceStart;
};

class AddServerRefusal : public AddServerAction, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(AddServerRefusal, IsAnsweredWithItsSentenceAndSavesNothing) {
    const RefusalCase& c = GetParam();
    const std::string address = c.address.find("://") == std::string::npos ? server.url(c.address) : c.address;
    const nlohmann::json answer = add({{"name", c.name}, {"address", address}});
    EXPECT_EQ(answer["added"], false);
    EXPECT_EQ(answer["outcome"], c.outcome);
    EXPECT_EQ(answer["sentence"].get<std::string>().rfind(c.sentenceStart, 0), 0u) << answer.dump();
    EXPECT_EQ(test::readFile(program / "customlist.json"), kList);
    EXPECT_EQ(indexOf(c.name), state.catalog.entries.size());
}

INSTANTIATE_TEST_SUITE_P(
    Page, AddServerRefusal,
    ::testing::Values(
        RefusalCase{"MINE", "/ember", "name", "That name is already in use."},
        RefusalCase{"Down", "http://127.0.0.1:1/ember", "check", "Could not fetch the patch manifest from "},
        RefusalCase{"Nothing", "/nothing", "check", "Could not fetch the patch manifest from "},
        RefusalCase{"Empty", "/empty", "check", "http://127.0.0.1:"},
        RefusalCase{"Ftp", "ftp://127.0.0.1/ember", "address", "The patch address must be an http or https address"}));

TEST_F(AddServerAction, AGoodAddressIsSavedShownAndSelected) {
    const nlohmann::json answer = add({{"name", " Emberfall "}, {"address", server.url("/ember")}});
    EXPECT_EQ(answer, (nlohmann::json{{"added", true}, {"name", "Emberfall"}, {"outcome", "added"}, {"sentence", ""}}));
    const std::string saved = test::readFile(program / "customlist.json");
    EXPECT_NE(saved.find("\"Emberfall\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("{\"name\": \"mine\", \"server\": \"aurum\", \"patchBaseUrl\": \"http://127.0.0.1:1\"}"),
              std::string::npos);  // the player's entry keeps its bytes
    ASSERT_LT(indexOf("Emberfall"), state.catalog.entries.size());
    EXPECT_EQ(state.selected, static_cast<std::int32_t>(indexOf("Emberfall")));
    EXPECT_EQ(server.requestCount("/ember.manifest"), 1u);
}

TEST_F(AddServerAction, ASecondAdditionWhileOneIsCheckedIsRefusedAtOnce) {
    server.setAnswerDelay(std::chrono::milliseconds(300));
    nlohmann::json first;
    nlohmann::json second;
    ASSERT_TRUE(bridge.dispatch("addServer", {{{"name", "One"}, {"address", server.url("/ember")}}},
                                [&](const nlohmann::json& value) { first = value; }));
    ASSERT_TRUE(bridge.dispatch("addServer", {{{"name", "Two"}, {"address", server.url("/ember")}}},
                                [&](const nlohmann::json& value) { second = value; }));
    EXPECT_EQ(second["sentence"], toUtf8(kAddServerInProgress));
    ASSERT_TRUE(host.deliverDetached(1));
    EXPECT_EQ(first["added"], true);
    // Once answered, the next one is taken.
    EXPECT_EQ(add({{"name", "Two"}, {"address", server.url("/ember")}})["added"], true);
}

TEST_F(AddServerAction, WithoutAWorkerOrWithAnArgumentThatIsNoRequestThePageStillGetsASentence) {
    host.threadsFail = true;
    nlohmann::json answer;
    ASSERT_TRUE(bridge.dispatch("addServer", {{{"name", "One"}, {"address", server.url("/ember")}}},
                                [&](const nlohmann::json& value) { answer = value; }));
    EXPECT_EQ(answer["sentence"], toUtf8(kAddServerNoWorker));
    host.threadsFail = false;
    EXPECT_EQ(add(42)["added"], false);  // no name, no address
    EXPECT_EQ(test::readFile(program / "customlist.json"), kList);
}

struct FileRefusalCase {
    const char* label;
    const char* contents;  // nullptr: no file is written
    nlohmann::json fields;  // besides "file", which names the file (made relative when "relative" is set)
    const char* outcome;
    std::string sentenceStart;  // "$FILE" stands for the file's path
};

void PrintTo(const FileRefusalCase& c, std::ostream* out) { *out << c.label; }

class AddServerFileRefusal : public AddServerAction, public ::testing::WithParamInterface<FileRefusalCase> {};

TEST_P(AddServerFileRefusal, IsAnsweredWithItsSentenceAndSavesNothing) {
    const FileRefusalCase& c = GetParam();
    std::string contents = c.contents ? c.contents : "";
    for (std::size_t at; (at = contents.find("$HOST")) != std::string::npos;) contents.replace(at, 5, server.url(""));
    const std::filesystem::path file = program / "handed_out" / "server.json";
    if (c.contents) test::writeFile(file, contents);
    nlohmann::json request = c.fields;
    request["file"] = request.value("relative", false) ? "handed_out/server.json" : file.string();
    request.erase("relative");
    std::string sentence = c.sentenceStart;
    if (const auto at = sentence.find("$FILE"); at != std::string::npos) sentence.replace(at, 5, file.string());

    const nlohmann::json answer = add(request);
    EXPECT_EQ(answer["added"], false);
    EXPECT_EQ(answer["outcome"], c.outcome);
    EXPECT_EQ(answer["sentence"].get<std::string>().rfind(sentence, 0), 0u) << answer.dump();
    EXPECT_EQ(test::readFile(program / "customlist.json"), kList);
    EXPECT_EQ(indexOf("Emberfall"), state.catalog.entries.size());
}

constexpr char kEmberFile[] = R"({"name": "Emberfall", "server": "ember", "patchBaseUrl": "$HOST"})";

INSTANTIATE_TEST_SUITE_P(
    Page, AddServerFileRefusal,
    ::testing::Values(
        FileRefusalCase{"Missing", nullptr, nlohmann::json::object(), "file", "There is no server file at $FILE."},
        FileRefusalCase{"Relative", kEmberFile, {{"relative", true}}, "file",
                        toUtf8(kServerFileNotFullPath)},
        FileRefusalCase{"NoServer", R"({"servers": []})", nlohmann::json::object(), "file",
                        "$FILE is not a server file"},
        FileRefusalCase{"TwoServers",
                        R"({"servers": [{"name": "A", "server": "a", "patchBaseUrl": "http://h"},
                                        {"name": "B", "server": "b", "patchBaseUrl": "http://h"}]})",
                        nlohmann::json::object(), "file", "$FILE is not a server file"},
        FileRefusalCase{"NotJson", "<servers/>", nlohmann::json::object(), "file", "$FILE is not a server file"},
        FileRefusalCase{"WithAName", kEmberFile, {{"name", "Other"}}, "file", toUtf8(kServerFileOrFields)},
        FileRefusalCase{"WithAKey", kEmberFile, {{"key", "S2V5"}}, "file", toUtf8(kServerFileOrFields)},
        FileRefusalCase{"NameInUse", R"({"name": "Mine", "server": "ember", "patchBaseUrl": "$HOST"})",
                        nlohmann::json::object(), "name", "That name is already in use."},
        FileRefusalCase{"NothingServed", R"({"name": "Emberfall", "server": "nothing", "patchBaseUrl": "$HOST"})",
                        nlohmann::json::object(), "check", "Could not fetch the patch manifest from "},
        FileRefusalCase{"ExecutableOutside",
                        R"({"name": "Emberfall", "server": "ember", "patchBaseUrl": "$HOST",
                            "launchExecutable": "../../run.exe"})",
                        nlohmann::json::object(), "executable", "The server's launchExecutable leads out"}),
    [](const ::testing::TestParamInfo<FileRefusalCase>& info) { return std::string(info.param.label); });

TEST_F(AddServerAction, AServerFilesEntryIsSavedInThePlayersFolderWithItsKeyAndSelected) {
    const std::filesystem::path folder = program / "games" / "ember";
    const std::filesystem::path file = program / "server.json";
    test::writeFile(file, R"({"name": "Emberfall", "desc": "Emberfall Main", "server": "ember", "patchBaseUrl": ")" +
                              server.url("") + R"(", "installPath": "/elsewhere", "launchExecutable": "ember.exe"})");
    const nlohmann::json answer = add({{"file", " " + file.string() + " "}, {"folder", folder.string()}});
    EXPECT_EQ(answer, (nlohmann::json{{"added", true}, {"name", "Emberfall"}, {"outcome", "added"}, {"sentence", ""}}));
    ASSERT_LT(indexOf("Emberfall"), state.catalog.entries.size());
    const ServerEntry& saved = state.catalog.entries[indexOf("Emberfall")];
    EXPECT_EQ(saved.desc, "Emberfall Main");
    EXPECT_EQ(saved.launchExecutable, "ember.exe");
    EXPECT_EQ(saved.installPath, folder.string());  // the player's folder, never the file's
    EXPECT_EQ(state.selected, static_cast<std::int32_t>(indexOf("Emberfall")));
    EXPECT_EQ(test::readFile(program / "customlist.json").rfind(std::string(kList).substr(0, 30), 0), 0u);
    EXPECT_EQ(server.requestCount("/ember.manifest"), 1u);
}

}  // namespace
}  // namespace mendly
