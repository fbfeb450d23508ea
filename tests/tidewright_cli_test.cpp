// tidewright run as a program: copied into a fresh program folder, started as a
// child process, judged by its output, exit code and launcher.log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "build_info.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

const std::string kBanner = "Kaltris CLI Updater by the Kaltris Support Team\n\n";
const std::string kUsage =
    "Usage:\n"
    "  tidewright\n"
    "      Show built-in and custom installations.\n"
    "\n"
    "  tidewright --update-all\n"
    "      Update every installed client, including custom servers.\n"
    "\n"
    "  tidewright --update-single <name>\n"
    "      Update one client. If it is not installed yet, install it.\n"
    "\n"
    "  tidewright --verify <name>\n"
    "      Check every file of one client against the server and repair what\n"
    "      differs, whatever the installation's record says.\n"
    "\n"
    "  tidewright --duplicate <name> <new-name>\n"
    "      Copy an installation and add it to customlist.json.\n"
    "\n"
    "  tidewright --delete <name>\n"
    "      Delete a custom installation and remove it from customlist.json.\n"
    "      Built-in servers cannot be deleted.\n"
    "\n"
    "  tidewright --add-server <name> <address> [--key <key>] [--folder <folder>]\n"
    "      Add a server to customlist.json. The address is where the server\n"
    "      publishes its files, for example https://patch.example.org:8080/aurum;\n"
    "      its patch manifest is fetched and checked before anything is saved.\n"
    "      --key: the public key that signs the server's manifests.\n"
    "      --folder: install the client there instead of under clients.\n"
    "  tidewright --add-server <server-file.json> [--folder <folder>]\n"
    "      The same from a server file handed out by the server's operator.\n"
    "\n"
    "  tidewright --version\n"
    "      Show the updater's version.\n"
    "\n"
    "  tidewright --help\n"
    "\n"
    "Options for --update-all, --update-single and --verify:\n"
    "  --limit-rate <rate>\n"
    "      Download at most this many bytes per second, all transfers together;\n"
    "      K, M and G mean 1024, 1024*1024 and 1024*1024*1024 (for example 5M).\n"
    "  --quiet\n"
    "      Print only errors and the summary.\n"
    "  --json\n"
    "      Print one JSON object per line for every event (for scripts).\n";
const std::string kUnrecognized = "Error: Unrecognized command. Run tidewright --help.\n";
const std::string kChecking = "Checking for launcher updates...\n";
const std::string kBuiltInTable =
    "Name    Status         Version  Description\n"
    "retail  Not Installed           Kaltris Nexum 2.5\n"
    "pts     Not Installed           Kaltris Nexum 2.5 - Public Test Server\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Whether every character of `text` fits `pattern`: '9' a decimal digit,
// 'x' a lowercase hexadecimal digit, anything else itself.
bool fits(std::string_view text, std::string_view pattern) {
    if (text.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool digit = c >= '0' && c <= '9';
        if (pattern[i] == '9' ? !digit : pattern[i] == 'x' ? !(digit || (c >= 'a' && c <= 'f')) : c != pattern[i])
            return false;
    }
    return true;
}

// The message of each log line, without its "YYYY-MM-DD HH:MM:SS.mmm " prefix.
std::vector<std::string> logMessages(const std::string& log) {
    constexpr std::string_view stamp = "9999-99-99 99:99:99.999 ";
    std::vector<std::string> out;
    for (const std::string& line : lines(log)) {
        EXPECT_TRUE(fits(std::string_view(line).substr(0, stamp.size()), stamp)) << "unstamped: " << line;
        out.push_back(line.size() >= stamp.size() ? line.substr(stamp.size()) : line);
    }
    return out;
}

class TidewrightProgram : public ::testing::Test {
protected:
    // Copies the built program into `folder` (default: the fixture's program folder).
    fs::path install(const char* built = TIDEWRIGHT_EXE, fs::path folder = {}) {
        if (folder.empty()) folder = dir_.path();
        fs::create_directories(folder);
        const fs::path exe = folder / "tidewright";
        fs::copy_file(built, exe, fs::copy_options::overwrite_existing);
        fs::permissions(exe, fs::perms::owner_all);
        return exe;
    }
    test::ProcessResult run(const fs::path& exe, std::vector<std::string> args) {
        test::ProcessOptions options;
        options.args = std::move(args);
        options.timeLimit = std::chrono::seconds(30);
        test::ProcessResult r = test::runProcess(exe, options);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.err, "");
        return r;
    }
    std::vector<std::string> log(const fs::path& folder) { return logMessages(test::readFile(folder / "launcher.log")); }

    test::TempDir dir_{"tw-program"};
};

TEST_F(TidewrightProgram, HelpWordsPrintBannerAndUsageAsPlainUtf8) {
    const fs::path exe = install();
    for (const char* word : {"--help", "-H", "/?"}) {
        const test::ProcessResult r = run(exe, {word});
        EXPECT_EQ(r.exitCode, 0) << word;
        EXPECT_EQ(r.out, kBanner + kUsage) << word;
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    }
}

