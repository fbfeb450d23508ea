#include "host_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace patch_host {
namespace {

class HostOptionsTest : public ::testing::Test {
protected:
    bool parse(std::vector<const char*> args) {
        args.insert(args.begin(), "patch_host");
        return parseHostOptions(static_cast<int>(args.size()), args.data(), options, error);
    }
    HostOptions options;
    std::string error;
};

TEST_F(HostOptionsTest, RootAloneListensOnLoopbackPort8080) {
    ASSERT_TRUE(parse({"--root", "/srv/patches"})) << error;
    EXPECT_EQ(options.root, "/srv/patches");
    EXPECT_EQ(options.bind, "127.0.0.1");
    EXPECT_EQ(options.port, 8080);
    EXPECT_FALSE(options.logRequests);
}

TEST_F(HostOptionsTest, EveryOptionIsTaken) {
    ASSERT_TRUE(parse({"--log", "--port", "0", "--bind", "::1", "--root", "d", "--delay", "50", "--rate", "2048"}))
        << error;
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.delayMs, 50);
    EXPECT_EQ(options.rate, 2048);
    EXPECT_EQ(options.bind, "::1");
    EXPECT_TRUE(options.logRequests);
}

TEST_F(HostOptionsTest, MissingRootIsRefused) {
    EXPECT_FALSE(parse({"--port", "80"}));
    EXPECT_EQ(error, "--root is required");
}

TEST_F(HostOptionsTest, BadPortsAreRefused) {
    for (const char* port : {"65536", "-1", "80x", ""}) {
        EXPECT_FALSE(parse({"--root", "d", "--port", port})) << port;
        EXPECT_EQ(error, std::string("--port needs a number from 0 to 65535, not \"") + port + "\"");
    }
}

TEST_F(HostOptionsTest, BadDelaysAreRefused) {
    for (const char* delay : {"60001", "-5", "1s"}) {
        EXPECT_FALSE(parse({"--root", "d", "--delay", delay})) << delay;
        EXPECT_EQ(error, std::string("--delay needs milliseconds from 0 to 60000, not \"") + delay + "\"");
    }
}

TEST_F(HostOptionsTest, BadRatesAreRefused) {
    for (const char* rate : {"63", "1000000001", "5M", ""}) {
        EXPECT_FALSE(parse({"--root", "d", "--rate", rate})) << rate;
        EXPECT_EQ(error, std::string("--rate needs bytes per second from 64 to 1000000000, not \"") + rate + "\"");
    }
}

TEST_F(HostOptionsTest, OptionWithoutValueAndUnknownArgumentsAreRefused) {
    EXPECT_FALSE(parse({"--root"}));
    EXPECT_EQ(error, "--root needs a value");
    EXPECT_FALSE(parse({"--root", "d", "--verbose"}));
    EXPECT_EQ(error, "unknown argument \"--verbose\"");
}

}  // namespace
}  // namespace patch_host
