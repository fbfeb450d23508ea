// The built patch_host as a process: started on an OS-chosen port over a
// temporary folder, fetched from with httpGet, stopped with a signal.
#include "log/text.h"
#include "net/http_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using mendly::httpGet;
using mendly::toWide;
using mendly::test::TempDir;
using mendly::test::writeFile;
using namespace std::chrono_literals;

// Reads from `fd` until `stop` returns true for what was read or `limit` passes.
template <typename Stop>
std::string readUntil(int fd, std::chrono::milliseconds limit, Stop stop) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!stop(text)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const auto n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

class PatchHostProcess {
public:
    explicit PatchHostProcess(std::vector<std::string> args) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), PATCH_HOST_EXE);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, PATCH_HOST_EXE, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~PatchHostProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }

    // The base address the program prints once it listens.
    std::string baseUrl() {
        const std::string line = readUntil(out_, 10s, [](const std::string& t) { return t.find('\n') != std::string::npos; });
        return line.substr(0, line.find('\n'));
    }

    // Sends `signal` and waits for the exit; the exit code, or -1.
    int stop(int signal) {
        ::kill(pid_, signal);
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

    std::string stderrText() {
        return readUntil(err_, 2s, [](const std::string&) { return false; });
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

class PatchHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir / "secret.txt", "must not leave the machine");
        writeFile(dir / "root" / "retail" / "_version._", "4.2.0");
        big.resize(3 * 1024 * 1024 + 5);
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 977);
        writeFile(dir / "root" / "retail" / "data" / "big file.bin", big);
        std::filesystem::create_directories(dir / "root" / "retail" / "folder");
    }

    bool get(const std::string& url) { return httpGet(toWide(url), body, error); }

    TempDir dir;
    std::string big;
    std::string body;
    std::u16string error;
};

TEST_F(PatchHostTest, ServesFilesRefusesTheRestAndStopsOnSigterm) {
    PatchHostProcess host({"--root", (dir / "root").string(), "--port", "0", "--log"});
    const std::string base = host.baseUrl();
    ASSERT_EQ(base.rfind("http://127.0.0.1:", 0), 0u) << base;

    ASSERT_TRUE(get(base + "/retail/_version._")) << mendly::toUtf8(error);
    EXPECT_EQ(body, "4.2.0");
    ASSERT_TRUE(get(base + "/retail/data/big file.bin")) << mendly::toUtf8(error);
    EXPECT_TRUE(body == big);

    const std::u16string missing = u"That file is not on the server right now (HTTP 404)";
    EXPECT_FALSE(get(base + "/retail/folder"));
    EXPECT_EQ(error, missing);
    EXPECT_FALSE(get(base + "/retail/none"));
    EXPECT_EQ(error, missing);
    EXPECT_FALSE(get(base + "/retail/%2e%2e/%2e%2e/secret.txt"));
    EXPECT_EQ(error, missing);

    EXPECT_EQ(host.stop(SIGTERM), 0);
    const std::string log = host.stderrText();
    EXPECT_NE(log.find("GET /retail/_version._ 200"), std::string::npos) << log;
    EXPECT_NE(log.find("GET /retail/none 404"), std::string::npos) << log;
}

TEST_F(PatchHostTest, StopsOnSigint) {
    PatchHostProcess host({"--root", (dir / "root").string(), "--port", "0"});
    ASSERT_FALSE(host.baseUrl().empty());
    EXPECT_EQ(host.stop(SIGINT), 0);
}

TEST_F(PatchHostTest, MissingRootFolderExitsWithCode1) {
    PatchHostProcess host({"--root", (dir / "nope").string(), "--port", "0"});
    EXPECT_EQ(host.baseUrl(), "");
    EXPECT_EQ(host.stop(0), 1);
    EXPECT_NE(host.stderrText().find("is not a folder"), std::string::npos);
}

}  // namespace