TEST_F(TidewrightProgram, HelpFollowedByAnotherArgumentIsUnrecognized) {
    const fs::path exe = install();
    const test::ProcessResult r = run(exe, {"--help", "x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kBanner + kUnrecognized);
    const auto messages = log(dir_.path());
    EXPECT_NE(std::find(messages.begin(), messages.end(), "ERROR: Unrecognized command. Run tidewright --help."),
              messages.end());
}

TEST_F(TidewrightProgram, UnknownWordsAndWrongOperandCountsExitWithOne) {
    const fs::path exe = install();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--frobnicate"}, ""},
        {{"retail"}, ""},
        {{"--update-single"}, "Usage: tidewright --update-single <name>\n"},
        {{"--delete", "a", "b"}, "Usage: tidewright --delete <name>\n"},
        {{"--updte-all", "--skip-self-update"}, "Unknown command \"--updte-all\". Did you mean --update-all?\n"},
        {{"--verison"}, "Unknown command \"--verison\". Did you mean --version?\n"},
    };
    for (const auto& [args, hint] : cases) {
        const test::ProcessResult r = run(exe, args);
        EXPECT_EQ(r.exitCode, 1) << args[0];
        EXPECT_EQ(r.out, kBanner + kUnrecognized + hint) << args[0];
    }
    // The log keeps the error line alone; the hint is for the console.
    const auto messages = log(dir_.path());
    EXPECT_NE(std::find(messages.begin(), messages.end(), "ERROR: Unrecognized command. Run tidewright --help."),
              messages.end());
}

TEST_F(TidewrightProgram, VersionPrintsTheBuildIdentifierWithoutCheckingForUpdates) {
    const fs::path exe = install(TIDEWRIGHT_EMPTY_CATALOG_EXE);  // needs no catalog either
    for (const char* word : {"--version", "--VERSION"}) {
        const test::ProcessResult r = run(exe, {word});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, kBanner + "tidewright version " + buildIdentifierUtf8() + "\n");
    }
    const test::ProcessResult quiet = run(exe, {"--version", "--quiet"});
    EXPECT_EQ(quiet.out, "tidewright version " + std::string(buildIdentifierUtf8()) + "\n");
}

TEST_F(TidewrightProgram, ListWithNothingInstalledShowsBothBuiltInEntries) {
    const fs::path exe = install();
    const test::ProcessResult r = run(exe, {"--skip-self-update"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kBanner + kBuiltInTable);
}


TEST_F(TidewrightProgram, InstalledEntryWithUnreachableHostIsUnknownWithItsLocalVersion) {
    test::TempDir client("tw-client");
    test::writeFile(client / "KaltrisClient.EXE", "MZ");
    test::writeFile(client / "_version._", "KN-2.5.1\n");
    test::writeFile(dir_ / "customlist.json",
                    R"({"servers":[{"name":"mine","desc":"Mine","server":"aurum",)"
                    R"("patchBaseUrl":"http://127.0.0.1:1/","launchExecutable":"kaltrisclient.exe",)"
                    R"("installPath":")" + client.path().string() + R"("}]})");
    const fs::path exe = install();
    const test::ProcessResult r = run(exe, {"--skip-self-update"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kBanner +
                         "Name    Status         Version  Description\n"
                         "retail  Not Installed           Kaltris Nexum 2.5\n"
                         "pts     Not Installed           Kaltris Nexum 2.5 - Public Test Server\n"
                         "mine    Unknown        2.5.1    Mine\n");
}

TEST_F(TidewrightProgram, EmptyCatalogIsAnError) {
    const fs::path exe = install(TIDEWRIGHT_EMPTY_CATALOG_EXE);
    const test::ProcessResult r = run(exe, {"--skip-self-update"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kBanner + "Error: No servers configured.\n");
    const auto messages = log(dir_.path());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[messages.size() - 2], "ERROR: No servers configured.");
    EXPECT_EQ(messages.back(), "launcher exiting");
}

TEST_F(TidewrightProgram, LogRecordsStartVersionAndExit) {
    const fs::path exe = install();
    ASSERT_EQ(run(exe, {"--skip-self-update"}).exitCode, 0);
    const auto messages = log(dir_.path());
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages[0], "launcher.log opened");
    EXPECT_EQ(messages[1], "CLI Updater starting");
    EXPECT_TRUE(fits(messages[2], "CLI Updater version xxxxxxxx")) << messages[2];
    EXPECT_EQ(messages[2], std::string("CLI Updater version ") + buildIdentifierUtf8());
    EXPECT_EQ(messages.back(), "launcher exiting");
}


TEST_F(TidewrightProgram, UncreatableLogIsReportedAndTheRunGoesOn) {
    // A folder in the log file's place cannot be opened as a file, even by root.
    fs::create_directory(dir_ / "launcher.log");
    const fs::path exe = install();
    const test::ProcessResult r = run(exe, {"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Error: Could not create launcher.log in " + dir_.path().string() + "\n" + kBanner + kUsage);
}

TEST_F(TidewrightProgram, ReadOnlyProgramFolderIsReportedAndTheRunGoesOn) {
    const fs::path exe = install();
    // Root writes into read-only folders, so as root the program runs as
    // "nobody" (setpriv), for whom the folder really is read-only.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs setpriv to drop root";
    const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(exe, readOnly);
    fs::permissions(dir_.path(), readOnly);
    const test::ProcessResult r =
        asRoot ? [&] {
            test::ProcessOptions options;
            options.args = {"--reuid=65534", "--regid=65534", "--clear-groups", exe.string(), "--skip-self-update"};
            options.timeLimit = std::chrono::seconds(30);
            return test::runProcess("/usr/bin/setpriv", options);
        }()
               : run(exe, {"--skip-self-update"});
    fs::permissions(dir_.path(), fs::perms::owner_all);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Error: Could not create launcher.log in " + dir_.path().string() + "\n" + kBanner +
                         kBuiltInTable);
    EXPECT_FALSE(fs::exists(dir_ / "launcher.log"));
}

TEST_F(TidewrightProgram, NonAsciiNameSurvivesIntoTheNotFoundError) {
    const fs::path exe = install();
    const test::ProcessResult r = run(exe, {"--skip-self-update", "--update-single", "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kBanner + "Error: No installation named \"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0\".\n"
                               "Known installations: retail, pts\n");
    const auto messages = log(dir_.path());
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "ERROR: No installation named \"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0\"."),
              messages.end());
}

