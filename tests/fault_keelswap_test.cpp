// keelswap killed part-way through a hand-over: while it waits for the caller,
// between two replacements, while it copies a file, and right after it staged
// a new copy of itself. Whatever it leaves (a staging folder, a half-done set
// of replacements, a pending "keelswap.new"), the next start of tidewright
// cleans up and runs, and every program file is either its old or its new
// build, never a torn mix.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/file_event_watch.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/tidewright_sandbox.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

// Files keelswap writes beside a target while it copies (".<name>.keelswap-XXXXXX").
std::vector<std::string> copyLeftovers(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (name.find(".keelswap-") != std::string::npos) found.push_back(name);
    }
    return found;
}

class KeelswapKillFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(KEELSWAP_EXE, keelswap());
        // The "new" builds run like the old ones: an ELF program ignores bytes appended to it.
        oldTidewright = test::readFile(sandbox.program());
        newTidewright = oldTidewright + "new tidewright build";
        oldKeelswap = test::readFile(keelswap());
        newKeelswap = oldKeelswap + "new keelswap build";
        stageNewBuilds();
    }

    // Staged copies are programs: keelswap gives the target the staged file's permissions.
    void stageNewBuilds() const {
        fs::create_directories(staging());
        test::writeFile(staging() / "tidewright", newTidewright);
        test::writeFile(staging() / "keelswap", newKeelswap);
        for (const char* name : {"tidewright", "keelswap"})
            fs::permissions(staging() / name, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                            fs::perm_options::add);
    }

    fs::path keelswap() const { return sandbox.folder() / "keelswap"; }
    fs::path staging() const { return sandbox.folder() / ".launcher_update"; }

    std::vector<std::string> handOver(const std::string& waitPid, bool keelswapFirst = false) const {
        std::vector<std::string> args{"--wait-pid", waitPid};
        const std::vector<std::string> tidewrightJob{"--replace", sandbox.program().string(), "--with",
                                                     (staging() / "tidewright").string()};
        const std::vector<std::string> keelswapJob{"--replace", keelswap().string(), "--with",
                                                   (staging() / "keelswap").string()};
        for (const auto* job : keelswapFirst ? std::vector{&keelswapJob, &tidewrightJob}
                                             : std::vector{&tidewrightJob, &keelswapJob})
            args.insert(args.end(), job->begin(), job->end());
        args.insert(args.end(), {"--cleanup-dir", staging().string(), "--exec",
                                 "\"" + sandbox.program().string() + "\" --skip-self-update"});
        return args;
    }

    bool startKeelswap(test::ChildProcess& child, const std::vector<std::string>& args) const {
        return child.start(keelswap(), args, sandbox.folder(), scratch.path() / "keelswap.txt");
    }

    // The next start of tidewright: it removes the staging folder, puts a
    // pending keelswap in place, and does its normal work.
    void expectNextStartCleansUpAndRuns() {
        const auto r = sandbox.run({});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("Name "), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(staging()));
        EXPECT_FALSE(fs::exists(sandbox.folder() / "keelswap.new"));
        // No warning beyond the one every unsigned build logs.
        std::string log = sandbox.log();
        if (const auto unsigned_ = log.find("WARNING: updates are not signed in this build"); unsigned_ != std::string::npos)
            log.erase(unsigned_, 7);
        EXPECT_EQ(log.find("WARNING"), std::string::npos) << log;
        // keelswap itself still starts (no arguments: usage, exit code 2).
        const auto k = test::runProcess(keelswap(), {{}, {}, sandbox.folder(), std::chrono::seconds(10)});
        EXPECT_EQ(k.exitCode, 2) << k.err;
    }

    void expectEachProgramOldOrNew() const {
        const std::string tw = test::readFile(sandbox.program());
        const std::string ks = test::readFile(keelswap());
        EXPECT_TRUE(tw == oldTidewright || tw == newTidewright) << "tidewright is torn";
        EXPECT_TRUE(ks == oldKeelswap || ks == newKeelswap) << "keelswap is torn";
    }

    test::TidewrightSandbox sandbox{TIDEWRIGHT_EXE};
    test::TempDir scratch{"keelswap-kill"};
    std::string oldTidewright, newTidewright, oldKeelswap, newKeelswap;
};

