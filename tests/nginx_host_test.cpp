// A production web server as the host: Debian's nginx, unprivileged on a
// loopback port, over HTTPS with a certificate authority made here and with
// HTTP/2, configured exactly as docs/hosting.md tells operators. tidewright
// self-updates, installs, updates and lists against it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kNginx = "/usr/sbin/nginx";


bool accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// The configuration block of docs/hosting.md, as operators copy it.
std::string documentedConfiguration() {
    const std::string doc = test::readFile(fs::path(MENDLY_SOURCE_DIR) / "docs" / "hosting.md");
    const auto begin = doc.find("```nginx\n", doc.find("<!-- nginx.conf begins -->"));
    const auto end = doc.find("```\n<!-- nginx.conf ends -->");
    if (begin == std::string::npos || end == std::string::npos) return {};
    return doc.substr(begin + 9, end - begin - 9);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

class NginxHost : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is not installed (scripts/setup.sh installs it)";
        makeCertificates();
        std::string conf = documentedConfiguration();
        ASSERT_FALSE(conf.empty()) << "no configuration block in docs/hosting.md";
        replaceAll(conf, "@PORT@", std::to_string(port));
        replaceAll(conf, "@ROOT@", root.path().string());
        replaceAll(conf, "@CERT@", (certs / "server.pem").string());
        replaceAll(conf, "@KEY@", (certs / "server.key").string());
        replaceAll(conf, "@PREFIX@", prefix.path().string());
        test::writeFile(prefix / "nginx.conf", conf);
        // Workers of a server started by root run as "nobody", who may not
        // read these private test folders; the documented file stays as it is.
        std::vector<std::string> args{"-p", prefix.path().string(), "-c", (prefix / "nginx.conf").string(), "-g",
                                      std::string("daemon off;") + (::geteuid() == 0 ? " user root;" : "")};
        ASSERT_TRUE(nginx.start(kNginx, args, prefix.path(), prefix / "nginx.out"));
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        while (!accepts(port) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(accepts(port)) << test::readFile(prefix / "error.log");
    }

    void makeCertificates() {
        const std::string d = certs.path().string();
        run("cd '" + d + "' && openssl req -x509 -newkey ed25519 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=mendly-test-ca 2>/dev/null");
        run("cd '" + d + "' && openssl req -newkey ed25519 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 2>/dev/null");
        test::writeFile(certs / "san.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        run("cd '" + d + "' && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext -out server.pem 2>/dev/null");
    }

    std::string base() const { return "https://127.0.0.1:" + std::to_string(port); }

    void publishClient(const std::string& readme) {
        test::writeFile(client / "kaltrisclient.exe", "client executable");
        test::writeFile(client / "_version._", "Kaltris Nexum-2.5.1\r\n");
        test::writeFile(client / "data" / "readme.txt", readme);
        test::writeFile(client / "worlds" / "map.dat", std::string(20000, 'm'));
        const auto r = test::runProcess(fs::path(TOOLS_DIR) / "publish_patch" / "publish_patch",
                                        {{"--client", client.path().string(), "--server", "demo", "--root",
                                          root.path().string(), "--force", "--sign", test::testSigningKeyFile()},
                                         {},
                                         {},
                                         60s});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    }

    test::ProcessResult tidewright(std::vector<std::string> args) {
        return test::runProcess(program / "tidewright",
                                {std::move(args),
                                 {{"MENDLY_TEST_UPDATE_HOST", base() + "/update"},
                                  {"MENDLY_TEST_CA_FILE", (certs / "ca.pem").string()}},
                                 program.path(),
                                 90s});
    }

    std::uint16_t port = test::unusedLoopbackPort();
    test::TempDir certs{"nginx-certs"};
    test::TempDir prefix{"nginx-prefix"};
    test::TempDir root{"nginx-root"};
    test::TempDir client{"nginx-client"};
    test::TempDir program{"nginx-program"};
    test::ChildProcess nginx;
};

// A readme large enough that its next version travels as a delta.
std::string readmeText(const std::string& greeting) {
    std::string text = greeting + "\n";
    for (unsigned i = 0; i < 2000; ++i) text += "line " + std::to_string(i * 2654435761u % 1000003u) + "\n";
    return text;
}

TEST_F(NginxHost, SelfUpdateInstallUpdateAndListingOverHttp2) {
    publishClient(readmeText("hello"));
    test::TempDir programs{"nginx-programs"};
    const std::string newBuild = test::readFile(TIDEWRIGHT_SIGNED_EXE) + "served by nginx";
    test::writeFile(programs / "tidewright", newBuild);
    const auto published = test::runProcess(
        fs::path(TOOLS_DIR) / "publish_launcher" / "publish_launcher",
        {{"--programs", programs.path().string(), "--root", (root / "update").string(), "--version", "ffffffff",
          "--sign", test::testSigningKeyFile(), "--expires", "2"},
         {},
         {},
         60s});
    ASSERT_EQ(published.exitCode, 0) << published.out << published.err;

    fs::copy_file(TIDEWRIGHT_SIGNED_EXE, program / "tidewright");
    fs::copy_file(KEELSWAP_EXE, program / "keelswap");
    test::writeFile(program / "customlist.json",
                    "{\"servers\":[{\"name\":\"demo\",\"server\":\"demo\",\"patchBaseUrl\":\"" + base() +
                        "\",\"launchExecutable\":\"kaltrisclient.exe\",\"manifestKey\":\"" +
                        publicKeyText(test::testSigningKey().publicKey()) + "\"}]}");

    // Self-update first (the new build takes over in place), then the install.
    auto r = tidewright({"--update-single", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err << test::readFile(program / "launcher.log");
    EXPECT_NE(r.out.find("Updating launcher files. The updater will restart."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Finished demo."), std::string::npos) << r.out;
    EXPECT_EQ(test::readFile(program / "tidewright"), newBuild);
    EXPECT_EQ(test::readFile(program / "clients" / "demo" / "data" / "readme.txt"), readmeText("hello"));

    publishClient(readmeText("hello again"));
    r = tidewright({"--update-single", "demo", "--skip-self-update"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Verify done: 1 file(s) need patching"), std::string::npos) << r.out;
    EXPECT_EQ(test::readFile(program / "clients" / "demo" / "data" / "readme.txt"), readmeText("hello again"));
    EXPECT_NE(test::readFile(program / "launcher.log").find("Rebuilt from a delta: data/readme.txt"), std::string::npos);

    r = tidewright({"--skip-self-update"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("demo +Up To Date +2\\.5\\.1"))) << r.out;

    // From nginx's own log: HTTP/2, and requests that shared a connection.
    const std::string log = test::readFile(prefix / "access.log");
    EXPECT_NE(log.find("HTTP/2.0\" 200"), std::string::npos) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(" [0-9]+ ([2-9]|[1-9][0-9]+) \"GET /demo"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("\"GET /demo/by-sha256/deltas/[0-9a-f-]+ HTTP/2.0\" 200"))) << log;
}

}  // namespace
}  // namespace mendly
