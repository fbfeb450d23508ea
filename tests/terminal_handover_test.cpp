// A self-update started from a terminal keeps the terminal: keelswap and the
// restarted tidewright run in the process the shell started, so Ctrl+C reaches
// the restarted run and its exit code is the one the shell sees.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <mutex>
#include <thread>

#include "hash/digest.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string entryJson(const std::string& name, const std::string& bytes) {
    return "{\"name\":\"" + name + "\",\"sha256\":\"" + sha256Hex(bytes) + "\",\"size\":" +
           std::to_string(bytes.size()) + "}";
}

// Everything the terminal shows, read on a thread of its own until the
// program side closes.
class TerminalOutput {
public:
    explicit TerminalOutput(int master) : master_(master), reader_([this] { read(); }) {}
    ~TerminalOutput() { reader_.join(); }
    std::string text() const {
        const std::lock_guard lock(mutex_);
        return text_;
    }

private:
    void read() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) return;
            const std::lock_guard lock(mutex_);
            text_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    int master_;
    mutable std::mutex mutex_;
    std::string text_;
    std::thread reader_;
};

TEST(TerminalHandover, CtrlCReachesTheRestartedRunAndItsExitCodeIsTheShells) {
    test::TempDir program{"terminal-handover"};
    fs::copy_file(TIDEWRIGHT_LOOPBACK_UPDATE_EXE, program / "tidewright");
    fs::copy_file(KEELSWAP_EXE, program / "keelswap");
    const std::string newBuild = test::readFile(TIDEWRIGHT_LOOPBACK_UPDATE_EXE) + "new build";

    test::TempDir hostRoot{"terminal-handover-host"};
    test::LoopbackServer host;
    host.respond("/latest.json", 200, "{\"version\":\"ffffffff\",\"files\":[" + entryJson("tidewright", newBuild) + "]}");
    host.respond("/tidewright", 200, newBuild);
    test::PatchHostFolder demo{hostRoot.path(), "demo"};
    demo.addFile("kaltrisclient.exe", "client");
    demo.addFile("data/big.bin", "big");
    demo.publish();
    host.serveFolder(hostRoot.path());
    host.streamBody("/demo/data/big.bin", 1024, 50ms, 1 << 20);  // slow enough to interrupt
    test::writeFile(program / "customlist.json",
                    "{\"servers\":[{\"name\":\"demo\",\"server\":\"demo\",\"patchBaseUrl\":\"" + host.baseUrl() +
                        "\",\"launchExecutable\":\"kaltrisclient.exe\"}]}");

    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::chdir(program.path().c_str());
        ::setenv("MENDLY_TEST_UPDATE_HOST", host.baseUrl().c_str(), 1);
        const std::string exe = (program / "tidewright").string();
        ::execl(exe.c_str(), exe.c_str(), "--update-single", "demo", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    bool reaped = false;
    {
        TerminalOutput terminal(master);
        // On an early return the child is ended, so that the reader sees the terminal close.
        const auto cleanup = [&](void*) {
            if (!reaped) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                ::close(master);
            }
        };
        const std::unique_ptr<void, decltype(cleanup)> guard(&status, cleanup);
        ASSERT_TRUE(host.waitForRequests("/demo/data/big.bin", 1, 60s)) << terminal.text();
        const char interrupt = '\x03';  // Ctrl+C, as the terminal driver sees it
        ASSERT_EQ(::write(master, &interrupt, 1), 1);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        reaped = true;
        ::close(master);  // ends the reader
        const std::string text = terminal.text();
        EXPECT_NE(text.find("Updating launcher files. The updater will restart."), std::string::npos) << text;
        EXPECT_NE(text.find("Cancelled."), std::string::npos) << text;
    }
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(test::readFile(program / "tidewright"), newBuild);
}

}  // namespace
}  // namespace mendly