TEST_F(KeelswapKillFaultTest, KilledWhileWaitingForTheCallerLeavesOnlyTheStagingFolder) {
    test::ChildProcess caller;
    ASSERT_TRUE(caller.start("/bin/sleep", {"30"}, {}, scratch.path() / "sleep.txt"));
    test::ChildProcess swap;
    ASSERT_TRUE(startKeelswap(swap, handOver(std::to_string(caller.pid()))));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(swap.kill());
    EXPECT_EQ(swap.wait(std::chrono::seconds(10)).signal, SIGKILL);
    caller.kill();
    caller.wait(std::chrono::seconds(10));

    EXPECT_EQ(test::readFile(sandbox.program()), oldTidewright);
    EXPECT_EQ(test::readFile(keelswap()), oldKeelswap);
    EXPECT_TRUE(fs::exists(staging()));
    expectNextStartCleansUpAndRuns();
    EXPECT_EQ(test::readFile(sandbox.program()), oldTidewright);
}

TEST_F(KeelswapKillFaultTest, KilledBetweenTwoReplacementsLeavesAWorkingMix) {
    // The second job's staged file is not there yet, so keelswap retries it
    // every 500 ms after the first replacement is done.
    fs::remove(staging() / "keelswap");
    test::ChildProcess swap;
    ASSERT_TRUE(startKeelswap(swap, handOver("0")));
    ASSERT_TRUE(waitFor([&] { return test::readFile(sandbox.program()) == newTidewright; },
                        std::chrono::seconds(10)));
    EXPECT_TRUE(swap.kill());
    swap.wait(std::chrono::seconds(10));

    EXPECT_EQ(test::readFile(keelswap()), oldKeelswap);
    EXPECT_TRUE(fs::exists(staging()));
    expectNextStartCleansUpAndRuns();
    EXPECT_EQ(test::readFile(sandbox.program()), newTidewright);
}

TEST_F(KeelswapKillFaultTest, KilledRightAfterStagingItsOwnCopyHasTheCopyAppliedAtTheNextStart) {
    test::ChildProcess swap;
    std::atomic<bool> staged{false};
    {
        test::FileEventWatch watch(sandbox.folder(), [&](const test::FileEvent& e) {
            if (e.kind == test::FileEvent::Kind::MovedInto && e.relative == "keelswap.new") {
                swap.kill();
                staged = true;
            }
        });
        ASSERT_TRUE(watch.valid());
        ASSERT_TRUE(startKeelswap(swap, handOver("0", /*keelswapFirst=*/true)));
        swap.wait(std::chrono::seconds(20));
    }
    ASSERT_TRUE(staged);
    EXPECT_EQ(test::readFile(sandbox.folder() / "keelswap.new"), newKeelswap);
    EXPECT_EQ(test::readFile(keelswap()), oldKeelswap);

    expectNextStartCleansUpAndRuns();
    EXPECT_EQ(test::readFile(keelswap()), newKeelswap);
    EXPECT_NE(sandbox.log().find("Applied pending keelswap\n"), std::string::npos) << sandbox.log();
}

// Killed while a copy is being written (as its temporary file appears, and as
// it is closed): the target is never torn, and the next start removes the
// half-made copy it left.
TEST_F(KeelswapKillFaultTest, KilledMidCopyNeverTearsTheTarget) {
    int leftovers = 0;
    for (const auto kind : {test::FileEvent::Kind::Created, test::FileEvent::Kind::ClosedAfterWrite}) {
        for (int round = 0; round < 3; ++round) {
            stageNewBuilds();
            test::ChildProcess swap;
            {
                test::FileEventWatch watch(sandbox.folder(), [&](const test::FileEvent& e) {
                    if (e.kind == kind && e.relative.filename().string().find(".keelswap-") != std::string::npos)
                        swap.kill();
                });
                ASSERT_TRUE(watch.valid());
                ASSERT_TRUE(startKeelswap(swap, handOver("0")));
                const auto outcome = swap.wait(std::chrono::seconds(20));
                EXPECT_EQ(outcome.signal, SIGKILL);
            }
            expectEachProgramOldOrNew();
            leftovers += static_cast<int>(copyLeftovers(sandbox.folder()).size());
            expectNextStartCleansUpAndRuns();
            EXPECT_TRUE(copyLeftovers(sandbox.folder()).empty());
            // Start the next round from the old builds.
            test::writeFile(sandbox.program(), oldTidewright);
            fs::permissions(sandbox.program(), fs::perms::owner_all);
        }
    }
    std::cout << "keelswap killed mid-copy 6 times; temporary copies left behind: " << leftovers << "\n";
}

}  // namespace
}  // namespace mendly