TEST_F(TidewrightProgram, NameOfOnlySpacesIsShownAsTwoQuotationMarks) {
    const fs::path exe = install();
    const test::ProcessResult r = run(exe, {"--update-single", "   ", "--skip-self-update"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kBanner + "Error: No installation named \"\".\nKnown installations: retail, pts\n");
}

TEST_F(TidewrightProgram, UnknownNamesAreFollowedByTheNamesThereAre) {
    test::writeFile(dir_ / "customlist.json",
                    R"({"servers":[{"name":"Mine","server":"s","patchBaseUrl":"http://127.0.0.1:1"},)"
                    R"({"name":"mine","server":"s","patchBaseUrl":"http://127.0.0.1:1"},)"
                    R"({"name":"Caf\u00e9","server":"s","patchBaseUrl":"http://127.0.0.1:1"}]})");
    const fs::path exe = install();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--update-single", "retial"},
         "Error: No installation named \"retial\".\nKnown installations: retail, pts, Mine, Caf\xC3\xA9\n"},
        {{"--verify", "x"}, "Error: No installation named \"x\".\nKnown installations: retail, pts, Mine, Caf\xC3\xA9\n"},
        {{"--duplicate", "x", "y"},
         "Error: No installation named \"x\".\nKnown installations: retail, pts, Mine, Caf\xC3\xA9\n"},
        {{"--delete", "x"}, "Error: No custom installation named \"x\".\nCustom installations: Mine, Caf\xC3\xA9\n"},
    };
    for (const auto& [args, expected] : cases) {
        std::vector<std::string> withSkip = args;
        withSkip.push_back("--skip-self-update");
        const test::ProcessResult r = run(exe, withSkip);
        EXPECT_EQ(r.exitCode, 1) << args[0];
        EXPECT_EQ(r.out, kBanner + expected) << args[0];
    }
}


TEST_F(TidewrightProgram, ProgramFolderWithCyrillicAndSpacesHoldsTheLog) {
    const fs::path folder = dir_ / "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0 caf\xC3\xA9 x";
    const fs::path exe = install(TIDEWRIGHT_EXE, folder);
    const test::ProcessResult r = run(exe, {"--skip-self-update"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kBanner + kBuiltInTable);
    EXPECT_EQ(log(folder).front(), "launcher.log opened");
}

TEST_F(TidewrightProgram, SkipOptionInCapitalsStillParsesButDoesNotSkip) {
    const fs::path exe = install();
    const test::ProcessResult r = run(exe, {"--SKIP-SELF-UPDATE", "--update-all"});
    EXPECT_EQ(r.out.rfind(kBanner + kChecking, 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("Unrecognized command"), std::string::npos) << r.out;
}

TEST_F(TidewrightProgram, LowerCaseSkipOptionSilencesTheUpdateCheck) {
    const fs::path exe = install();
    const test::ProcessResult skipped = run(exe, {"--update-all", "--skip-self-update"});
    EXPECT_EQ(skipped.out.find(kChecking), std::string::npos) << skipped.out;
    EXPECT_EQ(skipped.out.find("Unrecognized command"), std::string::npos) << skipped.out;

    const test::ProcessResult checked = run(exe, {});
    EXPECT_EQ(checked.exitCode, 0);
    EXPECT_EQ(checked.out.rfind(kBanner + kChecking, 0), 0u) << checked.out;
}


}  // namespace
}  // namespace mendly
